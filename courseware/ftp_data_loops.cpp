#include "courseware/ftp_data_loops.h"

#include <algorithm>
#include <memory>

namespace ftp {
namespace {

// One failed step. Returns whether the loop goes on.
bool failedStep(const LoopContext& context, int& failCount) {
  if (context.retry) {
    bool again = context.retry();
    context.progress();
    context.status->store(kStatusFailed);
    return again;
  }
  if (failCount >= kToleratedFailures) {
    context.status->store(kStatusFailed);
    context.progress();
    return false;
  }
  ++failCount;
  context.progress();
  return true;
}

void broken(const LoopContext& context, bool markAborted) {
  context.status->store(kStatusFailed);
  if (markAborted) context.aborted->store(true);
}

}  // namespace

void receiveLoop(DataChannel& channel, const LoopContext& context, const BlockWriter& writer) {
  auto buffer = std::make_unique<char[]>(kChunkSize);
  int failCount = 0;
  std::atomic<int64_t>& done = *context.done;
  while (!context.stopRequested()) {
    if (done >= context.blockSize) break;
    DataChannel::Wait wait = channel.waitForData(kDataWaitMs);
    if (context.stopRequested()) break;
    if (wait == DataChannel::Wait::Failed) return broken(context, true);
    if (wait == DataChannel::Wait::TimedOut) {
      if (failedStep(context, failCount)) continue;
      return;
    }
    long n = channel.read(buffer.get(), kChunkSize);
    if (n < 0) return broken(context, true);
    if (n == 0) {
      // The server closed the stream early; reading again cannot help.
      broken(context, false);
      context.progress();
      return;
    }
    failCount = 0;
    context.status->store(kStatusOk);
    int64_t k = std::min<int64_t>(n, context.blockSize - done);
    if (!writer(done, buffer.get(), static_cast<size_t>(k))) return broken(context, true);
    done += k;
    context.progress();
  }
}

void sendLoop(DataChannel& channel, const LoopContext& context, const ChunkReader& reader) {
  auto buffer = std::make_unique<char[]>(kChunkSize);
  size_t pendingStart = 0;
  size_t pendingSize = 0;
  int failCount = 0;
  std::atomic<int64_t>& done = *context.done;
  while (!context.stopRequested()) {
    if (done >= context.blockSize) break;
    if (pendingSize == 0) {
      auto want = static_cast<size_t>(std::min<int64_t>(kChunkSize, context.blockSize - done));
      long n = reader(buffer.get(), want);
      if (n <= 0) return broken(context, false);
      pendingStart = 0;
      pendingSize = static_cast<size_t>(n);
    }
    long written = channel.write(buffer.get() + pendingStart, pendingSize);
    if (written < 0) return broken(context, false);
    if (written == 0) {
      context.status->store(kStatusFailed);
      if (failedStep(context, failCount)) continue;
      return;
    }
    failCount = 0;
    context.status->store(kStatusOk);
    done += written;
    pendingStart += static_cast<size_t>(written);
    pendingSize -= static_cast<size_t>(written);
    context.progress();
  }
}

}  // namespace ftp
