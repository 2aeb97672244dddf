#include "courseware/ftpclient/ftp_data_thread.h"

#include <algorithm>
#include <chrono>

#include "courseware/ftp_data_loops.h"
#include "courseware/ftpclient/FtpClient.h"

namespace {

// Waits are cut into short slices so that a termination request is seen
// quickly even while the server is silent.
constexpr int kSliceMs = 100;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

class SocketChannel : public ftp::DataChannel {
 public:
  SocketChannel(platform::TcpStream& socket, const std::atomic<bool>& stop) : socket_(socket), stop_(stop) {}

  bool waitConnected() {
    auto deadline = Clock::now() + std::chrono::milliseconds(ftp::kStreamTimeoutMs);
    for (;;) {
      if (stop_) return false;
      platform::WaitResult result = socket_.endConnect(std::min(kSliceMs, remainingMs(deadline)));
      if (result == platform::WaitResult::Ready) return true;
      if (result == platform::WaitResult::Failed || remainingMs(deadline) == 0) return false;
    }
  }

  Wait waitForData(int timeoutMs) override {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (stop_) return Wait::TimedOut;
      platform::WaitResult result = socket_.waitReadable(std::min(kSliceMs, remainingMs(deadline)));
      if (result == platform::WaitResult::Ready) return Wait::Ready;
      if (result == platform::WaitResult::Failed) return Wait::Failed;
      if (remainingMs(deadline) == 0) return Wait::TimedOut;
    }
  }

  long read(char* buffer, size_t size) override {
    long n = socket_.receive(buffer, size);
    // Readiness without bytes is rare; wait once more rather than fail.
    if (n < 0 && socket_.wouldBlock() && waitForData(ftp::kDataWaitMs) == Wait::Ready) {
      n = socket_.receive(buffer, size);
    }
    return n;
  }

  long write(const char* data, size_t size) override {
    auto deadline = Clock::now() + std::chrono::milliseconds(ftp::kStreamTimeoutMs);
    size_t written = 0;
    while (written < size) {
      long n = socket_.send(data + written, size - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (!socket_.wouldBlock()) return written > 0 ? static_cast<long>(written) : -1;
      if (stop_ || remainingMs(deadline) == 0) break;
      if (socket_.waitWritable(std::min(kSliceMs, remainingMs(deadline))) == platform::WaitResult::Failed) {
        return written > 0 ? static_cast<long>(written) : -1;
      }
    }
    return static_cast<long>(written);
  }

 private:
  platform::TcpStream& socket_;
  const std::atomic<bool>& stop_;
};

}  // namespace

TReadWriteThread::TReadWriteThread(uint16_t port, const std::string& host, TKorvanFtpClient* connection)
    : Connection(connection) {
  DataSocket.beginConnect(host, port);
}

TReadWriteThread::~TReadWriteThread() {
  terminated_ = true;
  if (worker_.joinable()) worker_.join();
}

void TReadWriteThread::Resume() {
  if (!worker_.joinable()) worker_ = std::thread([this] { Execute(); });
}

void TReadWriteThread::Execute() {
  TKorvanFtp* owner = Connection->Owner;
  // The transfer's mode is fixed before its workers start; a worker that
  // outlives its transfer still acts by the mode it ran under.
  const bool upload = owner->IsUploadMode();
  SocketChannel channel(DataSocket, terminated_);
  ftp::LoopContext context = owner->DataLoopContext(Connection, [this] { return terminated_.load(); });
  try {
    if (!channel.waitConnected()) {
      owner->SetStatus(ftp::kStatusFailed);
      if (!upload) owner->MarkAborted();
    } else if (upload) {
      ftp::sendLoop(channel, context,
                    [owner](char* buffer, size_t size) { return owner->ReadUpload(buffer, size); });
    } else if (owner->DirectToFile()) {
      int64_t start = Connection->BlockStart;
      ftp::receiveLoop(channel, context, [owner, start](int64_t offset, const char* data, size_t size) {
        return owner->WriteShared(start + offset, data, size);
      });
    } else {
      std::string& buffer = Connection->Buffer;
      ftp::receiveLoop(channel, context, [&buffer](int64_t, const char* data, size_t size) {
        buffer.append(data, size);
        return true;
      });
    }
  } catch (...) {
    // Out of memory for a buffered block, for one: the block fails and the
    // download keeps what it has.
    owner->SetStatus(ftp::kStatusFailed);
    if (!upload) owner->MarkAborted();
  }
  DataSocket.close();
  if (terminated_) owner->SetStatus(ftp::kStatusStopped);
  owner->PostDataThreadFinished(Connection->Index);
}
