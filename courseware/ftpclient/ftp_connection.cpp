#include "courseware/ftpclient/ftp_connection.h"

#include <QMessageBox>

#include "courseware/ftp_data_loops.h"
#include "courseware/ftpclient/FtpClient.h"
#include "sys/qt_text.h"

namespace {

using ErrorKind = platform::EventSocket::ErrorKind;

std::string errorText(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Send:
      return text::utf8ToGbk("发送数据失败");
    case ErrorKind::Receive:
      return text::utf8ToGbk("返回数据失败");
    case ErrorKind::Connect:
      return text::utf8ToGbk("连接错误");
    case ErrorKind::Disconnect:
      return text::utf8ToGbk("连接已经关闭");
    case ErrorKind::Accept:
      return text::utf8ToGbk("接受请求失败");
    case ErrorKind::General:
    case ErrorKind::Lookup:
      break;
  }
  return "";
}

bool storeSucceeded(int code) { return code == 225 || code == 226 || code == 250; }

}  // namespace

TKorvanFtpClient::TKorvanFtpClient(TKorvanFtp* owner) : Owner(owner) {
  ControlSocket.onRead = [this](const std::string& bytes) { HandleRead(bytes); };
  ControlSocket.onError = [this](ErrorKind kind, int code) { HandleSocketError(kind, code); };
  ControlSocket.onClosed = [this] { LostControlConnection(); };
  dialogueTimer_.setSingleShot(true);
  QObject::connect(&dialogueTimer_, &QTimer::timeout, [this] {
    if (phase_ == Phase::Dialogue) EndWithoutTransfer(ftp::kStatusFailed);
    if (phase_ == Phase::FinalReply) FinishUploadNow(true);
  });
}

TKorvanFtpClient::~TKorvanFtpClient() {
  ControlSocket.close();
  DataThread.reset();
}

void TKorvanFtpClient::SendCommand(const std::string& verb, const std::string& argument) {
  if (!ControlSocket.isOpen()) ControlSocket.open(Host, Port);
  ControlSocket.send(verb + " " + argument + "\r\n");
}

void TKorvanFtpClient::Open() {
  phase_ = Phase::Dialogue;
  replies_.clear();
  ControlSocket.open(Host, Port);
  RestartDialogueTimer();
}

void TKorvanFtpClient::Retire() {
  phase_ = Phase::Ended;
  dialogueTimer_.stop();
  ControlSocket.close();
  if (DataThread && !DataThread->Started()) DataThread.reset();
}

void TKorvanFtpClient::RestartDialogueTimer() {
  if (phase_ == Phase::Dialogue) dialogueTimer_.start(Owner->DialogueTimeoutMs());
}

void TKorvanFtpClient::HandleRead(const std::string& bytes) {
  replies_.feed(bytes);
  while (phase_ == Phase::Dialogue || phase_ == Phase::Transfer || phase_ == Phase::FinalReply) {
    std::optional<ftp::Reply> reply = replies_.next();
    if (!reply) break;
    HandleReply(*reply);
  }
}

void TKorvanFtpClient::HandleReply(const ftp::Reply& reply) {
  if (phase_ == Phase::Transfer || phase_ == Phase::FinalReply) return HandleTransferReply(reply);
  switch (reply.code) {
    case 220:
      SendCommand("USER", UserName);
      break;
    case 331:
      SendCommand("PASS", Password);
      break;
    case 230:
      SendCommand("CWD", RemoteDir);
      break;
    case 250:
      SendCommand("TYPE", "i");
      break;
    case 200:
      SendCommand("PASV", "");
      break;
    case 227:
      return HandlePassiveReply(reply);
    case 213:
      if (!Owner->IsUploadMode()) return HandleSizeReply(reply);
      return;
    case 350:
      if (Owner->IsUploadMode()) return;
      ResumeDataThread();
      SendCommand("RETR", RemoteFileName);
      if (Index == 0) Owner->MarkDataStarted();
      return;
    case 125:  // "data connection already open" starts a store just as 150 does
    case 150:
      if (!Owner->IsUploadMode()) return;
      ResumeDataThread();
      Owner->MarkDataStarted();
      return;
    default:
      // Not a step of the dialogue: the connection waits, but no longer
      // than the dialogue's time-out.
      return;
  }
  RestartDialogueTimer();
}

void TKorvanFtpClient::HandlePassiveReply(const ftp::Reply& reply) {
  std::optional<uint16_t> port = ftp::parsePassivePort(reply.text);
  if (!port) return EndWithoutTransfer(ftp::kStatusFailed);
  if (!DataThread) {
    // The data connection goes to the server this connection talks to,
    // whatever address the reply names.
    std::string address = ControlSocket.peerAddress();
    DataThread = std::make_unique<TReadWriteThread>(*port, address.empty() ? Host : address, this);
    if (!DataThread->Connecting()) return EndWithoutTransfer(ftp::kStatusFailed);
  }
  if (Owner->IsUploadMode()) {
    SendCommand("STOR", RemoteFileName);
  } else if (Index != 0 || BlockSize > 0) {
    if (Index == 0) OpenOtherConnections();
    int64_t start = 0;
    for (int i = 0; i < Index; ++i) {
      if (TKorvanFtpClient* lower = Owner->Connection(i)) start += lower->BlockSize;
    }
    StartBlock(start);
  } else {
    SendCommand("SIZE", RemoteFileName);
  }
  RestartDialogueTimer();
}

