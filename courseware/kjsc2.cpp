#include "courseware/kjsc2.h"

#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "courseware/md5.h"
#include "courseware/message_box.h"
#include "courseware/queue_texts.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/guid.h"
#include "sys/qt_text.h"
#include "sys/trim.h"

namespace {

constexpr int kStepMs = 1000;
constexpr int kRowTops[TForm_kjsc2::kMaxFiles] = {45, 126, 208, 290, 372};
// Design names of each row's controls, rows 1 to 5.
constexpr const char* kPanelNames[] = {"panel1", "Panel2", "Panel3", "Panel4", "Panel5"};
constexpr const char* kCancelNames[] = {"button14", "button24", "Button34", "Button44", "Button54"};

QString utf8(const char* text) { return QString::fromUtf8(text); }

// The FTP port of the login as a decimal number; 0 (refused by the store)
// when it is none.
int portNumber(const std::string& text) {
  std::string digits = trimText(text);
  int port = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  return port;
}

std::string gbk(const char* utf8Text) { return text::utf8ToGbk(utf8Text); }

void appendLogLine(const std::string& line) { callHook(AppHooks.appendLog, line); }

// A request of the queue that got no answer: what the GET client said, then
// the usual line.
void logNoAnswer(const char* operation, const std::string& raw) {
  const std::string prefix = std::string("TForm_kjsc2.") + operation + " : ";
  if (raw.rfind("error:", 0) == 0) appendLogLine(prefix + raw);
  appendLogLine(prefix + gbk("  无法访问服务器！"));
}

}  // namespace

TForm_kjsc2::TForm_kjsc2(server::GetClient* getClient, const std::string& assetsDir, QWidget* parent)
    : QWidget(parent),
      getClient_(getClient),
      hashLane_(std::make_unique<courseware::WorkerLane>()),
      storeLane_(std::make_unique<courseware::WorkerLane>()) {
  buildControls(assetsDir);

  for (QTimer** timer : {&Timer1, &Timer3, &Timer4, &Timer5}) {
    *timer = new QTimer(this);
    (*timer)->setSingleShot(true);
    (*timer)->setInterval(kStepMs);
  }
  Timer1->setObjectName("Timer1");
  Timer3->setObjectName("Timer3");
  Timer4->setObjectName("Timer4");
  Timer5->setObjectName("Timer5");
  connect(Timer1, &QTimer::timeout, this, &TForm_kjsc2::Timer1Timer);
  connect(Timer3, &QTimer::timeout, this, &TForm_kjsc2::Timer3Timer);
  connect(Timer4, &QTimer::timeout, this, &TForm_kjsc2::Timer4Timer);
  connect(Timer5, &QTimer::timeout, this, &TForm_kjsc2::Timer5Timer);
}

TForm_kjsc2::~TForm_kjsc2() {
  // The workers end before the page they report to goes.
  abandonAttempt();
  hashLane_.reset();
  storeLane_.reset();
}

void TForm_kjsc2::buildControls(const std::string& assetsDir) {
  courseware::setUpPage(this, "Form_kjsc2", 377, 666);
  Label19 = courseware::makeHint(this, utf8("操作提示：将文件拖拽到本页面"), 15, 8,
                                 QString("color: %1;").arg(courseware::hintColour().name()));
  Bevel1 = courseware::makeDivider(this, QRect(2, 39, 355, 2));
  Bevel1->setObjectName("Bevel1");

  for (int i = 0; i < kMaxFiles; ++i) rows[i] = buildRow(i, assetsDir);
  connect(rows[0].cancel, &QPushButton::clicked, this, &TForm_kjsc2::button14Click);
  connect(rows[1].cancel, &QPushButton::clicked, this, &TForm_kjsc2::button24Click);
  connect(rows[2].cancel, &QPushButton::clicked, this, &TForm_kjsc2::Button34Click);
  connect(rows[3].cancel, &QPushButton::clicked, this, &TForm_kjsc2::Button44Click);
  connect(rows[4].cancel, &QPushButton::clicked, this, &TForm_kjsc2::Button54Click);

  suiImageButton6 = courseware::makeWideButton(this, utf8("选择课程章节"), assetsDir);
  connect(suiImageButton6, &QPushButton::clicked, this, &TForm_kjsc2::suiImageButton6Click);
}

