// The service manager's stop (SIGTERM, and SIGINT from a terminal) as an
// event on the UI thread, so the client can end its lesson work in order and
// say so in its log instead of vanishing mid-write.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace platform {

class StopRequestWatch : public QObject {
  Q_OBJECT

 public:
  // Takes over SIGTERM and SIGINT for the process; one watch per process.
  explicit StopRequestWatch(QObject* parent = nullptr);
  ~StopRequestWatch() override;

  // Ends the process with `exitCode` once `ms` milliseconds have passed, from
  // another thread: the last word when a worker holds up the orderly end.
  static void endProcessAfter(int ms, int exitCode);

 signals:
  // "SIGTERM" or "SIGINT"; UI thread.
  void stopRequested(const QString& signalName);

 private:
  void readSignal();

  int readEnd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
