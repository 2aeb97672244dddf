// TKorvanFtpClient: one FTP control connection of the multi-connection
// component. Its socket is event-driven; each whole reply from the server
// moves a small dialogue on by its reply code, on the component's thread.
#pragma once

#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "courseware/ftp_reply.h"
#include "courseware/ftpclient/ftp_data_thread.h"
#include "platform/network/event_socket.h"

class TKorvanFtp;

class TKorvanFtpClient {
 public:
  explicit TKorvanFtpClient(TKorvanFtp* owner);
  // Closes the control socket (no QUIT is sent) and drops the data thread.
  ~TKorvanFtpClient();
  TKorvanFtpClient(const TKorvanFtpClient&) = delete;
  TKorvanFtpClient& operator=(const TKorvanFtpClient&) = delete;

  // Sends "verb argument" CR LF, opening the control socket first when it
  // is not open; an empty argument still leaves the blank.
  void SendCommand(const std::string& verb, const std::string& argument);
  // Opens the control connection; the server's greeting starts the dialogue.
  void Open();
  // Ends this connection's part before its data thread ran: on Cancel
  // (status 1) or when the dialogue cannot go on (status 2).
  void EndWithoutTransfer(uint8_t status);
  // The data thread has ended (called on the component's thread).
  void DataThreadFinished();
  // Takes the connection out of service: no more events, timers or sends.
  void Retire();

  bool IsIdle() const { return phase_ == Phase::Idle; }
  bool InDialogue() const { return phase_ == Phase::Dialogue; }

  platform::EventSocket ControlSocket;
  // The block's bytes in buffered mode.
  std::string Buffer;
  // Bytes this connection is responsible for, and of those received or sent.
  int64_t BlockSize = 0;
  std::atomic<int64_t> Done{0};
  // Where the block starts in the file; fixed when the block starts.
  int64_t BlockStart = 0;
  TKorvanFtp* const Owner;
  int Index = 0;
  std::unique_ptr<TReadWriteThread> DataThread;
  std::string UserName, Password, RemoteDir, RemoteFileName, Host;
  uint16_t Port = 21;

 private:
  enum class Phase { Idle, Dialogue, Transfer, FinalReply, Ended };

  void HandleRead(const std::string& bytes);
  void HandleReply(const ftp::Reply& reply);
  void HandleSocketError(platform::EventSocket::ErrorKind kind, int& errorCode);
  void HandlePassiveReply(const ftp::Reply& reply);
  void HandleSizeReply(const ftp::Reply& reply);
  void HandleTransferReply(const ftp::Reply& reply);
  void StartBlock(int64_t offset);
  void OpenOtherConnections();
  void ResumeDataThread();
  void LostControlConnection();
  void RestartDialogueTimer();
  void FinishUploadNow(bool failed);

  ftp::ReplyReader replies_;
  QTimer dialogueTimer_;
  Phase phase_ = Phase::Idle;
  // Upload: the server's reply after the data (0 while none came).
  int finalReply_ = 0;
};
