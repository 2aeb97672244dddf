// TKorvanFtp: the client's own multi-connection FTP transfer component.
// A download fetches one remote file over N connections, each connection
// one contiguous block (REST + RETR), written in place into one shared file
// under a lock or kept in one buffer per connection; a download that is
// cancelled or cannot complete is saved with its resume record. An upload
// sends one file over one connection with STOR. Control connections run on
// the component's thread; each data connection has its own worker.
//
// Events: OnBlockStart, OnProgress, OnComplete and OnError run on the
// component's thread; OnRetry runs on the data connection's worker.
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

#include "courseware/ftp_connection.h"
#include "courseware/ftp_settings.h"
#include "platform/event_socket.h"

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

  int ConnectionCount = 0;
  std::vector<std::unique_ptr<TKorvanFtpClient>> Connections;
  ftp::SettingsStore Settings;
  int64_t FileSize = 0;
  std::function<void(TKorvanFtpClient* sender, int index, int64_t startPos, int64_t count)> OnBlockStart;
  std::function<void(TKorvanFtp* sender, int64_t done, int64_t total, float fraction, float speedKBps)>
      OnProgress;
  int FinishedCount = 0;
  std::chrono::steady_clock::time_point StartTick;
  int64_t ResumeBase = 0;
  std::string LocalFileName;
  std::atomic<bool> Aborted{false};
  std::mutex FileLock;
  std::unique_ptr<QFile> FileStream;
  bool DirectToFile = true;
  bool UploadMode = false;
  std::function<void(TKorvanFtp* sender, uint8_t status, int64_t done, int64_t total)> OnComplete;
  std::atomic<uint8_t> Status{0};
  std::function<void(TKorvanFtp* sender, bool& retry)> OnRetry;
  std::function<void(TKorvanFtp* sender, ErrorKind errorEvent, int& errorCode)> OnError;

  // How long a control connection may wait for a reply that moves its
  // dialogue on (or, after an upload, for the server's last word).
  int DialogueTimeoutMs = 30000;

  // --- used by the connections and their data threads ---
  // The connection at `index`, or none.
  TKorvanFtpClient* Connection(int index) const;
  // A data worker's progress; reports reach OnProgress on this thread,
  // coalesced while one is still waiting there.
  void ReportProgress();
  // Writes received bytes at `position` of the shared file under FileLock.
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

  std::atomic<bool> progressPending_{false};
  // Raised once per transfer; stale worker reports carry an older number.
  unsigned transfer_ = 0;
  bool active_ = false;
  bool sizeKnown_ = false;
  std::vector<std::unique_ptr<TKorvanFtpClient>> retired_;
};
