// TKorvanFtp: the client's own multi-connection FTP transfer component.
// A download fetches one remote file over N connections, each connection
// one contiguous block (REST + RETR), written in place into one shared file
// under a lock or kept in one buffer per connection; a download that is
// cancelled or cannot complete is saved with its resume record. An upload
// sends one file over one connection with STOR. Control connections run on
// the component's thread; each data connection has its own worker.
//
// Events: OnBlockStart, OnProgress, OnComplete and OnError run on the
// component's thread; OnRetry runs on the data connection's worker. The
// component's state is its own: callers set it up through the methods below
// and read it back through its accessors.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "courseware/ftp_data_loops.h"
#include "courseware/ftpclient/ftp_connection.h"
#include "courseware/ftpclient/ftp_settings.h"
#include "platform/network/event_socket.h"

class QFile;

// The server and remote file of a transfer. Names are client text (GBK)
// and go to the server as they are.
struct FtpEndpoint {
  std::string host;
  uint16_t port = 21;
  std::string userName;
  std::string password;
  std::string remoteDir;
  std::string remoteFileName;
};

class TKorvanFtp : public QObject {
  Q_OBJECT

 public:
  using ErrorKind = platform::EventSocket::ErrorKind;

  explicit TKorvanFtp(QObject* owner = nullptr);
  // Stops any data worker and waits for it; no event is raised any more.
  ~TKorvanFtp() override;

  void SetConnectionCount(int n);
  bool IsBusy() const;
  void Cancel();

  // Fresh download of endpoint.remoteFileName into localFileName (client
  // text; the file on disk carries its UTF-8 name) over ConnectionCount
  // connections. In shared-file mode the data goes into localFileName plus
  // "~Cfg", renamed to localFileName once complete. False when busy or the
  // local file cannot be written.
  bool StartDownload(const FtpEndpoint& endpoint, const std::string& localFileName, bool directToFile);
  // Resumes the download saved in localFileName plus "~Cfg": the record's
  // connection count, blocks and layout (shared file or buffered) are taken
  // back and only the missing bytes are fetched. False when there is no
  // valid record or the component is busy.
  bool ResumeDownload(const FtpEndpoint& endpoint, const std::string& localFileName);
  // Uploads localFileName as endpoint.remoteFileName over one connection.
  bool StartUpload(const FtpEndpoint& endpoint, const std::string& localFileName);

  // Event handlers; set them while the component is idle.
  using BlockStartHandler =
      std::function<void(TKorvanFtpClient* sender, int index, int64_t startPos, int64_t count)>;
  using ProgressHandler =
      std::function<void(TKorvanFtp* sender, int64_t done, int64_t total, float fraction, float speedKBps)>;
  using CompleteHandler =
      std::function<void(TKorvanFtp* sender, uint8_t status, int64_t done, int64_t total)>;
  using RetryHandler = std::function<void(TKorvanFtp* sender, bool& retry)>;
  using ErrorHandler = std::function<void(TKorvanFtp* sender, ErrorKind errorEvent, int& errorCode)>;
  void SetOnBlockStart(BlockStartHandler handler) { onBlockStart_ = std::move(handler); }
  void SetOnProgress(ProgressHandler handler) { onProgress_ = std::move(handler); }
  void SetOnComplete(CompleteHandler handler) { onComplete_ = std::move(handler); }
  void SetOnRetry(RetryHandler handler) { onRetry_ = std::move(handler); }
  void SetOnError(ErrorHandler handler) { onError_ = std::move(handler); }

  // How long a control connection may wait for a reply that moves its
  // dialogue on (or, after an upload, for the server's last word).
  void SetDialogueTimeout(int ms) { dialogueTimeoutMs_ = ms; }
  int DialogueTimeoutMs() const { return dialogueTimeoutMs_; }

