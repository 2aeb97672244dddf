// Keeps the data folder's lesson pictures whole and within bounds.
//
// At start-up (checkAtStartUp, on the UI thread, before anything is sent):
// pictures whose live post a kill or a stop cut off wait again; what a
// killed write left is removed; a waiting picture that is cut off or gone
// is removed and marked missing, so it is never sent.
//
// The retention (runPass: at start-up and after each lesson) reads the
// records on the UI thread, works on the files on a worker
// (picture_retention.h), and back on the UI thread marks the waiting
// pictures it had to remove as discarded, each with a log line.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/picture_retention.h"

class PictureKeeper : public QObject {
  Q_OBJECT

 public:
  using Log = std::function<void(const std::string& line)>;
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // `dataDir` as named on disk (UTF-8); the pictures are in its screen_pic.
  PictureKeeper(std::string dataDir, pictures::RetentionBounds bounds, QObject* parent = nullptr);
  ~PictureKeeper() override;

  void setLog(Log log) { log_ = std::move(log); }
  void setClock(Clock clock) { clock_ = std::move(clock); }

  void checkAtStartUp();
  // Starts a pass on a worker; asked during a pass, one more follows it.
  void runPass();
  bool passRunning() const { return running_; }

 signals:
  // A pass ended and its discarded pictures are marked. UI thread.
  void passEnded(const pictures::RetentionOutcome& outcome);

 private:
  struct Channel;

  void passDone(const pictures::RetentionOutcome& outcome);
  void log(const std::string& line);

  std::string folder_;
  pictures::RetentionBounds bounds_;
  Log log_;
  Clock clock_;
  bool running_ = false;
  bool again_ = false;
  std::shared_ptr<Channel> channel_;
};
