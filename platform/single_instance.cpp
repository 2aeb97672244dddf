#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/runtime_dir.h"

namespace platform {

SingleInstanceLock::SingleInstanceLock(const std::string& name, const std::string& folder) {
  const std::string path = (folder.empty() ? runtimeDir() : folder) + "/" + name;
  // Close-on-exec, so the companions we start never hold our lock; no
  // symlink is followed in a folder that others may write to.
  constexpr int kFlags = O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  fd_ = ::open(path.c_str(), O_RDWR | kFlags, 0644);
  if (fd_ < 0 && errno == EACCES) fd_ = ::open(path.c_str(), O_RDONLY | kFlags, 0644);
  if (fd_ < 0) return;
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    outcome_ = Outcome::Acquired;
    return;
  }
  outcome_ = errno == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Failed;
  ::close(fd_);
  fd_ = -1;
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the file releases the lock
}

}  // namespace platform