TForm_kjsc2::Row TForm_kjsc2::buildRow(int index, const std::string& assetsDir) {
  const QString number = QString::number(index + 1);
  const QString fileColour = QString("color: %1;").arg(courseware::hintColour().name());
  Row row;
  row.panel = new QFrame(this);
  row.panel->setObjectName(kPanelNames[index]);
  row.panel->setGeometry(3, kRowTops[index], 369, 79);
  row.panel->hide();

  auto* icon = new QLabel(row.panel);
  icon->setGeometry(8, 5, 45, 53);
  icon->setPixmap(QPixmap(courseware::picturePath(assetsDir, "kjsc_document.png")));
  icon->setScaledContents(true);

  row.name = new QLabel(row.panel);
  row.name->setObjectName("Label" + number + "1");
  row.name->setGeometry(64, 7, 220, 22);
  row.name->setStyleSheet(fileColour);

  row.size = new QLabel(row.panel);
  row.size->setObjectName("Label" + number + "2");
  row.size->setGeometry(296, 6, 70, 22);
  row.size->setStyleSheet(fileColour);

  row.state = new QLabel(row.panel);
  row.state->setObjectName("Label" + number + "3");
  row.state->setGeometry(64, 39, 220, 22);
  row.state->setStyleSheet("color: rgb(102,102,102);");

  row.cancel = new QPushButton(utf8("取消"), row.panel);
  row.cancel->setObjectName(kCancelNames[index]);
  row.cancel->setGeometry(296, 34, 41, 25);
  row.cancel->setFont(courseware::pageFont(12));
  row.cancel->setCursor(Qt::PointingHandCursor);
  row.cancel->setFocusPolicy(Qt::NoFocus);
  row.cancel->setStyleSheet(
      "QPushButton { background: rgb(135,206,250); border: 1px solid white; color: rgb(96,96,96); }"
      "QPushButton:hover { background: rgb(160,218,252); }");

  courseware::makeDivider(row.panel, QRect(0, 71, 355, 2));
  return row;
}

void TForm_kjsc2::setStepInterval(int ms) {
  stepMs_ = ms;
  for (QTimer* timer : {Timer1, Timer3, Timer4, Timer5}) timer->setInterval(ms);
}

void TForm_kjsc2::setRetryPauses(int firstMs, int longestMs) {
  firstRetryMs_ = firstMs;
  longestRetryMs_ = longestMs;
}

void TForm_kjsc2::setFirstRowState(const char* utf8Text) { rows[0].state->setText(utf8(utf8Text)); }

bool TForm_kjsc2::AddFile(const std::string& sourcePath, const std::string& localCopy) {
  // The callers keep to five; past that there is no row to show a file in.
  if (queuedCount_ >= kMaxFiles) return false;
  sourcePaths_[queuedCount_] = sourcePath;
  localCopies_[queuedCount_] = localCopy;
  ++queuedCount_;
  RefreshRows();
  return true;
}

void TForm_kjsc2::RefreshRows() {
  for (int i = 0; i < kMaxFiles; ++i) {
    Row& row = rows[i];
    const std::string& copy = localCopies_[i];
    if (copy.empty()) {
      row.panel->hide();
      continue;
    }
    row.panel->show();
    row.name->setText(text::toQString(courseware::fileNamePart(copy)));
    // The label cuts a long name; the whole name shows on hover.
    row.name->setToolTip(row.name->text());
    row.state->setText(utf8("等待上传"));
    // A copy that has gone shows no size; its upload reports the problem.
    std::error_code error;
    uintmax_t bytes = std::filesystem::file_size(text::gbkToUtf8(copy), error);
    row.size->setText(error ? QString() : QString::fromStdString(courseware::sizeText(bytes)));
  }
  // The first file is also on its way while it is hashed and looked up,
  // before the run counts as uploading.
  if (!localCopies_[0].empty() && (uploading_ || attemptBusy_)) setFirstRowState("正在上传......");
}

void TForm_kjsc2::RemoveRow(int position) {
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
  RefreshRows();
  if (runStarted) Timer4->start(stepMs_);
  if (queuedCount_ <= 0) {
    uploading_ = false;
    suiImageButton6->show();
    callHook(AppHooks.switchPage, std::string("suiImageButton3"));
  }
}

void TForm_kjsc2::StartNext() {
  // A file already on its way is not started a second time (a later row
  // removed during its store, for instance): its own steps carry it on.
  if (!ClientState.catalogID.empty() && queuedCount_ > 0 && !attemptBusy_) {
    suiImageButton6->hide();
    setFirstRowState("正在上传文件......");
    beginAttempt();
    startHashing();
  }
  if (queuedCount_ <= 0) uploading_ = false;
}

