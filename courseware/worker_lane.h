// One background thread that runs jobs one after another. The upload queue
// hashes and stores on lanes of its own: a job posted while an earlier one
// still winds down (after a cancel) starts only when that one has ended, so
// two stores never run side by side.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace courseware {

class WorkerLane {
 public:
  using CancelFlag = std::shared_ptr<std::atomic<bool>>;
  // A job watches its flag and ends early once it is set.
  using Job = std::function<void(const std::atomic<bool>& cancel)>;

  WorkerLane() = default;
  // Cancels every job and waits for the running one to end.
  ~WorkerLane();
  WorkerLane(const WorkerLane&) = delete;
  WorkerLane& operator=(const WorkerLane&) = delete;

  // Queues `job`; the returned flag cancels it (before or while it runs).
  CancelFlag post(Job job);

 private:
  struct Entry {
    Job job;
    CancelFlag cancel;
  };
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> waiting_;
  CancelFlag running_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace courseware
