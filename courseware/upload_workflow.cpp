#include "courseware/upload_workflow.h"

#include <QDate>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <system_error>

#include "courseware/queue_texts.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "sys/guid.h"
#include "sys/text_codec.h"
#include "sys/trim.h"

namespace courseware {
namespace {

constexpr int kStepMs = 1000;

// The FTP port of the login as a decimal number; 0 (refused by the store)
// when it is none.
int portNumber(const std::string& text) {
  std::string digits = trimText(text);
  int port = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  return port;
}

using text::gbk;

// The FTP server and login of the moment.
ftp::StoreJob ftpLoginOf(const UploadSession& session) {
  ftp::StoreJob job;
  job.host = session.ftpHost;
  job.port = portNumber(session.ftpPort);
  job.user = session.ftpUser;
  job.password = session.ftpPassword;
  job.tls = ftp::tlsModeNamed(session.ftpTls);
  return job;
}

}  // namespace

UploadWorkflow::UploadWorkflow(server::GetClient* getClient, QObject* parent)
    : QObject(parent),
      getClient_(getClient),
      hashLane_(std::make_unique<WorkerLane>()),
      storeLane_(std::make_unique<WorkerLane>()) {
  setObjectName("UploadWorkflow");
  for (QTimer** timer : {&Timer1, &Timer3, &Timer4, &Timer5}) {
    *timer = new QTimer(this);
    (*timer)->setSingleShot(true);
    (*timer)->setInterval(kStepMs);
  }
  Timer1->setObjectName("Timer1");
  Timer3->setObjectName("Timer3");
  Timer4->setObjectName("Timer4");
  Timer5->setObjectName("Timer5");
  connect(Timer1, &QTimer::timeout, this, &UploadWorkflow::Timer1Timer);
  connect(Timer3, &QTimer::timeout, this, &UploadWorkflow::Timer3Timer);
  connect(Timer4, &QTimer::timeout, this, &UploadWorkflow::Timer4Timer);
  connect(Timer5, &QTimer::timeout, this, &UploadWorkflow::Timer5Timer);
}

UploadWorkflow::~UploadWorkflow() {
  abandonAttempt();
  hashLane_.reset();
  storeLane_.reset();
}

void UploadWorkflow::setStepInterval(int ms) {
  stepMs_ = ms;
  for (QTimer* timer : {Timer1, Timer3, Timer4, Timer5}) timer->setInterval(ms);
}

void UploadWorkflow::setRetryPauses(int firstMs, int longestMs) {
  firstRetryMs_ = firstMs;
  longestRetryMs_ = longestMs;
}

bool UploadWorkflow::AddFile(const std::string& sourcePath, const std::string& localCopy) {
  // The callers keep to five; past that there is no row to show a file in.
  if (queuedCount_ >= kMaxFiles) return false;
  sourcePaths_[queuedCount_] = sourcePath;
  localCopies_[queuedCount_] = localCopy;
  ++queuedCount_;
  emit queueChanged();
  return true;
}

void UploadWorkflow::RemoveFile(int position) {
  if (position < 0 || position >= queuedCount_) return;
  // Whatever was under way for the first file ends with it; a run the
  // teacher started goes on with the next file.
  const bool runStarted = uploading_ || (position == 0 && attemptBusy_);
  if (position == 0) abandonAttempt();
  for (int i = position; i < kMaxFiles; ++i) {
    sourcePaths_[i] = sourcePaths_[i + 1];
    localCopies_[i] = localCopies_[i + 1];
  }
  --queuedCount_;
  emit queueChanged();
  if (runStarted) Timer4->start(stepMs_);
  if (queuedCount_ <= 0) {
    uploading_ = false;
    emit uploadHalted();
    emit queueEmptied();
  }
}

void UploadWorkflow::StartNext() {
  // A file already on its way is not started a second time (a later file
  // removed during its store, for instance): its own steps carry it on.
  if (!session().catalogID.empty() && queuedCount_ > 0 && !attemptBusy_) {
    emit uploadStarted();
    beginAttempt();
    startHashing();
  }
  if (queuedCount_ <= 0) uploading_ = false;
}

void UploadWorkflow::ResetQueue() {
  abandonAttempt();
  Timer4->stop();
  failedAttempts_ = 0;
  failedStores_ = 0;
  storeFailureShown_ = false;
  currentName_.clear();
  currentRemotePath_.clear();
  queuedCount_ = 0;
  uploading_ = false;
  emit uploadHalted();
  for (int i = 0; i < kMaxFiles; ++i) {
    sourcePaths_[i].clear();
    localCopies_[i].clear();
  }
  emit queueChanged();
}

void UploadWorkflow::beginAttempt() {
  ++attempt_;
  attemptBusy_ = true;
}

void UploadWorkflow::abandonAttempt() {
  ++attempt_;
  attemptBusy_ = false;
  Timer1->stop();
  Timer3->stop();
  Timer5->stop();
  if (hashCancel_) hashCancel_->store(true);
  // A store under way is the one continuing the partial file: its cancel
  // deletes what it began.
  if (!storeCancel_) forgetPartial(true);
  partial_.reset();
  if (storeCancel_) storeCancel_->store(true);
  hashCancel_.reset();
  storeCancel_.reset();
  storedHash_.clear();
  storedPath_.clear();
}

void UploadWorkflow::request(const std::string& pathAndQuery,
                             void (UploadWorkflow::*handler)(const std::string&)) {
  if (getClient_ == nullptr) {
    attemptBusy_ = false;
    return;
  }
  server::GetClient* client = getClient_;
  QPointer<UploadWorkflow> self(this);
  const unsigned attempt = attempt_;
  client->setReplyHandler([self, client, attempt, handler](const std::string& raw) {
    if (!self || !self->current(attempt)) {
      // The file this request was for has been cancelled: the reply only
      // ends its request.
      client->finishRequest(raw);
      return;
    }
    (self.data()->*handler)(raw);
  });
  client->startRequest(pathAndQuery);
}

void UploadWorkflow::logNoAnswer(const char* operation, const std::string& raw) {
  const std::string prefix = std::string("TForm_kjsc2.") + operation + " : ";
  if (raw.rfind("error:", 0) == 0) emit logLine(prefix + raw);
  emit logLine(prefix + gbk("  无法访问服务器！"));
}

void UploadWorkflow::startHashing() {
  const unsigned attempt = attempt_;
  const std::string fsPath = text::gbkToUtf8(localCopies_[0]);
  std::optional<KnownHash> known = hashes_.find(fsPath);
  hashCancel_ = hashLane_->post([this, attempt, fsPath, known](const std::atomic<bool>& cancel) {
    std::optional<KnownHash> outcome = hashLocalCopy(fsPath, known, &cancel);
    if (cancel) return;
    QMetaObject::invokeMethod(
        this, [this, attempt, outcome] { hashed(attempt, outcome); }, Qt::QueuedConnection);
  });
}

void UploadWorkflow::hashed(unsigned attempt, const std::optional<KnownHash>& outcome) {
  if (!current(attempt)) return;
  hashCancel_.reset();
  if (!outcome) {
    // Hashing what could not be read would name some other content: the
    // file stays queued and is never registered.
    attemptBusy_ = false;
    uploading_ = false;
    emit queueChanged();
    emit uploadHalted();
    emit message(gbk("读取文件失败，文件名为：") + localCopies_[0], false);
    return;
  }
  hashes_.remember(*outcome);
  currentHash_ = outcome->hash;
  request(HttpUrl::FindFileByHash(session().serverPath, currentHash_), &UploadWorkflow::HandleFindReply);
}

void UploadWorkflow::HandleFindReply(const std::string& raw) {
  const std::string jsonPart = Json_Func::ExtractJsonPart(raw);
  if (getClient_ != nullptr) getClient_->finishRequest(jsonPart);
  currentName_ = nameWithoutExtension(localCopies_[0]);
  if (jsonPart.empty()) {
    logNoAnswer("findFileByHash", raw);
    retryLater();
    return;
  }
  if (localCopies_[0].empty()) {
    attemptBusy_ = false;
    return;
  }
  uploading_ = true;
  std::string knownPath = Json_Func::ReadKnownPath(jsonPart);
  if (!knownPath.empty()) {
    currentRemotePath_ = knownPath;
    Timer1->start();
  } else if (!storedPath_.empty() && storedHash_ == currentHash_) {
    // Stored before, but its registration got no answer: register that copy.
    currentRemotePath_ = storedPath_;
    Timer5->start();
  } else {
    Timer3->start();
  }
}

void UploadWorkflow::Timer1Timer() {
  Timer1->stop();
  registerFile();
}

void UploadWorkflow::Timer5Timer() {
  Timer5->stop();
  registerFile();
}

void UploadWorkflow::Timer4Timer() {
  Timer4->stop();
  StartNext();
}

void UploadWorkflow::Timer3Timer() {
  Timer3->stop();
  if (!attemptBusy_ || localCopies_[0].empty()) return;
  const UploadSession now = session();
  ftp::StoreJob job = ftpLoginOf(now);
  job.schoolId = now.schoolID;
  job.teacherId = now.teacherID;
  job.month = QDate::currentDate().toString("yyyy-MM").toStdString();
  job.localPath = localCopies_[0];
  job.resumable = true;
  if (partial_ && partial_->hash == currentHash_ && partial_->localCopy == localCopies_[0]) {
    // A broken store of this very content: continued where it ended.
    job.month = partial_->month;
    remoteFileName_ = partial_->remoteFileName;
  } else {
    forgetPartial(false);
    remoteFileName_ = newGuidText() + extensionOf(localCopies_[0]);
  }
  storeMonth_ = job.month;
  remoteDir_ = ftp::courseRemoteDir(job.schoolId, job.teacherId, job.month);
  job.remoteFileName = remoteFileName_;
  currentRemotePath_ = remoteDir_ + remoteFileName_;
  startStore(job);
}

void UploadWorkflow::startStore(const ftp::StoreJob& job) {
  const unsigned attempt = attempt_;
  const ftp::StoreTimeouts timeouts = storeTimeouts_;
  std::shared_ptr<ftp::LeftoverFiles> leftovers = leftovers_;
  storeCancel_ = storeLane_->post([this, attempt, job, timeouts, leftovers](const std::atomic<bool>& cancel) {
    int shown = -1;
    auto progress = [this, attempt, &shown](int64_t sent, int64_t total) {
      int percent = progressPercent(sent, total);
      if (percent == shown) return;
      shown = percent;
      QMetaObject::invokeMethod(
          this, [this, attempt, percent] { storeReport(attempt, percent); }, Qt::QueuedConnection);
    };
    ftp::StoreResult result = ftp::storeFile(job, progress, &cancel, timeouts, leftovers.get());
    // A cancelled store reports too: the log learns what became of its
    // partial file.
    QMetaObject::invokeMethod(
        this, [this, attempt, result] { storeEnded(attempt, result); }, Qt::QueuedConnection);
  });
}

void UploadWorkflow::storeReport(unsigned attempt, int percent) {
  if (!current(attempt)) return;
  emit storeProgress(percent);
}

void UploadWorkflow::storeEnded(unsigned attempt, const ftp::StoreResult& result) {
  for (const std::string& line : result.log) emit logLine(line);
  if (!current(attempt)) return;
  storeCancel_.reset();
  stored(result);
}

void UploadWorkflow::forgetPartial(bool deleteNow) {
  if (!partial_) return;
  leftovers_->add(partial_->remotePath);
  partial_.reset();
  if (!deleteNow) return;
  const ftp::StoreJob job = ftpLoginOf(session());
  const ftp::StoreTimeouts timeouts = storeTimeouts_;
  std::shared_ptr<ftp::LeftoverFiles> leftovers = leftovers_;
  storeLane_->post([this, job, timeouts, leftovers](const std::atomic<bool>& cancel) {
    const ftp::StoreResult result = ftp::deleteLeftovers(job, &cancel, timeouts, *leftovers);
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          for (const std::string& line : result.log) emit logLine(line);
        },
        Qt::QueuedConnection);
  });
}

