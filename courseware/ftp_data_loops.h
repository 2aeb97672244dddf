// The receive and send loops of an FTP data connection, apart from the
// socket and the file so that their step rules can be proved on their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace ftp {

// Data moves in chunks of at most this size.
inline constexpr size_t kChunkSize = 65536;
// A receive step waits this long for data before it counts as failed.
inline constexpr int kDataWaitMs = 6000;
// Reads and writes of a data stream give up after this long.
inline constexpr int kStreamTimeoutMs = 30000;
// Failed steps in a row tolerated without a retry handler.
inline constexpr int kToleratedFailures = 10;

// Transfer status as the component reports it.
enum : uint8_t { kStatusOk = 0, kStatusStopped = 1, kStatusFailed = 2 };

// The data connection as the loops see it.
class DataChannel {
 public:
  enum class Wait { Ready, TimedOut, Failed };
  virtual ~DataChannel() = default;
  // Waits until bytes (or the end of the stream) can be read.
  virtual Wait waitForData(int timeoutMs) = 0;
  // Bytes read (> 0), 0 at the end of the stream, < 0 on failure.
  virtual long read(char* buffer, size_t size) = 0;
  // Bytes written within the stream's time-out (0 when none could be),
  // < 0 on failure.
  virtual long write(const char* data, size_t size) = 0;
};

// What a loop shares with its component and connection.
struct LoopContext {
  std::function<bool()> stopRequested;
  // Asks whether to go on after a failed step; empty when the component
  // has no retry handler.
  std::function<bool()> retry;
  std::function<void()> progress;
  std::atomic<uint8_t>* status = nullptr;
  std::atomic<bool>* aborted = nullptr;
  std::atomic<int64_t>* done = nullptr;
  int64_t blockSize = 0;
};

// Keeps `size` received bytes at `offsetInBlock`; false when it cannot.
using BlockWriter = std::function<bool(int64_t offsetInBlock, const char* data, size_t size)>;
// Reads the next bytes to send; the count read, 0 or less when none.
using ChunkReader = std::function<long(char* buffer, size_t size)>;

// Receives the connection's block: bytes past the block are dropped; a
// step without data counts as failed; the end of the stream before the
// block is complete fails the loop (Status 2); a failure to read or keep
// the bytes ends it with Status 2 and marks the transfer aborted so that
// its resume record is kept.
void receiveLoop(DataChannel& channel, const LoopContext& context, const BlockWriter& writer);

// Sends the connection's block. A write that took nothing is a failed
// step; the bytes it did not take are sent again by the next step, so a
// retried step never skips data.
void sendLoop(DataChannel& channel, const LoopContext& context, const ChunkReader& reader);

}  // namespace ftp
