// The upload queue's workflow, without any widget: up to five courseware
// files, uploaded one at a time, always the first. For each file: hash the
// local copy (on a worker), ask the server whether it holds a file of that
// hash, store the file on the school's FTP server when it does not (on a
// worker), register it with the server, remove it from the queue and go on
// with the next one second later. Each step ends by switching on a one-shot
// 1,000 ms timer or sending a request; nothing waits on the UI thread.
//
// A file stored during a lesson started offline is registered once the
// server has taken that lesson and given it its id.
//
// A step that fails (no answer to the hash query or the registration within
// the GET client's time-out, an FTP store that cannot connect or breaks off)
// puts the file back to waiting and retries it on its own, at first after
// 5 s and then less often, up to every 30 s. The teacher hears of FTP
// trouble once per run of failures, in a plain message; the details go to
// the diagnostic log.
//
// The upload queue page (TForm_kjsc2) shows the queue as rows and follows
// the signals; tests drive the workflow on its own.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "courseware/copy_hash.h"
#include "courseware/ftp_store.h"
#include "courseware/worker_lane.h"
#include "state/client_state.h"

class QTimer;

namespace server {
class GetClient;
}

namespace courseware {

// What the workflow needs of the signed-in teacher, the lesson and the
// servers (client text). It is asked for at each step, so a step always
// works with the values of the moment.
struct UploadSession {
  std::string serverPath;
  std::string schoolID;
  std::string teacherID;
  std::string processID;
  std::string gradeID;
  std::string classID;
  std::string subjectID;
  std::string catalogID;
  std::string ftpHost;
  std::string ftpPort;
  std::string ftpUser;
  std::string ftpPassword;
  std::string ftpTls;  // "off", "try" or "require"
};

// The sign-in's part of a session: server, school, teacher and FTP server.
UploadSession sessionOfSignIn(const ClientStateRecord& signIn);

class UploadWorkflow : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxFiles = 5;

  // `getClient` is the queue's own GET client; it may be handed in later.
  explicit UploadWorkflow(server::GetClient* getClient = nullptr, QObject* parent = nullptr);
  // Ends the workers before anything they report to goes.
  ~UploadWorkflow() override;

  void setGetClient(server::GetClient* getClient) { getClient_ = getClient; }
  void setSession(std::function<UploadSession()> session) { session_ = std::move(session); }
  // Tests shorten the 1,000 ms step timers, the retry pauses (5 s doubling
  // up to 30 s) and the FTP time-outs.
  void setStepInterval(int ms);
  void setRetryPauses(int firstMs, int longestMs);
  void setStoreTimeouts(const ftp::StoreTimeouts& timeouts) { storeTimeouts_ = timeouts; }

  // Queues a file the main panel has copied into the courseware folder (both
  // paths GBK). False, and nothing queued, when five files are queued.
  bool AddFile(const std::string& sourcePath, const std::string& localCopy);
  // Removes the file at `position` (0..4); the files below move up.
  void RemoveFile(int position);
  // Uploads the first file, once a catalog is chosen.
  void StartNext();
  // Empties the queue and stops whatever upload runs (every login or
  // logout).
  void ResetQueue();

  int QueuedCount() const { return queuedCount_; }
  bool Uploading() const { return uploading_; }
  // The first file is on its way: hashed, looked up, stored or registered.
  bool FirstFileOnItsWay() const { return uploading_ || attemptBusy_; }
  const std::vector<std::string>& SourcePaths() const { return sourcePaths_; }
  const std::vector<std::string>& LocalCopies() const { return localCopies_; }
  const std::string& CurrentHash() const { return currentHash_; }
  const std::string& CurrentName() const { return currentName_; }
  const std::string& CurrentRemotePath() const { return currentRemotePath_; }

  // Event handlers.
  void HandleFindReply(const std::string& raw);
  void HandleRegisterReply(const std::string& raw);
  void Timer1Timer();
  void Timer3Timer();
  void Timer4Timer();
  void Timer5Timer();