  // The connection count the next download uses (a resume takes its
  // record's count).
  int ConnectionCount() const { return connectionCount_; }
  // Connection slots of the transfer under way, or of the next one.
  int SlotCount() const { return static_cast<int>(connections_.size()); }
  // Size of the file being moved, once known.
  int64_t FileSize() const { return fileSize_; }
  // Bytes a resumed download had before it started again.
  int64_t ResumeBase() const { return resumeBase_; }
  bool IsUploadMode() const { return uploadMode_; }
  // Whether a download writes into one shared file (else buffers per connection).
  bool DirectToFile() const { return directToFile_; }
  uint8_t Status() const { return status_; }

  // --- used by the connections and their data threads ---
  // The connection at `index`, or none.
  TKorvanFtpClient* Connection(int index) const;
  // The status of the transfer; any thread.
  void SetStatus(uint8_t status) { status_ = status; }
  // A block is lost for good: a download keeps its resume record. Any thread.
  void MarkAborted() { aborted_ = true; }
  // The data of the transfer begins to flow: the speed counts from here.
  void MarkDataStarted() { startTick_ = std::chrono::steady_clock::now(); }
  void RaiseBlockStart(TKorvanFtpClient* connection, int index, int64_t startPos, int64_t count);
  void RaiseError(ErrorKind kind, int& errorCode);
  // The loop state a data worker shares with this component; `stop` tells
  // the loop that its worker is asked to end. Called on the worker.
  ftp::LoopContext DataLoopContext(TKorvanFtpClient* connection, std::function<bool()> stop);
  // Reads the next bytes of the file being uploaded (from a data worker).
  long ReadUpload(char* buffer, size_t size);
  // A data worker's progress; reports reach OnProgress on this thread,
  // coalesced while one is still waiting there.
  void ReportProgress();
  // Writes received bytes at `position` of the shared file under the file lock.
  bool WriteShared(int64_t position, const char* data, size_t size);
  // Sets the shared file to `size` bytes (false when it cannot).
  bool SetSharedFileSize(int64_t size);
  // A data worker has ended; called from the worker.
  void PostDataThreadFinished(int index);
  // A connection's part ended without a data thread; counted once the
  // current event is over, so that no caller sees the transfer finish
  // under its feet.
  void PostConnectionEnded(int index);
  // The server has told the remote file's size.
  void SetRemoteSize(int64_t size);
  // One connection's part is over (data thread ended or no transfer).
  void ConnectionEnded(TKorvanFtpClient* connection);
  // Ends the download now, complete or saved with its resume record.
  void FinishDownload();
  void FinishUpload();

 private:
  bool PrepareTransfer(const FtpEndpoint& endpoint, int connectionCount);
  bool LoadResumeData(const std::string& recordPath, int64_t dataLength, bool sharedLayout);
  void ProgressReported();
  void ReleaseConnections();
  void SaveBufferedDownload(bool keepRecord);
  void SaveSharedDownload(bool keepRecord);
  bool DownloadComplete() const;
  void WriteRecordSettings();

  // Everything below is read and written on the component's thread only,
  // except the atomics, which data workers touch too, and the file, which
  // they reach under fileLock_. A transfer's mode is set before its
  // workers start, and each worker keeps the mode it started under.
  int connectionCount_ = 0;
  std::vector<std::unique_ptr<TKorvanFtpClient>> connections_;
  ftp::SettingsStore settings_;
  int64_t fileSize_ = 0;
  int finishedCount_ = 0;
  std::chrono::steady_clock::time_point startTick_;
  int64_t resumeBase_ = 0;
  std::string localFileName_;
  std::mutex fileLock_;
  std::unique_ptr<QFile> fileStream_;
  std::atomic<bool> directToFile_{true};
  std::atomic<bool> uploadMode_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<uint8_t> status_{0};
  int dialogueTimeoutMs_ = 30000;
  BlockStartHandler onBlockStart_;
  ProgressHandler onProgress_;
  CompleteHandler onComplete_;
  RetryHandler onRetry_;
  ErrorHandler onError_;

  std::atomic<bool> progressPending_{false};
  // Raised once per transfer; stale worker reports carry an older number.
  std::atomic<unsigned> transfer_{0};
  bool active_ = false;
  bool sizeKnown_ = false;
  std::vector<std::unique_ptr<TKorvanFtpClient>> retired_;
};
