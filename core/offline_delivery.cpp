#include "core/offline_delivery.h"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/screenshot_naming.h"
#include "replies/json_func.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "state/client_state.h"
#include "store/db_error.h"
#include "sys/text_codec.h"

namespace {

constexpr std::chrono::seconds kRetryInterval(60);

// The first line of a reply or error text, for the log.
std::string firstLine(const std::string& text) {
  return text.substr(0, std::min(text.find('\n'), size_t{200}));
}

bool fileExists(const std::string& gbkPath) {
  std::error_code error;
  return std::filesystem::is_regular_file(text::gbkToUtf8(gbkPath), error);
}

}  // namespace

struct UploadChannel {
  std::mutex mutex;
  OfflineDelivery* owner = nullptr;
};

OfflineDelivery::OfflineDelivery(QObject* parent)
    : OfflineDelivery(std::make_unique<server::GetClient>(), parent) {}

OfflineDelivery::OfflineDelivery(std::unique_ptr<server::GetClient> client, QObject* parent)
    : QObject(parent),
      client_(std::move(client)),
      uploader_([](const std::string& localPath, const std::string& url) {
        return postFile(localPath, url, std::stop_token());
      }) {
  retry_.setInterval(kRetryInterval);
  connect(&retry_, &QTimer::timeout, this, [this] {
    if (!sending_) sendNext();
  });
  channel_ = std::make_shared<UploadChannel>();
  channel_->owner = this;
}

OfflineDelivery::~OfflineDelivery() {
  const std::lock_guard lock(channel_->mutex);
  channel_->owner = nullptr;
}

void OfflineDelivery::setRetryInterval(std::chrono::milliseconds interval) { retry_.setInterval(interval); }

void OfflineDelivery::log(const std::string& line) {
  if (log_) log_("OfflineDelivery : " + line);
}

bool OfflineDelivery::serverKnown() const { return !ClientState.serverHost.empty(); }

void OfflineDelivery::itemsAdded() {
  if (!retry_.isActive() && DB_Func::CountPending().any()) retry_.start();
}

void OfflineDelivery::serverAnswered() {
  if (sending_ || !retry_.isActive()) return;  // nothing waits, or a round is on
  QTimer::singleShot(0, this, [this] {
    if (!sending_) sendNext();
  });
}

void OfflineDelivery::sendAllNow() {
  if (!sending_) sendNext();
}

void OfflineDelivery::sendNext() {
  if (!serverKnown()) {
    finishRound(false);
    return;
  }
  DB_Func::PendingItem item;
  try {
    item = DB_Func::NextPendingItem();
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
    finishRound(false);
    return;
  }
  if (item.kind == DB_Func::PendingItem::Kind::None) {
    finishRound(true);
    return;
  }
  sending_ = true;
  const DB_Func::PendingCounts waiting = DB_Func::CountPending();
  emit progress(delivered_, waiting.lessons + waiting.shots + waiting.repairs);
  switch (item.kind) {
    case DB_Func::PendingItem::Kind::Lesson:
      sendLesson(item);
      break;
    case DB_Func::PendingItem::Kind::Shot:
      sendShot(item);
      break;
    default:
      sendRepair(item);
  }
}

void OfflineDelivery::sendLesson(const DB_Func::PendingItem& item) {
  const DB_Func::RowSet& r = item.row;
  const long long id = item.id;
  const std::string localId = r.text("local_id");
  client_->setServer(ClientState.serverHost, ClientState.serverPort, ClientState.serverSecure);
  client_->setReplyHandler([this, id, localId](const std::string& reply) {
    const std::string json = Json_Func::ExtractJsonPart(reply);
    client_->finishRequest(reply);
    if (json.empty()) {
      noAnswer("getStartCountTime " + localId + ": " + firstLine(reply));
      return;
    }
    const std::string processID = Json_Func::ReadProcessID(json);
    if (processID.empty()) {
      DB_Func::LessonRefused(id);
      log("getStartCountTime " + localId + " refused: " + firstLine(json));
      answered(false);
      return;
    }
    DB_Func::LessonDelivered(id, processID);
    log("getStartCountTime " + localId + " delivered, processID " + processID);
    answered(true);
  });
  client_->startRequest(HttpUrl::StartLesson(ClientState.serverPath, r.text("school_id"), r.text("grade_id"),
                                             r.text("class_id"), r.text("teacher_id"), r.text("subject_id"),
                                             r.text("device_id"), "1",
                                             HttpUrl::PercentEncode(r.text("begin_time"))));
}