void TKorvanFtpClient::HandleSizeReply(const ftp::Reply& reply) {
  std::optional<int64_t> size = ftp::parseSizeReply(reply.text);
  if (!size) return EndWithoutTransfer(ftp::kStatusFailed);
  Owner->SetRemoteSize(*size);
  if (*size <= 0) return Owner->FinishDownload();
  if (Owner->DirectToFile() && !Owner->SetSharedFileSize(*size))
    return EndWithoutTransfer(ftp::kStatusFailed);
  auto count = static_cast<int64_t>(Owner->SlotCount());
  int64_t block = *size / count;
  for (int i = 1; i < count; ++i) {
    if (TKorvanFtpClient* other = Owner->Connection(i)) other->BlockSize = block;
  }
  // The remainder of the division stays with connection 0.
  BlockSize = *size - (count - 1) * block;
  OpenOtherConnections();
  StartBlock(0);
  RestartDialogueTimer();
}

void TKorvanFtpClient::StartBlock(int64_t start) {
  BlockStart = start;
  int64_t offset = start + Done;
  SendCommand("REST", std::to_string(offset));
  Owner->RaiseBlockStart(this, Index, offset, BlockSize - Done);
}

void TKorvanFtpClient::OpenOtherConnections() {
  for (int i = 1; i < Owner->SlotCount(); ++i) {
    TKorvanFtpClient* other = Owner->Connection(i);
    if (!other || !other->IsIdle()) continue;
    other->Host = Host;
    other->Port = Port;
    other->Open();
  }
}

void TKorvanFtpClient::ResumeDataThread() {
  if (!DataThread) return EndWithoutTransfer(ftp::kStatusFailed);
  dialogueTimer_.stop();
  phase_ = Phase::Transfer;
  DataThread->Resume();
}

void TKorvanFtpClient::HandleTransferReply(const ftp::Reply& reply) {
  // After RETR the server's words change nothing: the data decides.
  if (!Owner->IsUploadMode() || reply.code < 200) return;
  finalReply_ = reply.code;
  if (phase_ == Phase::FinalReply) FinishUploadNow(!storeSucceeded(reply.code));
}

void TKorvanFtpClient::DataThreadFinished() {
  DataThread.reset();
  if (phase_ != Phase::Transfer) return;
  if (!Owner->IsUploadMode()) {
    phase_ = Phase::Ended;
    return Owner->ConnectionEnded(this);
  }
  // The upload is only done once the server confirms it has the whole file.
  if (Owner->Status() != ftp::kStatusOk || finalReply_ != 0) {
    return FinishUploadNow(finalReply_ != 0 && !storeSucceeded(finalReply_));
  }
  phase_ = Phase::FinalReply;
  dialogueTimer_.start(Owner->DialogueTimeoutMs());
}

void TKorvanFtpClient::FinishUploadNow(bool failed) {
  if (phase_ == Phase::Ended) return;
  if (failed) Owner->SetStatus(ftp::kStatusFailed);
  phase_ = Phase::Ended;
  dialogueTimer_.stop();
  Owner->ConnectionEnded(this);
}

void TKorvanFtpClient::EndWithoutTransfer(uint8_t status) {
  if (phase_ == Phase::Ended) return;
  Owner->SetStatus(status);
  // A download without this block cannot be complete: keep its record.
  if (!Owner->IsUploadMode()) Owner->MarkAborted();
  Retire();
  Owner->PostConnectionEnded(Index);
}

void TKorvanFtpClient::LostControlConnection() {
  switch (phase_) {
    case Phase::Dialogue:
      return EndWithoutTransfer(ftp::kStatusFailed);
    case Phase::Transfer:
      // Without its control connection an upload cannot be confirmed.
      if (Owner->IsUploadMode() && finalReply_ == 0) finalReply_ = -1;
      return;
    case Phase::FinalReply:
      return FinishUploadNow(true);
    default:
      return;
  }
}

void TKorvanFtpClient::HandleSocketError(ErrorKind kind, int& errorCode) {
  Owner->RaiseError(kind, errorCode);
  if (errorCode != 0) {
    // Shown once the event is over, so that the connection can be released
    // while the box is open.
    QString message = text::toQString(errorText(kind));
    QMetaObject::invokeMethod(
        Owner,
        [message] {
          QMessageBox box(QMessageBox::Critical, text::toQString(text::utf8ToGbk("错误")), message,
                          QMessageBox::Ok);
          box.exec();
        },
        Qt::QueuedConnection);
    errorCode = 0;
  }
  LostControlConnection();
}
