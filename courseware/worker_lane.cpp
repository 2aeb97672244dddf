#include "courseware/worker_lane.h"

namespace courseware {

WorkerLane::~WorkerLane() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (Entry& entry : waiting_) entry.cancel->store(true);
    if (running_) running_->store(true);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

WorkerLane::CancelFlag WorkerLane::post(Job job) {
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard lock(mutex_);
    waiting_.push_back({std::move(job), cancel});
    // The thread comes with the first job, so a lane never used costs
    // nothing.
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  wake_.notify_one();
  return cancel;
}

void WorkerLane::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    Entry entry = std::move(waiting_.front());
    waiting_.pop_front();
    running_ = entry.cancel;
    lock.unlock();
    // A job cancelled while it waited still runs: it sees its flag at once
    // and reports nothing, so the caller's bookkeeping stays in one place.
    entry.job(*entry.cancel);
    lock.lock();
    running_.reset();
  }
}

}  // namespace courseware
