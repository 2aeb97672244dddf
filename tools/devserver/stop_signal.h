// Set once when the server is asked to stop; requests that hold, pause or
// wait watch it so that a stop never waits for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace devserver {

class StopSignal {
 public:
  void request() {
    {
      std::lock_guard lock(mutex_);
      requested_ = true;
    }
    changed_.notify_all();
  }

  bool requested() {
    std::lock_guard lock(mutex_);
    return requested_;
  }

  // Waits `ms` milliseconds, or until the stop when `ms` is negative;
  // returns whether the server is stopping.
  bool wait(int ms) {
    std::unique_lock lock(mutex_);
    if (ms < 0) {
      changed_.wait(lock, [this] { return requested_; });
    } else {
      changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return requested_; });
    }
    return requested_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

}  // namespace devserver
