#include "courseware/FtpClient.h"

#include <QFile>
#include <filesystem>
#include <fstream>

#include "courseware/ftp_data_loops.h"
#include "courseware/ftp_resume_record.h"
#include "sys/text_codec.h"

namespace {

// Where a file named in client text lives on this system's disk.
std::string diskPath(const std::string& clientName) { return text::gbkToUtf8(clientName); }

std::string recordPath(const std::string& localFileName) {
  return diskPath(localFileName + std::string(ftp::kRecordSuffix));
}

std::unique_ptr<QFile> openFile(const std::string& path, QIODevice::OpenMode mode) {
  auto file = std::make_unique<QFile>(QString::fromStdString(path));
  if (!file->open(mode | QIODevice::Unbuffered)) return nullptr;
  return file;
}

}  // namespace

TKorvanFtp::TKorvanFtp(QObject* owner) : QObject(owner) {
  // The store starts from what an earlier run left in "~temp.cfg", if any;
  // it is never written back.
  std::ifstream saved("~temp.cfg", std::ios::binary);
  if (saved) {
    std::string content((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    Settings.load(content);
  }
  SetConnectionCount(2);
}

TKorvanFtp::~TKorvanFtp() {
  // Workers may still be running: stop them and wait before anything they
  // use goes away.
  for (auto& connection : Connections) {
    if (connection && connection->DataThread) connection->DataThread->Terminate();
  }
  Connections.clear();
  retired_.clear();
}

void TKorvanFtp::SetConnectionCount(int n) {
  if (n < 1 || n == ConnectionCount) return;
  ConnectionCount = n;
  if (!IsBusy()) Connections.resize(static_cast<size_t>(n));
}

bool TKorvanFtp::IsBusy() const {
  for (const auto& connection : Connections) {
    if (connection && connection->ControlSocket.isOpen()) return true;
  }
  return false;
}

void TKorvanFtp::Cancel() {
  Aborted = true;
  if (UploadMode) {
    TKorvanFtpClient* first = Connection(0);
    if (first && first->DataThread) first->DataThread->Terminate();
    if (first && first->InDialogue()) first->EndWithoutTransfer(ftp::kStatusStopped);
    return;
  }
  for (auto& connection : Connections) {
    if (!connection) continue;
    if (connection->DataThread) connection->DataThread->Terminate();
    // A connection still talking to the server has no worker to stop yet:
    // its part ends here rather than after a block nobody wants.
    if (connection->InDialogue() && !(connection->DataThread && connection->DataThread->Started())) {
      connection->EndWithoutTransfer(ftp::kStatusStopped);
    }
  }
}

TKorvanFtpClient* TKorvanFtp::Connection(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= Connections.size()) return nullptr;
  return Connections[static_cast<size_t>(index)].get();
}

bool TKorvanFtp::PrepareTransfer(const FtpEndpoint& endpoint, int connectionCount) {
  Connections.clear();
  Connections.resize(static_cast<size_t>(connectionCount));
  for (int i = 0; i < connectionCount; ++i) {
    auto connection = std::make_unique<TKorvanFtpClient>(this);
    connection->Index = i;
    connection->Host = endpoint.host;
    connection->Port = endpoint.port;
    connection->UserName = endpoint.userName;
    connection->Password = endpoint.password;
    connection->RemoteDir = endpoint.remoteDir;
    connection->RemoteFileName = endpoint.remoteFileName;
    Connections[static_cast<size_t>(i)] = std::move(connection);
  }
  Aborted = false;
  Status = ftp::kStatusOk;
  FinishedCount = 0;
  StartTick = std::chrono::steady_clock::now();
  progressPending_ = false;
  sizeKnown_ = false;
  ++transfer_;
  active_ = true;
  return true;
}

bool TKorvanFtp::StartDownload(const FtpEndpoint& endpoint, const std::string& localFileName,
                               bool directToFile) {
  if (active_ || IsBusy()) return false;
  LocalFileName = localFileName;
  DirectToFile = directToFile;
  UploadMode = false;
  FileSize = 0;
  ResumeBase = 0;
  if (DirectToFile) {
    FileStream = openFile(recordPath(LocalFileName), QIODevice::ReadWrite | QIODevice::Truncate);
    if (!FileStream) return false;
  }
  PrepareTransfer(endpoint, ConnectionCount);
  Connections[0]->Open();
  return true;
}

bool TKorvanFtp::LoadResumeData(const std::string& path, int64_t dataLength, bool sharedLayout) {
  if (sharedLayout) {
    FileStream = openFile(path, QIODevice::ReadWrite);
    // Drops the trailer: blocks are written in place up to FileSize.
    return FileStream && FileStream->resize(FileSize);
  }
  auto file = openFile(path, QIODevice::ReadOnly);
  if (!file) return false;
  for (auto& connection : Connections) {
    connection->Buffer.resize(static_cast<size_t>(connection->Done.load()));
    if (file->read(connection->Buffer.data(), connection->Done) != connection->Done) return false;
  }
  return file->pos() == dataLength;
}

bool TKorvanFtp::ResumeDownload(const FtpEndpoint& endpoint, const std::string& localFileName) {
  if (active_ || IsBusy()) return false;
  std::string path = recordPath(localFileName);
  std::optional<ftp::ResumeRecord> record = ftp::readResumeRecord(path);
  if (!record) return false;
  int64_t recordedSize = 0;
  for (const ftp::BlockState& block : record->blocks) recordedSize += block.blockSize;
  // A record of a download that never learnt its size holds nothing to resume.
  if (recordedSize == 0) return false;
  auto count = static_cast<int>(record->blocks.size());
  LocalFileName = localFileName;
  DirectToFile = record->layout == ftp::RecordLayout::SharedFile;
  UploadMode = false;
  ConnectionCount = count;
  PrepareTransfer(endpoint, count);
  FileSize = 0;
  ResumeBase = 0;
  for (int i = 0; i < count; ++i) {
    const ftp::BlockState& block = record->blocks[static_cast<size_t>(i)];
    Connections[static_cast<size_t>(i)]->BlockSize = block.blockSize;
    Connections[static_cast<size_t>(i)]->Done = block.done;
    FileSize += block.blockSize;
    ResumeBase += block.done;
  }
  sizeKnown_ = true;
  if (!LoadResumeData(path, record->dataLength, DirectToFile)) {
    FileStream.reset();
    Connections.clear();
    Connections.resize(static_cast<size_t>(count));
    active_ = false;
    return false;
  }
  if (DownloadComplete()) {
    // Nothing is missing: finish as soon as the caller is back in the loop.
    unsigned transfer = transfer_;
    QMetaObject::invokeMethod(
        this,
        [this, transfer] {
          if (transfer == transfer_ && active_) FinishDownload();
        },
        Qt::QueuedConnection);
    return true;
  }
  Connections[0]->Open();
  return true;
}

bool TKorvanFtp::StartUpload(const FtpEndpoint& endpoint, const std::string& localFileName) {
  if (active_ || IsBusy()) return false;
  FileStream = openFile(diskPath(localFileName), QIODevice::ReadOnly);
  if (!FileStream) return false;
  LocalFileName = localFileName;
  UploadMode = true;
  FileSize = FileStream->size();
  ResumeBase = 0;
  PrepareTransfer(endpoint, 1);
  // The other slots stay empty: an upload uses connection 0 only.
  Connections.resize(static_cast<size_t>(std::max(ConnectionCount, 1)));
  Connections[0]->BlockSize = FileSize;
  Connections[0]->Open();
  return true;
}

void TKorvanFtp::ReportProgress() {
  if (progressPending_.exchange(true)) return;
  unsigned transfer = transfer_;
  QMetaObject::invokeMethod(
      this,
      [this, transfer] {
        progressPending_ = false;
        if (transfer == transfer_ && active_) ProgressReported();
      },
      Qt::QueuedConnection);
}

void TKorvanFtp::ProgressReported() {
  if (!OnProgress) return;
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - StartTick)
          .count();
  if (elapsed <= 0) elapsed = 1;
  int64_t done = 0;
  int64_t counted = 0;
  if (UploadMode) {
    TKorvanFtpClient* first = Connection(0);
    done = first ? first->Done.load() : 0;
    counted = done;
  } else {
    for (const auto& connection : Connections) {
      if (connection) done += connection->Done;
    }
    counted = done - ResumeBase;
  }
  long double fraction = FileSize > 0 ? static_cast<long double>(done) / FileSize : 0.0L;
  long double speed = static_cast<long double>(counted) / (static_cast<long double>(elapsed) * 1024) * 1000;
  OnProgress(this, done, FileSize, static_cast<float>(fraction), static_cast<float>(speed));
}

