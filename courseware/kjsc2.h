// The upload queue page: up to five courseware files as rows, uploaded one
// at a time, always the first row. For each file: hash the local copy (on a
// worker), ask the server whether it holds a file of that hash, store the
// file on the school's FTP server when it does not (on a worker), register it
// with the server, remove the row and go on with the next one second later.
// Each step ends by switching on a one-shot 1,000 ms timer or sending a
// request; nothing waits on the UI thread.
//
// A step that fails (no answer to the hash query or the registration within
// the GET client's time-out, an FTP store that cannot connect or breaks off)
// puts the file back to waiting and retries it on its own, at first after
// 5 s and then less often, up to every 30 s. The teacher hears of FTP
// trouble once per run of failures, in a plain message; the details go to
// the diagnostic log.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "courseware/copy_hash.h"
#include "courseware/ftp_store.h"
#include "courseware/page_style.h"
#include "courseware/worker_lane.h"

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace server {
class GetClient;
}

class TForm_kjsc2 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxFiles = 5;

  // `getClient` is the queue's own GET client, which the program creates at
  // start-up (the login's resume request uses it too); it may be handed in
  // later with setGetClient.
  explicit TForm_kjsc2(server::GetClient* getClient = nullptr,
                       const std::string& assetsDir = courseware::defaultAssetsDir(),
                       QWidget* parent = nullptr);
  ~TForm_kjsc2() override;

  void setGetClient(server::GetClient* getClient) { getClient_ = getClient; }
  // What "选择课程章节" does when no upload runs: open the catalog page
  // (courseware::linkCatalogPage sets it).
  void setOpenCatalogPage(std::function<void()> open) { openCatalogPage_ = std::move(open); }
  // Tests shorten the 1,000 ms step timers, the retry pauses (5 s doubling
  // up to 30 s) and the FTP time-outs.
  void setStepInterval(int ms);
  void setRetryPauses(int firstMs, int longestMs);
  void setStoreTimeouts(const ftp::StoreTimeouts& timeouts) { storeTimeouts_ = timeouts; }

  // Queues a file the main panel has copied into the courseware folder (both
  // paths GBK). False, and nothing queued, when five files are queued.
  bool AddFile(const std::string& sourcePath, const std::string& localCopy);
  void RefreshRows();
  // Removes the file at `position` (0..4); the rows below move up.
  void RemoveRow(int position);
  // Uploads the first file, once a catalog is chosen.
  void StartNext();
  // Empties the queue and stops whatever upload runs (every login or
  // logout).
  void ResetQueue();

  int QueuedCount() const { return queuedCount_; }
  bool Uploading() const { return uploading_; }
  const std::vector<std::string>& SourcePaths() const { return sourcePaths_; }
  const std::vector<std::string>& LocalCopies() const { return localCopies_; }
  const std::string& CurrentHash() const { return currentHash_; }
  const std::string& CurrentName() const { return currentName_; }
  const std::string& CurrentRemotePath() const { return currentRemotePath_; }

  // Event handlers.
  void suiImageButton6Click();
  void button14Click();
  void button24Click();
  void Button34Click();
  void Button44Click();
  void Button54Click();
  void HandleFindReply(const std::string& raw);
  void HandleRegisterReply(const std::string& raw);
  void Timer1Timer();
  void Timer3Timer();
  void Timer4Timer();
  void Timer5Timer();

  struct Row {
    QFrame* panel = nullptr;
    QLabel* name = nullptr;
    QLabel* size = nullptr;
    QLabel* state = nullptr;
    QPushButton* cancel = nullptr;
  };

  QLabel* Label19 = nullptr;
  QFrame* Bevel1 = nullptr;
  std::array<Row, kMaxFiles> rows;
  QPushButton* suiImageButton6 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer3 = nullptr;
  QTimer* Timer4 = nullptr;
  QTimer* Timer5 = nullptr;

 private:
  void buildControls(const std::string& assetsDir);
  Row buildRow(int index, const std::string& assetsDir);
  void setFirstRowState(const char* utf8);

  // An attempt is one pass of the first file through hash, query, store and
  // registration. Replies and worker reports carry the attempt they belong
  // to; those of an abandoned attempt are dropped, so a cancelled file can
  // never be registered under another file's hash or path.
  void beginAttempt();
  void abandonAttempt();
  bool current(unsigned attempt) const { return attempt == attempt_ && attemptBusy_; }
  // Installs `handler` in the GET client's slot for this attempt and sends
  // `pathAndQuery`.
  void request(const std::string& pathAndQuery, void (TForm_kjsc2::*handler)(const std::string&));

  void startHashing();
  void hashed(unsigned attempt, const std::optional<courseware::KnownHash>& outcome);
  void startStore(const ftp::StoreJob& job);
  void storeProgress(unsigned attempt, int percent);
  void storeEnded(unsigned attempt, const ftp::StoreResult& result);
  void stored(const ftp::StoreResult& result);
  void registerFile();
  // The step of the current attempt failed: the file waits again, the
  // button comes back, and the file is tried again after a pause.
  void retryLater();

  server::GetClient* getClient_ = nullptr;
  std::function<void()> openCatalogPage_;
  ftp::StoreTimeouts storeTimeouts_;

  std::vector<std::string> sourcePaths_ = std::vector<std::string>(kMaxFiles + 1);
  std::vector<std::string> localCopies_ = std::vector<std::string>(kMaxFiles + 1);
  int queuedCount_ = 0;
  bool uploading_ = false;
  std::string currentHash_;
  std::string currentName_;
  std::string currentRemotePath_;
  std::string remoteDir_;
  std::string remoteFileName_;

  int stepMs_ = 1000;
  int firstRetryMs_ = 5000;
  int longestRetryMs_ = 30000;
  // Attempts that failed since a file was last registered; sets the pause.
  int failedAttempts_ = 0;
  // FTP stores that failed since the last one that succeeded, and whether
  // the teacher has been told of this run of failures.
  int failedStores_ = 0;
  bool storeFailureShown_ = false;
  // A file stored on the FTP server whose registration got no answer: its
  // retry registers that stored copy instead of sending the file again.
  std::string storedHash_;
  std::string storedPath_;
  // Partial files that broken stores could not delete at the time.
  std::shared_ptr<ftp::LeftoverFiles> leftovers_ = std::make_shared<ftp::LeftoverFiles>();

  unsigned attempt_ = 0;
  bool attemptBusy_ = false;
  courseware::HashMemory hashes_;
  // Declared last: their threads end first, before anything they report to.
  std::unique_ptr<courseware::WorkerLane> hashLane_;
  std::unique_ptr<courseware::WorkerLane> storeLane_;
  courseware::WorkerLane::CancelFlag hashCancel_;
  courseware::WorkerLane::CancelFlag storeCancel_;
};
