// The auto-upgrader that a login starts when the server announces a newer
// client: it is given the version number and the address of the upgrade
// information file and told to check now. The check fetches that file on a
// thread of its own, so the status window never waits, and leaves one line
// with the outcome in the diagnostic log. It replaces no program file.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

class AutoUpgrader {
 public:
  // Receives the outcome line (GBK) on the thread that made the upgrader.
  using Report = std::function<void(const std::string& line)>;

  explicit AutoUpgrader(Report report);
  // A check still running is cut short and waited for; its line is dropped.
  ~AutoUpgrader();
  AutoUpgrader(const AutoUpgrader&) = delete;
  AutoUpgrader& operator=(const AutoUpgrader&) = delete;

  std::string VersionNumber;
  std::string InfoFileURL;

  // Starts a check with the values above and returns at once. While one
  // runs, a new order makes one more check follow it, with the values as
  // they are when it starts: checks never overlap and none is lost.
  void CheckUpdate();
  bool checking() const { return running_; }

 private:
  void start();
  void finished(const std::string& line);

  Report report_;
  QObject context_;  // the worker's report is queued to this, on our thread
  std::thread worker_;
  std::atomic<bool> cancelled_{false};
  bool running_ = false;
  bool again_ = false;
};