bool TKorvanFtp::WriteShared(int64_t position, const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(FileLock);
  if (!FileStream || !FileStream->seek(position)) return false;
  return FileStream->write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
}

bool TKorvanFtp::SetSharedFileSize(int64_t size) {
  std::lock_guard<std::mutex> lock(FileLock);
  return FileStream && FileStream->resize(size);
}

void TKorvanFtp::PostDataThreadFinished(int index) {
  unsigned transfer = transfer_;
  QMetaObject::invokeMethod(
      this,
      [this, transfer, index] {
        TKorvanFtpClient* connection = Connection(index);
        if (transfer == transfer_ && active_ && connection) connection->DataThreadFinished();
      },
      Qt::QueuedConnection);
}

void TKorvanFtp::PostConnectionEnded(int index) {
  unsigned transfer = transfer_;
  QMetaObject::invokeMethod(
      this,
      [this, transfer, index] {
        TKorvanFtpClient* connection = Connection(index);
        if (transfer == transfer_ && active_ && connection) ConnectionEnded(connection);
      },
      Qt::QueuedConnection);
}

void TKorvanFtp::ConnectionEnded(TKorvanFtpClient* connection) {
  if (!active_) return;
  ++FinishedCount;
  if (UploadMode) {
    FinishUpload();
    return;
  }
  // Connection 0 hands out the blocks; when it ends before that, the
  // others will never be opened and their part is over too.
  if (connection->Index == 0) {
    for (auto& other : Connections) {
      if (other && other.get() != connection && other->IsIdle()) {
        other->Retire();
        ++FinishedCount;
      }
    }
  }
  if (FinishedCount >= static_cast<int>(Connections.size())) FinishDownload();
}