  // Timer1: register a file the server holds; Timer3: store the file;
  // Timer4: go on with the next file (or retry); Timer5: register the
  // stored file.
  QTimer* Timer1 = nullptr;
  QTimer* Timer3 = nullptr;
  QTimer* Timer4 = nullptr;
  QTimer* Timer5 = nullptr;

 signals:
  // The queued files, or whether the first is on its way, changed.
  void queueChanged();
  // The first file has set off: the chapter can no longer be chosen.
  void uploadStarted();
  // The FTP store of the first file has sent `percent` of it.
  void storeProgress(int percent);
  // Nothing is on its way any more: the chapter may be chosen again.
  void uploadHalted();
  // The last queued file has gone.
  void queueEmptied();
  // Words for the teacher (GBK). `untilStored`: the words are about a
  // failed store and stop being true once a store succeeds (storeRecovered).
  void message(const std::string& text, bool untilStored);
  // A store succeeded after a failure the teacher was told of.
  void storeRecovered();
  // A line for the diagnostic log (GBK).
  void logLine(const std::string& line);

 private:
  UploadSession session() const { return session_ ? session_() : UploadSession{}; }

  // An attempt is one pass of the first file through hash, query, store and
  // registration. Replies and worker reports carry the attempt they belong
  // to; those of an abandoned attempt are dropped, so a cancelled file can
  // never be registered under another file's hash or path.
  void beginAttempt();
  void abandonAttempt();
  bool current(unsigned attempt) const { return attempt == attempt_ && attemptBusy_; }
  // Installs `handler` in the GET client's slot for this attempt and sends
  // `pathAndQuery`.
  void request(const std::string& pathAndQuery, void (UploadWorkflow::*handler)(const std::string&));
  // A request of the queue that got no answer: what the GET client said,
  // then the usual line.
  void logNoAnswer(const char* operation, const std::string& raw);

  void startHashing();
  void hashed(unsigned attempt, const std::optional<KnownHash>& outcome);
  void startStore(const ftp::StoreJob& job);
  void storeReport(unsigned attempt, int percent);
  void storeEnded(unsigned attempt, const ftp::StoreResult& result);
  void stored(const ftp::StoreResult& result);
  void registerFile();
  // The step of the current attempt failed: the file waits again, the
  // chapter may be chosen, and the file is tried again after a pause.
  void retryLater();

  server::GetClient* getClient_ = nullptr;
  std::function<UploadSession()> session_;
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
  // The registration waits for the lesson's id from the server (logged once).
  bool heldBack_ = false;
  bool storeFailureShown_ = false;
  // A file stored on the FTP server whose registration got no answer: its
  // retry registers that stored copy instead of sending the file again.
  std::string storedHash_;
  std::string storedPath_;
  // Partial files that broken stores could not delete at the time, or that
  // are no longer wanted; the next store deletes them after its login.
  std::shared_ptr<ftp::LeftoverFiles> leftovers_ = std::make_shared<ftp::LeftoverFiles>();
  // What a store broken by the network or the server left on the FTP
  // server: the next store of the same copy with the same hash continues
  // it under the same name. A cancel, a changed file or an emptied queue
  // gives it up (its file goes at the next store's login).
  struct PartialStore {
    std::string hash, localCopy, month, remoteFileName, remotePath;
  };
  std::optional<PartialStore> partial_;
  std::string storeMonth_;  // the month folder of the store under way
  // Gives the partial file up; with `deleteNow` a job on the store lane
  // deletes it at once, otherwise the next store does after its login.
  void forgetPartial(bool deleteNow);

  unsigned attempt_ = 0;
  bool attemptBusy_ = false;
  HashMemory hashes_;
  // Declared last: their threads end first, before anything they report to.
  std::unique_ptr<WorkerLane> hashLane_;
  std::unique_ptr<WorkerLane> storeLane_;
  WorkerLane::CancelFlag hashCancel_;
  WorkerLane::CancelFlag storeCancel_;
};

}  // namespace courseware
