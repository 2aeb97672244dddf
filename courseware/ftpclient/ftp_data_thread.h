// TReadWriteThread: the worker behind one FTP data connection. The
// connection is begun at once on the creating thread; the worker itself
// starts only when Resume() is called and runs the receive loop (download)
// or the send loop (upload), then closes the data connection and reports
// its end to the component on the component's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/tcp_stream.h"

class TKorvanFtpClient;

class TReadWriteThread {
 public:
  TReadWriteThread(uint16_t port, const std::string& host, TKorvanFtpClient* connection);
  // Asks a running worker to stop and waits for it.
  ~TReadWriteThread();
  TReadWriteThread(const TReadWriteThread&) = delete;
  TReadWriteThread& operator=(const TReadWriteThread&) = delete;

  // False when the data connection could not even be begun.
  bool Connecting() const { return DataSocket.isOpen(); }
  void Resume();
  // Termination is cooperative: the loops test it before each step.
  void Terminate() { terminated_ = true; }
  bool Started() const { return worker_.joinable(); }

  TKorvanFtpClient* const Connection;

 private:
  void Execute();

  platform::TcpStream DataSocket;
  std::atomic<bool> terminated_{false};
  std::thread worker_;
};
