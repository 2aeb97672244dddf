// One client per session: a named lock that the first copy takes and holds
// until it ends, so a second copy can tell that it is not alone and step
// aside. The lock is an exclusive flock on a file of that name in the
// runtime folder; the kernel lets go of it however the holder ends.
#pragma once

#include <string>

namespace platform {

class SingleInstanceLock {
 public:
  enum class Outcome { Acquired, HeldElsewhere, Failed };

  // Takes the lock `name` in `folder` (the runtime folder by default).
  explicit SingleInstanceLock(const std::string& name, const std::string& folder = {});
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }

 private:
  int fd_ = -1;
  Outcome outcome_ = Outcome::Failed;
};

}  // namespace platform