void UploadWorkflow::stored(const ftp::StoreResult& result) {
  if (result.stored()) partial_.reset();
  if (result.partialKept)
    partial_ = PartialStore{currentHash_, localCopies_[0], storeMonth_, remoteFileName_, result.remotePath};
  if (result.stored()) {
    failedStores_ = 0;
    if (storeFailureShown_) emit storeRecovered();
    storeFailureShown_ = false;
    storedHash_ = currentHash_;
    storedPath_ = currentRemotePath_;
    Timer5->start();
    return;
  }
  // The server's own words and addresses are for the log; the teacher gets
  // one plain message per run of failures.
  emit logLine(gbk("TForm_kjsc2.FTP : ") + result.failure);
  ++failedStores_;
  retryLater();
  // A transfer that broke off once usually goes through on the retry; a
  // server that cannot be reached, or a second failure, is worth a word.
  if (storeFailureShown_) return;
  if (result.outcome != ftp::StoreOutcome::ConnectFailed && failedStores_ < 2) return;
  storeFailureShown_ = true;
  emit message(gbk("课件暂时无法上传，稍后会自动重新上传。"), true);
}

void UploadWorkflow::retryLater() {
  attemptBusy_ = false;
  uploading_ = false;
  emit queueChanged();
  emit uploadHalted();
  ++failedAttempts_;
  int pause = firstRetryMs_;
  for (int i = 1; i < failedAttempts_ && pause < longestRetryMs_; ++i) pause *= 2;
  Timer4->start(std::min(pause, longestRetryMs_));
}

