#include "courseware/ftpclient/FtpClient.h"

#include <QFile>
#include <filesystem>
#include <fstream>

#include "courseware/ftp_data_loops.h"
#include "courseware/ftpclient/ftp_resume_record.h"
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
    settings_.load(content);
  }
  SetConnectionCount(2);
}

TKorvanFtp::~TKorvanFtp() {
  // Workers may still be running: stop them and wait before anything they
  // use goes away.
  for (auto& connection : connections_) {
    if (connection && connection->DataThread) connection->DataThread->Terminate();
  }
  connections_.clear();
  retired_.clear();
}

void TKorvanFtp::SetConnectionCount(int n) {
  if (n < 1 || n == connectionCount_) return;
  connectionCount_ = n;
  if (!IsBusy()) connections_.resize(static_cast<size_t>(n));
}

bool TKorvanFtp::IsBusy() const {
  for (const auto& connection : connections_) {
    if (connection && connection->ControlSocket.isOpen()) return true;
  }
  return false;
}

void TKorvanFtp::Cancel() {
  aborted_ = true;
  if (uploadMode_) {
    TKorvanFtpClient* first = Connection(0);
    if (first && first->DataThread) first->DataThread->Terminate();
    if (first && first->InDialogue()) first->EndWithoutTransfer(ftp::kStatusStopped);
    return;
  }
  for (auto& connection : connections_) {
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
  if (index < 0 || static_cast<size_t>(index) >= connections_.size()) return nullptr;
  return connections_[static_cast<size_t>(index)].get();
}

bool TKorvanFtp::PrepareTransfer(const FtpEndpoint& endpoint, int connectionCount) {
  connections_.clear();
  connections_.resize(static_cast<size_t>(connectionCount));
  for (int i = 0; i < connectionCount; ++i) {
    auto connection = std::make_unique<TKorvanFtpClient>(this);
    connection->Index = i;
    connection->Host = endpoint.host;
    connection->Port = endpoint.port;
    connection->UserName = endpoint.userName;
    connection->Password = endpoint.password;
    connection->RemoteDir = endpoint.remoteDir;
    connection->RemoteFileName = endpoint.remoteFileName;
    connections_[static_cast<size_t>(i)] = std::move(connection);
  }
  aborted_ = false;
  status_ = ftp::kStatusOk;
  finishedCount_ = 0;
  startTick_ = std::chrono::steady_clock::now();
  progressPending_ = false;
  sizeKnown_ = false;
  ++transfer_;
  active_ = true;
  return true;
}

bool TKorvanFtp::StartDownload(const FtpEndpoint& endpoint, const std::string& localFileName,
                               bool directToFile) {
  if (active_ || IsBusy()) return false;
  localFileName_ = localFileName;
  directToFile_ = directToFile;
  uploadMode_ = false;
  fileSize_ = 0;
  resumeBase_ = 0;
  if (directToFile_) {
    fileStream_ = openFile(recordPath(localFileName_), QIODevice::ReadWrite | QIODevice::Truncate);
    if (!fileStream_) return false;
  }
  PrepareTransfer(endpoint, connectionCount_);
  connections_[0]->Open();
  return true;
}

bool TKorvanFtp::LoadResumeData(const std::string& path, int64_t dataLength, bool sharedLayout) {
  if (sharedLayout) {
    fileStream_ = openFile(path, QIODevice::ReadWrite);
    // Drops the trailer: blocks are written in place up to fileSize_.
    return fileStream_ && fileStream_->resize(fileSize_);
  }
  auto file = openFile(path, QIODevice::ReadOnly);
  if (!file) return false;
  for (auto& connection : connections_) {
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
  localFileName_ = localFileName;
  directToFile_ = record->layout == ftp::RecordLayout::SharedFile;
  uploadMode_ = false;
  connectionCount_ = count;
  PrepareTransfer(endpoint, count);
  fileSize_ = 0;
  resumeBase_ = 0;
  for (int i = 0; i < count; ++i) {
    const ftp::BlockState& block = record->blocks[static_cast<size_t>(i)];
    connections_[static_cast<size_t>(i)]->BlockSize = block.blockSize;
    connections_[static_cast<size_t>(i)]->Done = block.done;
    fileSize_ += block.blockSize;
    resumeBase_ += block.done;
  }
  sizeKnown_ = true;
  if (!LoadResumeData(path, record->dataLength, directToFile_)) {
    fileStream_.reset();
    connections_.clear();
    connections_.resize(static_cast<size_t>(count));
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
  connections_[0]->Open();
  return true;
}

bool TKorvanFtp::StartUpload(const FtpEndpoint& endpoint, const std::string& localFileName) {
  if (active_ || IsBusy()) return false;
  fileStream_ = openFile(diskPath(localFileName), QIODevice::ReadOnly);
  if (!fileStream_) return false;
  localFileName_ = localFileName;
  uploadMode_ = true;
  fileSize_ = fileStream_->size();
  resumeBase_ = 0;
  PrepareTransfer(endpoint, 1);
  // The other slots stay empty: an upload uses connection 0 only.
  connections_.resize(static_cast<size_t>(std::max(connectionCount_, 1)));
  connections_[0]->BlockSize = fileSize_;
  connections_[0]->Open();
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
  if (!onProgress_) return;
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startTick_)
          .count();
  if (elapsed <= 0) elapsed = 1;
  int64_t done = 0;
  int64_t counted = 0;
  if (uploadMode_) {
    TKorvanFtpClient* first = Connection(0);
    done = first ? first->Done.load() : 0;
    counted = done;
  } else {
    for (const auto& connection : connections_) {
      if (connection) done += connection->Done;
    }
    counted = done - resumeBase_;
  }
  long double fraction = fileSize_ > 0 ? static_cast<long double>(done) / fileSize_ : 0.0L;
  long double speed = static_cast<long double>(counted) / (static_cast<long double>(elapsed) * 1024) * 1000;
  onProgress_(this, done, fileSize_, static_cast<float>(fraction), static_cast<float>(speed));
}

void TKorvanFtp::RaiseBlockStart(TKorvanFtpClient* connection, int index, int64_t startPos, int64_t count) {
  if (onBlockStart_) onBlockStart_(connection, index, startPos, count);
}

void TKorvanFtp::RaiseError(ErrorKind kind, int& errorCode) {
  if (onError_) onError_(this, kind, errorCode);
}

ftp::LoopContext TKorvanFtp::DataLoopContext(TKorvanFtpClient* connection, std::function<bool()> stop) {
  ftp::LoopContext context;
  context.stopRequested = std::move(stop);
  if (onRetry_) {
    context.retry = [this] {
      bool retry = false;
      onRetry_(this, retry);
      return retry;
    };
  }
  context.progress = [this] { ReportProgress(); };
  context.status = &status_;
  context.aborted = &aborted_;
  context.done = &connection->Done;
  context.blockSize = connection->BlockSize;
  return context;
}

long TKorvanFtp::ReadUpload(char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(fileLock_);
  if (!fileStream_) return -1;
  return static_cast<long>(fileStream_->read(buffer, static_cast<qint64>(size)));
}

bool TKorvanFtp::WriteShared(int64_t position, const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(fileLock_);
  if (!fileStream_ || !fileStream_->seek(position)) return false;
  return fileStream_->write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
}

bool TKorvanFtp::SetSharedFileSize(int64_t size) {
  std::lock_guard<std::mutex> lock(fileLock_);
  return fileStream_ && fileStream_->resize(size);
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
  ++finishedCount_;
  if (uploadMode_) {
    FinishUpload();
    return;
  }
  // Connection 0 hands out the blocks; when it ends before that, the
  // others will never be opened and their part is over too.
  if (connection->Index == 0) {
    for (auto& other : connections_) {
      if (other && other.get() != connection && other->IsIdle()) {
        other->Retire();
        ++finishedCount_;
      }
    }
  }
  if (finishedCount_ >= static_cast<int>(connections_.size())) FinishDownload();
}

void TKorvanFtp::SetRemoteSize(int64_t size) {
  fileSize_ = size;
  sizeKnown_ = true;
}

bool TKorvanFtp::DownloadComplete() const {
  if (!sizeKnown_) return false;
  int64_t total = 0;
  for (const auto& connection : connections_) {
    if (!connection || connection->Done < connection->BlockSize) return false;
    total += connection->BlockSize;
  }
  return total == fileSize_;
}

void TKorvanFtp::WriteRecordSettings() {
  for (const auto& connection : connections_) {
    if (!connection) continue;
    ftp::writeBlockState(settings_, connection->Index, {connection->BlockSize, connection->Done.load()});
  }
}

void TKorvanFtp::SaveSharedDownload(bool keepRecord) {
  std::lock_guard<std::mutex> lock(fileLock_);
  if (keepRecord) {
    std::string trailer = ftp::buildTrailer(settings_.text());
    if (!fileStream_->seek(fileStream_->size()) ||
        fileStream_->write(trailer.data(), static_cast<qint64>(trailer.size())) !=
            static_cast<qint64>(trailer.size())) {
      status_ = ftp::kStatusFailed;
    }
    fileStream_.reset();
    return;
  }
  // A trailer left by an earlier attempt goes with the resize.
  if (!fileStream_->resize(fileSize_)) status_ = ftp::kStatusFailed;
  fileStream_.reset();
  std::error_code error;
  std::filesystem::rename(recordPath(localFileName_), diskPath(localFileName_), error);
  if (error) status_ = ftp::kStatusFailed;
}

void TKorvanFtp::SaveBufferedDownload(bool keepRecord) {
  std::string target = keepRecord ? recordPath(localFileName_) : diskPath(localFileName_);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  for (const auto& connection : connections_) {
    if (connection)
      out.write(connection->Buffer.data(), static_cast<std::streamsize>(connection->Done.load()));
  }
  if (keepRecord) out << ftp::buildTrailer(settings_.text());
  out.close();
  if (!out) {
    status_ = ftp::kStatusFailed;
    return;
  }
  // A record that this download has now completed is of no more use.
  std::error_code ignored;
  if (!keepRecord) std::filesystem::remove(recordPath(localFileName_), ignored);
}

void TKorvanFtp::FinishDownload() {
  if (!active_) return;
  // A download whose blocks did not all arrive (cancelled, failed) is kept
  // with its resume record instead of being passed off as the file; one
  // that is complete is the file, even when a cancel came too late to stop it.
  bool keepRecord = !DownloadComplete();
  if (keepRecord && status_ == ftp::kStatusOk) status_ = ftp::kStatusFailed;
  if (!keepRecord) status_ = ftp::kStatusOk;
  int64_t done = 0;
  for (const auto& connection : connections_) {
    if (connection) done += connection->Done;
  }
  ftp::writeConnectionCount(settings_, static_cast<int>(connections_.size()));
  if (keepRecord) WriteRecordSettings();
  if (directToFile_) {
    if (fileStream_) SaveSharedDownload(keepRecord);
  } else {
    SaveBufferedDownload(keepRecord);
  }
  if (!keepRecord) done = fileSize_;
  ReleaseConnections();
  uploadMode_ = false;
  if (onComplete_) onComplete_(this, status_, done, fileSize_);
}

void TKorvanFtp::FinishUpload() {
  if (!active_) return;
  TKorvanFtpClient* first = Connection(0);
  int64_t done = first ? first->Done.load() : 0;
  ReleaseConnections();
  {
    std::lock_guard<std::mutex> lock(fileLock_);
    fileStream_.reset();
  }
  uploadMode_ = false;
  if (onComplete_) onComplete_(this, status_, done, fileSize_);
}

void TKorvanFtp::ReleaseConnections() {
  // The caller may be running inside one of these connections' events, so
  // they are only taken out of service here and deleted a moment later.
  for (auto& connection : connections_) {
    if (!connection) continue;
    connection->Retire();
    retired_.push_back(std::move(connection));
  }
  connections_.clear();
  connections_.resize(static_cast<size_t>(connectionCount_));
  active_ = false;
  QMetaObject::invokeMethod(
      this, [this] { retired_.clear(); }, Qt::QueuedConnection);
}
