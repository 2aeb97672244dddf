#include "platform/stop_request.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <thread>

namespace platform {
namespace {

// The handler may only write to a pipe; the UI thread reads the other end.
int writeEnd = -1;

void onSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  if (writeEnd >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

StopRequestWatch::StopRequestWatch(QObject* parent) : QObject(parent) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  readEnd_ = ends[0];
  writeEnd = ends[1];
  notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &StopRequestWatch::readSignal);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

StopRequestWatch::~StopRequestWatch() {
  if (readEnd_ < 0) return;
  // A signal from now on ends the process as it would without the watch.
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  notifier_.reset();
  ::close(writeEnd);
  writeEnd = -1;
  ::close(readEnd_);
}

void StopRequestWatch::readSignal() {
  unsigned char byte = 0;
  while (::read(readEnd_, &byte, 1) == 1)
    emit stopRequested(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
}

void StopRequestWatch::endProcessAfter(int ms, int exitCode) {
  std::thread([ms, exitCode] {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::_exit(exitCode);
  }).detach();
}

}  // namespace platform
