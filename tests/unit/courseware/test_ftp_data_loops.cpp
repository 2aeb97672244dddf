#include <gtest/gtest.h>

#include <deque>

#include "courseware/ftp_data_loops.h"

namespace {

// A data connection that follows a script. For reads each step is either
// bytes, a time-out, the end of the stream or a failure; for writes each
// step is how many bytes the write takes (0: none within the time-out,
// -1: failure; an empty script takes everything).
class ScriptedChannel : public ftp::DataChannel {
 public:
  enum class Step { Data, TimedOut, End, Failure };
  struct ReadStep {
    Step step;
    std::string bytes;
  };
  std::deque<ReadStep> reads;
  std::deque<long> writes;
  std::string written;
  int writeCalls = 0;

  Wait waitForData(int) override {
    if (reads.empty() || reads.front().step == Step::TimedOut) {
      if (!reads.empty()) reads.pop_front();
      return Wait::TimedOut;
    }
    return reads.front().step == Step::Failure ? Wait::Failed : Wait::Ready;
  }
  long read(char* buffer, size_t size) override {
    ReadStep next = reads.front();
    reads.pop_front();
    if (next.step == Step::End) return 0;
    size_t n = std::min(size, next.bytes.size());
    std::copy_n(next.bytes.data(), n, buffer);
    return static_cast<long>(n);
  }
  long write(const char* data, size_t size) override {
    ++writeCalls;
    long take = static_cast<long>(size);
    if (!writes.empty()) {
      take = std::min<long>(writes.front(), static_cast<long>(size));
      writes.pop_front();
    }
    if (take > 0) written.append(data, static_cast<size_t>(take));
    return take;
  }
};

struct LoopState {
  std::atomic<uint8_t> status{0};
  std::atomic<bool> aborted{false};
  std::atomic<int64_t> done{0};
  int retries = 0;
  int progressReports = 0;

  ftp::LoopContext context(int64_t blockSize, std::optional<bool> retryAnswer) {
    ftp::LoopContext c;
    c.stopRequested = [] { return false; };
    if (retryAnswer) {
      c.retry = [this, answer = *retryAnswer] {
        ++retries;
        return answer;
      };
    }
    c.progress = [this] { ++progressReports; };
    c.status = &status;
    c.aborted = &aborted;
    c.done = &done;
    c.blockSize = blockSize;
    return c;
  }
};

std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 65536) & 0xFF);
  return bytes;
}

ftp::ChunkReader readerOf(const std::string& source, size_t& position) {
  return [&source, &position](char* buffer, size_t size) {
    size_t n = std::min(size, source.size() - position);
    std::copy_n(source.data() + position, n, buffer);
    position += n;
    return static_cast<long>(n);
  };
}

TEST(FtpSendLoop, RetriedStepResendsWhatTheFailedWriteDidNotTake) {
  const std::string source = pattern(3 * ftp::kChunkSize + 100);
  // Failed writes strike at a chunk's start and in its middle, several times
  // in a row, and after a write that took only part of a chunk.
  ScriptedChannel channel;
  channel.writes = {0, 65536, 1000, 0, 0, 64536, 0, 65536, 0};
  for (bool withRetryHandler : {true, false}) {
    ScriptedChannel run = channel;
    LoopState state;
    size_t position = 0;
    ftp::sendLoop(run,
                  state.context(static_cast<int64_t>(source.size()),
                                withRetryHandler ? std::optional(true) : std::nullopt),
                  readerOf(source, position));
    EXPECT_EQ(run.written, source) << "retry handler: " << withRetryHandler;
    EXPECT_EQ(state.done, static_cast<int64_t>(source.size()));
    EXPECT_EQ(state.status, ftp::kStatusOk);
    EXPECT_EQ(state.retries, withRetryHandler ? 5 : 0);
  }
}

