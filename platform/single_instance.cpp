#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime_dir.h"

namespace platform {

SingleInstanceLock::SingleInstanceLock(const std::string& name, const std::string& folder) : folder_(folder) {
  if (folder_.empty()) {
    const RuntimeDir runtime = runtimeDir();
    folder_ = runtime.path;
    if (!runtime.usable()) {
      outcome_ = Outcome::Refused;
      problem_ = runtime.refusal;
      return;
    }
  }
  const std::string path = folder_ + "/" + name;
  // Close-on-exec, so the companions we start never hold our lock; a link
  // is never followed.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    problem_ = path + ": " + std::strerror(errno);
    return;
  }
  // A file left by an older copy may still be open to others' reading.
  ::fchmod(fd_, 0600);
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    outcome_ = Outcome::Acquired;
    return;
  }
  const int error = errno;
  outcome_ = error == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Failed;
  problem_ =
      path + ": " + (outcome_ == Outcome::HeldElsewhere ? "held by another copy" : std::strerror(error));
  ::close(fd_);
  fd_ = -1;
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the file releases the lock
}

}  // namespace platform
