// One client per session: a named lock that the first copy takes and holds
// until it ends, so a second copy can tell that it is not alone and step
// aside. The lock is an exclusive flock on a file of that name (mode 0600,
// opened for writing only, so nobody who may merely read it can hold it) in
// the runtime folder; the kernel lets go of it however the holder ends.
#pragma once

#include <string>

namespace platform {

class SingleInstanceLock {
 public:
  // Refused: the runtime folder is not this user's own (see runtimeDir).
  enum class Outcome { Acquired, HeldElsewhere, Failed, Refused };

  // Takes the lock `name` in `folder` (the runtime folder by default).
  explicit SingleInstanceLock(const std::string& name, const std::string& folder = {});
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }
  // What went wrong unless Acquired (plain ASCII, for the log).
  const std::string& problem() const { return problem_; }
  // The folder of the lock file, also when it was refused.
  const std::string& folder() const { return folder_; }

 private:
  int fd_ = -1;
  Outcome outcome_ = Outcome::Failed;
  std::string problem_;
  std::string folder_;
};

}  // namespace platform
