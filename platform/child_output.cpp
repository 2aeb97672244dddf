#include "platform/child_output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {

namespace {

bool spawnWithOutputTo(const std::string& path, int writeEnd, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd, 1);
  posix_spawn_file_actions_adddup2(&actions, writeEnd, 2);
  // Nothing else of ours reaches the tool, the single-instance lock least.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none;
  sigemptyset(&none);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string argv0 = path;
  char* const argv[] = {argv0.data(), nullptr};
  const int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0;
}

}  // namespace

ChildOutput::~ChildOutput() {
  if (pipe_ >= 0) close(pipe_);
  if (!hasExited()) stop();
}

bool ChildOutput::start(const std::string& path) {
  if (pid_ > 0 || pipe_ >= 0) return false;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  const bool started = spawnWithOutputTo(path, ends[1], pid_);
  // Our copy of the write end must go, or the pipe never reports its end.
  close(ends[1]);
  if (!started) {
    pid_ = -1;
    close(ends[0]);
    return false;
  }
  pipe_ = ends[0];
  fcntl(pipe_, F_SETFL, fcntl(pipe_, F_GETFL) | O_NONBLOCK);
  return true;
}

ChildOutput::Read ChildOutput::read(std::string& chunk, size_t maxBytes) {
  chunk.clear();
  if (pipe_ < 0) return Read::Ended;
  chunk.resize(maxBytes);
  ssize_t n;
  while ((n = ::read(pipe_, chunk.data(), maxBytes)) < 0 && errno == EINTR) {
  }
  if (n > 0) {
    chunk.resize(static_cast<size_t>(n));
    return Read::Bytes;
  }
  chunk.clear();
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Read::NothingYet;
  return Read::Ended;
}

bool ChildOutput::hasExited() {
  if (pid_ <= 0) return true;
  int status = 0;
  pid_t done;
  while ((done = waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done == 0) return false;
  pid_ = -1;  // reaped, or not ours to wait for any more
  return true;
}

void ChildOutput::waitForOutput(int ms) {
  if (pipe_ < 0) return;
  pollfd watch{pipe_, POLLIN, 0};
  poll(&watch, 1, ms);
}

void ChildOutput::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace platform