void TForm_kjsc2::ResetQueue() {
  abandonAttempt();
  Timer4->stop();
  failedAttempts_ = 0;
  failedStores_ = 0;
  storeFailureShown_ = false;
  currentName_.clear();
  currentRemotePath_.clear();
  queuedCount_ = 0;
  uploading_ = false;
  suiImageButton6->show();
  for (int i = 0; i < kMaxFiles; ++i) {
    sourcePaths_[i].clear();
    localCopies_[i].clear();
  }
  // Rows left standing would offer to cancel files that are gone.
  RefreshRows();
}

void TForm_kjsc2::beginAttempt() {
  ++attempt_;
  attemptBusy_ = true;
}

void TForm_kjsc2::abandonAttempt() {
  ++attempt_;
  attemptBusy_ = false;
  Timer1->stop();
  Timer3->stop();
  Timer5->stop();
  if (hashCancel_) hashCancel_->store(true);
  if (storeCancel_) storeCancel_->store(true);
  hashCancel_.reset();
  storeCancel_.reset();
  storedHash_.clear();
  storedPath_.clear();
}

void TForm_kjsc2::request(const std::string& pathAndQuery, void (TForm_kjsc2::*handler)(const std::string&)) {
  if (getClient_ == nullptr) {
    attemptBusy_ = false;
    return;
  }
  server::GetClient* client = getClient_;
  QPointer<TForm_kjsc2> self(this);
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

void TForm_kjsc2::startHashing() {
  const unsigned attempt = attempt_;
  const std::string fsPath = text::gbkToUtf8(localCopies_[0]);
  std::optional<courseware::KnownHash> known = hashes_.find(fsPath);
  hashCancel_ = hashLane_->post([this, attempt, fsPath, known](const std::atomic<bool>& cancel) {
    std::optional<courseware::KnownHash> outcome = courseware::hashLocalCopy(fsPath, known, &cancel);
    if (cancel) return;
    QMetaObject::invokeMethod(
        this, [this, attempt, outcome] { hashed(attempt, outcome); }, Qt::QueuedConnection);
  });
}

void TForm_kjsc2::hashed(unsigned attempt, const std::optional<courseware::KnownHash>& outcome) {
  if (!current(attempt)) return;
  hashCancel_.reset();
  if (!outcome) {
    // Hashing what could not be read would name some other content: the
    // file stays queued and is never registered.
    attemptBusy_ = false;
    uploading_ = false;
    RefreshRows();
    suiImageButton6->show();
    courseware::showMessage(gbk("读取文件失败，文件名为：") + localCopies_[0], this);
    return;
  }
  hashes_.remember(*outcome);
  currentHash_ = outcome->hash;
  request(HttpUrl::FindFileByHash(ClientState.serverPath, currentHash_), &TForm_kjsc2::HandleFindReply);
}

void TForm_kjsc2::HandleFindReply(const std::string& raw) {
  const std::string jsonPart = Json_Func::ExtractJsonPart(raw);
  if (getClient_ != nullptr) getClient_->finishRequest(jsonPart);
  currentName_ = courseware::nameWithoutExtension(localCopies_[0]);
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

void TForm_kjsc2::Timer1Timer() {
  Timer1->stop();
  registerFile();
}

void TForm_kjsc2::Timer5Timer() {
  Timer5->stop();
  registerFile();
}

void TForm_kjsc2::Timer4Timer() {
  Timer4->stop();
  StartNext();
}

void TForm_kjsc2::Timer3Timer() {
  Timer3->stop();
  if (!attemptBusy_ || localCopies_[0].empty()) return;
  ftp::StoreJob job;
  job.host = ClientState.ftpHost;
  job.port = portNumber(ClientState.ftpPort);
  job.user = ClientState.ftpUser;
  job.password = ClientState.ftpPassword;
  job.schoolId = ClientState.schoolID;
  job.teacherId = ClientState.teacherID;
  job.month = QDate::currentDate().toString("yyyy-MM").toStdString();
  job.localPath = localCopies_[0];
  remoteDir_ = ftp::courseRemoteDir(job.schoolId, job.teacherId, job.month);
  remoteFileName_ = newGuidText() + courseware::extensionOf(localCopies_[0]);
  job.remoteFileName = remoteFileName_;
  currentRemotePath_ = remoteDir_ + remoteFileName_;
  startStore(job);
}

void TForm_kjsc2::startStore(const ftp::StoreJob& job) {
  const unsigned attempt = attempt_;
  const ftp::StoreTimeouts timeouts = storeTimeouts_;
  std::shared_ptr<ftp::LeftoverFiles> leftovers = leftovers_;
  storeCancel_ = storeLane_->post([this, attempt, job, timeouts, leftovers](const std::atomic<bool>& cancel) {
    int shown = -1;
    auto progress = [this, attempt, &shown](int64_t sent, int64_t total) {
      int percent = courseware::progressPercent(sent, total);
      if (percent == shown) return;
      shown = percent;
      QMetaObject::invokeMethod(
          this, [this, attempt, percent] { storeProgress(attempt, percent); }, Qt::QueuedConnection);
    };
    ftp::StoreResult result = ftp::storeFile(job, progress, &cancel, timeouts, leftovers.get());
    // A cancelled store reports too: the log learns what became of its
    // partial file.
    QMetaObject::invokeMethod(
        this, [this, attempt, result] { storeEnded(attempt, result); }, Qt::QueuedConnection);
  });
}

void TForm_kjsc2::storeProgress(unsigned attempt, int percent) {
  if (!current(attempt)) return;
  rows[0].state->setText(utf8("正在上传，完成  ") + QString::number(percent) + "%");
}

void TForm_kjsc2::storeEnded(unsigned attempt, const ftp::StoreResult& result) {
  for (const std::string& line : result.log) appendLogLine(line);
  if (!current(attempt)) return;
  storeCancel_.reset();
  stored(result);
}

void TForm_kjsc2::stored(const ftp::StoreResult& result) {
  if (result.stored()) {
    failedStores_ = 0;
    storeFailureShown_ = false;
    storedHash_ = currentHash_;
    storedPath_ = currentRemotePath_;
    Timer5->start();
    return;
  }
  // The server's own words and addresses are for the log; the teacher gets
  // one plain message per run of failures.
  appendLogLine(gbk("TForm_kjsc2.FTP : ") + result.failure);
  ++failedStores_;
  retryLater();
  // A transfer that broke off once usually goes through on the retry; a
  // server that cannot be reached, or a second failure, is worth a word.
  if (storeFailureShown_) return;
  if (result.outcome != ftp::StoreOutcome::ConnectFailed && failedStores_ < 2) return;
  storeFailureShown_ = true;
  courseware::showMessage(gbk("课件暂时无法上传，稍后会自动重新上传。"), this);
}

void TForm_kjsc2::retryLater() {
  attemptBusy_ = false;
  uploading_ = false;
  RefreshRows();
  suiImageButton6->show();
  ++failedAttempts_;
  int pause = firstRetryMs_;
  for (int i = 1; i < failedAttempts_ && pause < longestRetryMs_; ++i) pause *= 2;
  Timer4->start(std::min(pause, longestRetryMs_));
}

void TForm_kjsc2::registerFile() {
  if (!attemptBusy_) return;
  request(HttpUrl::RegisterCourseware(ClientState.serverPath, currentHash_, ClientState.processID,
                                      ClientState.schoolID, ClientState.gradeID, ClientState.classID,
                                      ClientState.subjectID, ClientState.catalogID, ClientState.teacherID,
                                      currentName_, currentRemotePath_),
          &TForm_kjsc2::HandleRegisterReply);
}

void TForm_kjsc2::HandleRegisterReply(const std::string& raw) {
  const std::string jsonPart = Json_Func::ExtractJsonPart(raw);
  if (getClient_ != nullptr) getClient_->finishRequest(jsonPart);
  if (jsonPart.empty()) {
    logNoAnswer("postCourseware", raw);
    retryLater();
    return;
  }
  attemptBusy_ = false;
  failedAttempts_ = 0;
  RemoveRow(0);
  Timer4->start(stepMs_);
}

void TForm_kjsc2::suiImageButton6Click() {
  if (uploading_) {
    courseware::showMessage(gbk("正在上传课件，请稍等！！！"), this);
    return;
  }
  if (openCatalogPage_) openCatalogPage_();
}

void TForm_kjsc2::button14Click() { RemoveRow(0); }
void TForm_kjsc2::button24Click() { RemoveRow(1); }
void TForm_kjsc2::Button34Click() { RemoveRow(2); }
void TForm_kjsc2::Button44Click() { RemoveRow(3); }
void TForm_kjsc2::Button54Click() { RemoveRow(4); }
