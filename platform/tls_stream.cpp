#include "platform/tls_stream.h"

#include <chrono>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

bool TlsStream::startTls(const std::string& host, int port, const TlsStream* resumeFrom, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  session_ = std::make_unique<TlsSession>(host, port, resumeFrom ? resumeFrom->session_.get() : nullptr);
  for (;;) {
    const TlsSession::Step step = session_->handshake();
    if (!flushAll(msLeft(deadline))) {
      failure_ = "connection broke during the TLS handshake";
      return false;
    }
    if (step == TlsSession::Step::Done) return true;
    if (step == TlsSession::Step::Failed) {
      failure_ = session_->failure();
      return false;
    }
    if (tcp_.waitReadable(msLeft(deadline)) != WaitResult::Ready) {
      failure_ = "no answer during the TLS handshake";
      return false;
    }
    if (pull() < 0 && !tcp_.wouldBlock()) {
      failure_ = "connection broke during the TLS handshake";
      return false;
    }
  }
}

long TlsStream::pull() {
  char buffer[16384];
  const long count = tcp_.receive(buffer, sizeof buffer);
  if (count > 0) session_->putIncoming(std::string_view(buffer, static_cast<size_t>(count)));
  if (count == 0) session_->peerClosed();
  return count;
}

bool TlsStream::flush() {
  session_->takeOutgoing(outgoing_);
  while (!outgoing_.empty()) {
    const long sent = tcp_.send(outgoing_.data(), outgoing_.size());
    if (sent <= 0) return tcp_.wouldBlock();
    outgoing_.erase(0, static_cast<size_t>(sent));
  }
  return true;
}

bool TlsStream::flushAll(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!flush()) return false;
    if (outgoing_.empty()) return true;
    if (tcp_.waitWritable(msLeft(deadline)) != WaitResult::Ready) return false;
  }
}

WaitResult TlsStream::waitReadable(int timeoutMs) {
  if (secure() && session_->pending()) return WaitResult::Ready;
  return tcp_.waitReadable(timeoutMs);
}

WaitResult TlsStream::waitWritable(int timeoutMs) { return tcp_.waitWritable(timeoutMs); }

long TlsStream::receive(char* buffer, size_t size) {
  wouldBlock_ = false;
  if (!session_) {
    const long count = tcp_.receive(buffer, size);
    wouldBlock_ = tcp_.wouldBlock();
    return count;
  }
  for (;;) {
    const long count = session_->read(buffer, size);
    if (count > 0) return count;
    if (count < 0) {
      // The peer's closing alert, or the connection's end without one:
      // either way nothing more comes.
      if (!session_->failure().empty()) failure_ = session_->failure();
      return session_->endedCleanly() || session_->failure().empty() ? 0 : -1;
    }
    flush();
    const long pulled = pull();
    if (pulled < 0) {
      wouldBlock_ = tcp_.wouldBlock();
      return -1;
    }
  }
}

long TlsStream::send(const char* data, size_t size) {
  wouldBlock_ = false;
  if (!session_) {
    const long count = tcp_.send(data, size);
    wouldBlock_ = tcp_.wouldBlock();
    return count;
  }
  // One piece at a time: a new one is taken once the last has left.
  if (!flush()) return -1;
  if (!outgoing_.empty()) {
    wouldBlock_ = true;
    return -1;
  }
  if (!session_->write(std::string_view(data, size))) {
    failure_ = session_->failure();
    return -1;
  }
  if (!flush()) return -1;
  return static_cast<long>(size);
}

std::string TlsStream::errorText() const { return failure_.empty() ? tcp_.errorText() : failure_; }

bool TlsStream::shutdownSend(int timeoutMs) {
  if (!secure()) {
    tcp_.shutdownSend();
    return true;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  session_->close();
  const bool whole = flushAll(timeoutMs);
  tcp_.shutdownSend();
  // The peer's records still on their way (a session ticket, its own
  // closing alert) are read to the end: closing a socket with unread bytes
  // resets the connection, and the peer would take the transfer for broken.
  char scratch[16384];
  while (whole && tcp_.waitReadable(msLeft(deadline)) == WaitResult::Ready) {
    const long count = tcp_.receive(scratch, sizeof scratch);
    if (count == 0 || (count < 0 && !tcp_.wouldBlock())) break;
  }
  return whole;
}

void TlsStream::close() {
  session_.reset();
  outgoing_.clear();
  tcp_.close();
}

}  // namespace platform
