#include "core/offline_delivery.h"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/picture_files.h"
#include "core/screenshot_naming.h"
#include "replies/json_func.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "state/client_state.h"
#include "store/db_error.h"
#include "sys/text_codec.h"
#include "ui/event_guard.h"

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
      }),
      clock_([] { return DB_Func::NowMs(); }) {
  retry_.setInterval(kRetryInterval);
  connect(&retry_, &QTimer::timeout, this, ui::guarded(this, [this] {
    if (!sending_) sendNext();
  }));
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
  if (retry_.isActive()) return;
  try {
    if (DB_Func::CountPending().any()) retry_.start();
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
  }
}

void OfflineDelivery::serverAnswered() {
  if (sending_ || !retry_.isActive()) return;  // nothing waits, or a round is on
  QTimer::singleShot(0, this, ui::guarded(this, [this] {
                       if (!sending_) sendNext();
                     }));
}

void OfflineDelivery::sendAllNow() {
  if (sending_) return;
  try {
    DB_Func::ClearWaits();
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
  }
  sendNext();
}

void OfflineDelivery::sendNext() {
  if (!serverKnown()) {
    finishRound(false);
    return;
  }
  DB_Func::PendingItem item;
  try {
    item = DB_Func::NextPendingItem(clock_());
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
  const std::string localId = r.text("local_id");
  client_->setServer(ClientState.serverHost, ClientState.serverPort, ClientState.serverSecure);
  client_->setReplyHandler(ui::guarded(this, [this, item, localId](const std::string& reply) {
    const std::string json = Json_Func::ExtractJsonPart(reply);
    client_->finishRequest(reply);
    const std::string what = "getStartCountTime " + localId;
    if (json.empty()) {
      notTaken(item, reply, what);
      return;
    }
    const std::string processID = Json_Func::ReadProcessID(json);
    if (processID.empty()) {
      refusedOnce(item, what, json);
      return;
    }
    if (!recorded([&] { DB_Func::LessonDelivered(item.id, processID); })) return;
    log(what + " delivered, processID " + processID);
    // The lesson still running goes on under the server's id: its next
    // pictures and courseware are sent with it.
    if (lesson_ != nullptr && lesson_->processID() == localId) {
      lesson_->takeServerId(localId, processID);
      log("the running lesson " + localId + " goes on as " + processID);
    }
    answered(true);
  }));
  client_->startRequest(HttpUrl::StartLesson(ClientState.serverPath, r.text("school_id"), r.text("grade_id"),
                                             r.text("class_id"), r.text("teacher_id"), r.text("subject_id"),
                                             r.text("device_id"), "1",
                                             HttpUrl::PercentEncode(r.text("begin_time"))));
}

void OfflineDelivery::sendRepair(const DB_Func::PendingItem& item) {
  const DB_Func::RowSet& r = item.row;
  // Stored values come back trimmed; the report went out with every line
  // ended by CR LF.
  std::string detail = r.text("fault_detail");
  if (!detail.empty()) detail += "\r\n";
  client_->setServer(ClientState.serverHost, ClientState.serverPort, ClientState.serverSecure);
  client_->setReplyHandler(ui::guarded(this, [this, item](const std::string& reply) {
    const std::string json = Json_Func::ExtractJsonPart(reply);
    client_->finishRequest(reply);
    if (json.empty()) {
      notTaken(item, reply, "insertRepairs");
      return;
    }
    if (!Json_Func::ReadInsertFlag(json)) {
      refusedOnce(item, "insertRepairs", json);
      return;
    }
    if (!recorded([&] { DB_Func::RepairAnswered(item.id, DB_Func::kDelivered); })) return;
    log("insertRepairs delivered");
    answered(true);
  }));
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
  auto work = [channel = channel_, upload = uploader_, path, url, item] {
    std::string reply;
    {
      // The retention leaves a picture alone while it is posted.
      const pictures::PictureInUse inUse(text::gbkToUtf8(path));
      reply = upload(path, url);
    }
    const std::lock_guard lock(channel->mutex);
    if (OfflineDelivery* owner = channel->owner) {
      QMetaObject::invokeMethod(
          owner, ui::guarded(owner, [owner, reply, path, item] { owner->shotAnswer(item, path, reply); }),
          Qt::QueuedConnection);
    }
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error&) {
    noAnswer(item, "postScreenShot: no thread for the upload");
  }
}

void OfflineDelivery::shotAnswer(const DB_Func::PendingItem& item, const std::string& path,
                                 const std::string& reply) {
  if (reply.empty()) {
    noAnswer(item, "postScreenShot " + path + ": no answer");
    return;
  }
  // Any answer counts as taken, as for the live upload, unless it says
  // that the server did not take the picture.
  const std::string json = Json_Func::ExtractJsonPart(reply);
  if (!json.empty() && Json_Func::ReadStatus(json) != "success") {
    refusedOnce(item, "postScreenShot " + path, json);
    return;
  }
  if (!recorded([&] { DB_Func::ShotAnswered(item.id, DB_Func::kDelivered); })) return;
  log("postScreenShot " + path + " delivered" +
      (reply == kEmptyPostAnswer ? " (the server answered without a body)" : ""));
  answered(true);
}

// The server answered, but not with anything that takes the item (an
// error page, a reply that is not ours): the item waits its own time and
// the ones behind it go now.
void OfflineDelivery::notTaken(const DB_Func::PendingItem& item, const std::string& reply,
                               const std::string& what) {
  if (reply.rfind("error:", 0) == 0) {
    noAnswer(item, what + ": " + firstLine(reply));
    return;
  }
  log(what + ": not taken, tried again later: " + firstLine(reply));
  if (!recorded([&] { DB_Func::ItemNotTaken(item, clock_()); })) return;
  sending_ = false;
  emit itemsChanged();
  sendNext();
}

// The item's outcome could not be written: the round ends here, or it would
// send the same item again at once.
bool OfflineDelivery::recorded(const std::function<void()>& write) {
  try {
    write();
    return true;
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
    sending_ = false;
    finishRound(true);
    return false;
  }
}

// A clear "no" for this item counts; only repeated ones over a long time
// refuse it for good.
void OfflineDelivery::refusedOnce(const DB_Func::PendingItem& item, const std::string& what,
                                  const std::string& json) {
  bool refused = false;
  if (!recorded([&] { refused = DB_Func::ItemRefusedOnce(item, clock_()); })) return;
  if (refused) {
    log(what + " refused: " + firstLine(json));
    answered(false);
    return;
  }
  log(what + ": not taken, tried again later: " + firstLine(json));
  sending_ = false;
  emit itemsChanged();
  sendNext();
}

void OfflineDelivery::answered(bool delivered) {
  sending_ = false;
  ++(delivered ? delivered_ : refused_);
  emit itemsChanged();
  sendNext();
}

void OfflineDelivery::noAnswer(const DB_Func::PendingItem& item, const std::string& why) {
  sending_ = false;
  log(why);
  // The server is away; an item it never answers goes behind the others.
  try {
    DB_Func::ItemUnanswered(item, clock_());
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
  }
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