void OfflineDelivery::sendRepair(const DB_Func::PendingItem& item) {
  const DB_Func::RowSet& r = item.row;
  const long long id = item.id;
  // Stored values come back trimmed; the report went out with every line
  // ended by CR LF.
  std::string detail = r.text("fault_detail");
  if (!detail.empty()) detail += "\r\n";
  client_->setServer(ClientState.serverHost, ClientState.serverPort, ClientState.serverSecure);
  client_->setReplyHandler([this, id](const std::string& reply) {
    const std::string json = Json_Func::ExtractJsonPart(reply);
    client_->finishRequest(reply);
    if (json.empty()) {
      noAnswer("insertRepairs: " + firstLine(reply));
      return;
    }
    const bool inserted = Json_Func::ReadInsertFlag(json);
    DB_Func::RepairAnswered(id, inserted ? DB_Func::kDelivered : DB_Func::kRefused);
    log(std::string("insertRepairs ") + (inserted ? "delivered" : "refused: " + firstLine(json)));
    answered(inserted);
  });
  client_->startRequest(HttpUrl::ReportFault(ClientState.serverPath, r.text("school_id"), r.text("grade_id"),
                                             r.text("class_id"), r.text("teacher_id"), r.text("tel"), detail,
                                             ""));
}

void OfflineDelivery::sendShot(const DB_Func::PendingItem& item) {
  const DB_Func::RowSet& r = item.row;
  const long long id = item.id;
  const std::string path = r.text("file_path");
  if (!fileExists(path)) {
    // Nothing to send, and nothing that could be sent later.
    DB_Func::ShotAnswered(id, "missing");
    log("postScreenShot: picture missing: " + path);
    answered(false);
    return;
  }
  const std::string url = screenshotUploadUrl(
      ClientState.serverHost, ClientState.serverPort, ClientState.serverSecure,
      HttpUrl::Screenshot(ClientState.serverPath, r.text("process_id"), r.text("school_id"),
                          r.text("grade_id"), r.text("class_id"), r.text("teacher_id"), r.text("subject_id"),
                          r.text("device_id"), "1", HttpUrl::PercentEncode(r.text("shot_time"))));
  auto work = [channel = channel_, upload = uploader_, path, url, id] {
    const std::string reply = upload(path, url);
    const std::lock_guard lock(channel->mutex);
    if (OfflineDelivery* owner = channel->owner) {
      QMetaObject::invokeMethod(
          owner, [owner, reply, path, id] { owner->shotAnswer(id, path, reply); }, Qt::QueuedConnection);
    }
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error&) {
    noAnswer("postScreenShot: no thread for the upload");
  }
}

void OfflineDelivery::shotAnswer(long long id, const std::string& path, const std::string& reply) {
  if (reply.empty()) {
    noAnswer("postScreenShot " + path + ": no answer");
    return;
  }
  // Any answer counts as taken, as for the live upload, unless it says
  // that the server did not take the picture.
  const std::string json = Json_Func::ExtractJsonPart(reply);
  const bool refused = !json.empty() && Json_Func::ReadStatus(json) != "success";
  DB_Func::ShotAnswered(id, refused ? DB_Func::kRefused : DB_Func::kDelivered);
  log("postScreenShot " + path + (refused ? " refused: " + firstLine(json) : std::string(" delivered")));
  answered(!refused);
}

void OfflineDelivery::answered(bool delivered) {
  sending_ = false;
  ++(delivered ? delivered_ : refused_);
  emit itemsChanged();
  sendNext();
}

void OfflineDelivery::noAnswer(const std::string& why) {
  sending_ = false;
  log(why);
  // The next try is a whole interval away.
  retry_.start();
  finishRound(false);
}

void OfflineDelivery::finishRound(bool reachable) {
  int waiting = 0;
  try {
    const DB_Func::PendingCounts counts = DB_Func::CountPending();
    waiting = counts.lessons + counts.shots + counts.repairs;
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
  }
  if (waiting == 0) {
    retry_.stop();
  } else if (!retry_.isActive()) {
    retry_.start();
  }
  emit roundEnded(reachable, delivered_, refused_, waiting);
  delivered_ = 0;
  refused_ = 0;
}