void UploadWorkflow::registerFile() {
  if (!attemptBusy_) return;
  const UploadSession now = session();
  // A lesson started offline has an id of its own until the server has
  // taken its start; the file is registered once the lesson has the
  // server's id, never under the local one.
  if (now.processID.rfind("offline-", 0) == 0) {
    if (!heldBack_) {
      emit logLine("TForm_kjsc2.postCourseware : " + gbk("等待服务器确认离线课程 ") + now.processID);
      heldBack_ = true;
    }
    const unsigned attempt = attempt_;
    QTimer::singleShot(firstRetryMs_, this, [this, attempt] {
      if (current(attempt)) registerFile();
    });
    return;
  }
  heldBack_ = false;
  request(HttpUrl::RegisterCourseware(now.serverPath, currentHash_, now.processID, now.schoolID, now.gradeID,
                                      now.classID, now.subjectID, now.catalogID, now.teacherID, currentName_,
                                      currentRemotePath_),
          &UploadWorkflow::HandleRegisterReply);
}

void UploadWorkflow::HandleRegisterReply(const std::string& raw) {
  const std::string jsonPart = Json_Func::ExtractJsonPart(raw);
  if (getClient_ != nullptr) getClient_->finishRequest(jsonPart);
  if (jsonPart.empty()) {
    logNoAnswer("postCourseware", raw);
    retryLater();
    return;
  }
  attemptBusy_ = false;
  failedAttempts_ = 0;
  RemoveFile(0);
  Timer4->start(stepMs_);
}

UploadSession sessionOfSignIn(const ClientStateRecord& signIn) {
  UploadSession session;
  session.serverPath = signIn.serverPath;
  session.schoolID = signIn.schoolID;
  session.teacherID = signIn.teacherID;
  session.ftpHost = signIn.ftpHost;
  session.ftpPort = signIn.ftpPort;
  session.ftpUser = signIn.ftpUser;
  session.ftpPassword = signIn.ftpPassword;
  session.ftpTls = signIn.ftpTls;
  return session;
}

}  // namespace courseware