void TKorvanFtp::SetRemoteSize(int64_t size) {
  FileSize = size;
  sizeKnown_ = true;
}

bool TKorvanFtp::DownloadComplete() const {
  if (!sizeKnown_) return false;
  int64_t total = 0;
  for (const auto& connection : Connections) {
    if (!connection || connection->Done < connection->BlockSize) return false;
    total += connection->BlockSize;
  }
  return total == FileSize;
}

void TKorvanFtp::WriteRecordSettings() {
  for (const auto& connection : Connections) {
    if (!connection) continue;
    ftp::writeBlockState(Settings, connection->Index, {connection->BlockSize, connection->Done.load()});
  }
}

void TKorvanFtp::SaveSharedDownload(bool keepRecord) {
  std::lock_guard<std::mutex> lock(FileLock);
  if (keepRecord) {
    std::string trailer = ftp::buildTrailer(Settings.text());
    if (!FileStream->seek(FileStream->size()) ||
        FileStream->write(trailer.data(), static_cast<qint64>(trailer.size())) !=
            static_cast<qint64>(trailer.size())) {
      Status = ftp::kStatusFailed;
    }
    FileStream.reset();
    return;
  }
  // A trailer left by an earlier attempt goes with the resize.
  if (!FileStream->resize(FileSize)) Status = ftp::kStatusFailed;
  FileStream.reset();
  std::error_code error;
  std::filesystem::rename(recordPath(LocalFileName), diskPath(LocalFileName), error);
  if (error) Status = ftp::kStatusFailed;
}

void TKorvanFtp::SaveBufferedDownload(bool keepRecord) {
  std::string target = keepRecord ? recordPath(LocalFileName) : diskPath(LocalFileName);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  for (const auto& connection : Connections) {
    if (connection)
      out.write(connection->Buffer.data(), static_cast<std::streamsize>(connection->Done.load()));
  }
  if (keepRecord) out << ftp::buildTrailer(Settings.text());
  out.close();
  if (!out) {
    Status = ftp::kStatusFailed;
    return;
  }
  // A record that this download has now completed is of no more use.
  std::error_code ignored;
  if (!keepRecord) std::filesystem::remove(recordPath(LocalFileName), ignored);
}

void TKorvanFtp::FinishDownload() {
  if (!active_) return;
  // A download whose blocks did not all arrive (cancelled, failed) is kept
  // with its resume record instead of being passed off as the file; one
  // that is complete is the file, even when a cancel came too late to stop it.
  bool keepRecord = !DownloadComplete();
  if (keepRecord && Status == ftp::kStatusOk) Status = ftp::kStatusFailed;
  if (!keepRecord) Status = ftp::kStatusOk;
  int64_t done = 0;
  for (const auto& connection : Connections) {
    if (connection) done += connection->Done;
  }
  ftp::writeConnectionCount(Settings, static_cast<int>(Connections.size()));
  if (keepRecord) WriteRecordSettings();
  if (DirectToFile) {
    if (FileStream) SaveSharedDownload(keepRecord);
  } else {
    SaveBufferedDownload(keepRecord);
  }
  if (!keepRecord) done = FileSize;
  ReleaseConnections();
  UploadMode = false;
  if (OnComplete) OnComplete(this, Status, done, FileSize);
}

void TKorvanFtp::FinishUpload() {
  if (!active_) return;
  TKorvanFtpClient* first = Connection(0);
  int64_t done = first ? first->Done.load() : 0;
  ReleaseConnections();
  FileStream.reset();
  UploadMode = false;
  if (OnComplete) OnComplete(this, Status, done, FileSize);
}

void TKorvanFtp::ReleaseConnections() {
  // The caller may be running inside one of these connections' events, so
  // they are only taken out of service here and deleted a moment later.
  for (auto& connection : Connections) {
    if (!connection) continue;
    connection->Retire();
    retired_.push_back(std::move(connection));
  }
  Connections.clear();
  Connections.resize(static_cast<size_t>(ConnectionCount));
  active_ = false;
  QMetaObject::invokeMethod(
      this, [this] { retired_.clear(); }, Qt::QueuedConnection);
}