TEST(FtpSendLoop, EndsAfterTooManyFailedStepsOrWhenTheHandlerSaysSo) {
  struct Case {
    const char* name;
    std::optional<bool> retryAnswer;
    int expectedWrites;
  };
  const Case cases[] = {
      {"ten failed steps tolerated, the eleventh ends", std::nullopt, 11},
      {"a handler that declines ends at once", false, 1},
  };
  for (const Case& c : cases) {
    ScriptedChannel channel;
    channel.writes = std::deque<long>(20, 0);
    LoopState state;
    const std::string source = pattern(100);
    size_t position = 0;
    ftp::sendLoop(channel, state.context(100, c.retryAnswer), readerOf(source, position));
    EXPECT_EQ(channel.writeCalls, c.expectedWrites) << c.name;
    EXPECT_EQ(state.status, ftp::kStatusFailed) << c.name;
    EXPECT_EQ(state.done, 0) << c.name;
  }
}

TEST(FtpSendLoop, EmptyBlockSendsNothingAndSucceeds) {
  ScriptedChannel channel;
  LoopState state;
  size_t position = 0;
  std::string empty;
  ftp::sendLoop(channel, state.context(0, std::nullopt), readerOf(empty, position));
  EXPECT_EQ(channel.writeCalls, 0);
  EXPECT_EQ(state.status, ftp::kStatusOk);
}

using Step = ScriptedChannel::Step;

TEST(FtpReceiveLoop, OutcomeOfEachWayABlockCanEnd) {
  struct Case {
    const char* name;
    std::deque<ScriptedChannel::ReadStep> reads;
    std::optional<bool> retryAnswer;
    std::string kept;
    uint8_t status;
    bool aborted;
  };
  auto timeouts = [](int n) { return std::deque<ScriptedChannel::ReadStep>(n, {Step::TimedOut, ""}); };
  auto withData = [](std::deque<ScriptedChannel::ReadStep> steps, std::string bytes) {
    steps.push_back({Step::Data, std::move(bytes)});
    return steps;
  };
  const Case cases[] = {
      {"bytes past the block are dropped",
       {{Step::Data, "0123"}, {Step::Data, "456789ABCD"}},
       std::nullopt,
       "0123456789",
       ftp::kStatusOk,
       false},
      {"ten silent waits are tolerated", withData(timeouts(10), "0123456789"), std::nullopt, "0123456789",
       ftp::kStatusOk, false},
      {"the eleventh silent wait ends the block", withData(timeouts(11), "0123456789"), std::nullopt, "",
       ftp::kStatusFailed, false},
      {"a retry handler keeps the block going", withData(timeouts(15), "0123456789"), true, "0123456789",
       ftp::kStatusOk, false},
      {"a declining retry handler ends it", withData(timeouts(1), "0123456789"), false, "",
       ftp::kStatusFailed, false},
      {"the stream ending early fails the block",
       {{Step::Data, "0123"}, {Step::End, ""}},
       true,
       "0123",
       ftp::kStatusFailed,
       false},
      {"a broken stream aborts the download",
       {{Step::Data, "01"}, {Step::Failure, ""}},
       true,
       "01",
       ftp::kStatusFailed,
       true},
  };
  for (const Case& c : cases) {
    ScriptedChannel channel;
    channel.reads = c.reads;
    LoopState state;
    std::string kept;
    ftp::receiveLoop(channel, state.context(10, c.retryAnswer),
                     [&kept](int64_t offset, const char* data, size_t n) {
                       EXPECT_EQ(offset, static_cast<int64_t>(kept.size()));
                       kept.append(data, n);
                       return true;
                     });
    EXPECT_EQ(kept, c.kept) << c.name;
    EXPECT_EQ(state.done, static_cast<int64_t>(c.kept.size())) << c.name;
    EXPECT_EQ(state.status, c.status) << c.name;
    EXPECT_EQ(state.aborted, c.aborted) << c.name;
  }
}

TEST(FtpReceiveLoop, AFailedWriteAbortsTheDownload) {
  ScriptedChannel channel;
  channel.reads = {{Step::Data, "0123"}};
  LoopState state;
  ftp::receiveLoop(channel, state.context(10, true), [](int64_t, const char*, size_t) { return false; });
  EXPECT_EQ(state.done, 0);
  EXPECT_EQ(state.status, ftp::kStatusFailed);
  EXPECT_TRUE(state.aborted);
}

}  // namespace
