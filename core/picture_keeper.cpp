#include "core/picture_keeper.h"

#include <mutex>
#include <system_error>
#include <thread>

#include "core/picture_files.h"
#include "state/app_hooks.h"
#include "store/db_error.h"
#include "store/offline_store.h"
#include "sys/text_codec.h"

namespace fs = std::filesystem;

// A pass may outlive the keeper (the end of the program); it then reports
// to no one.
struct PictureKeeper::Channel {
  std::mutex mutex;
  PictureKeeper* keeper = nullptr;
};

PictureKeeper::PictureKeeper(std::string dataDir, pictures::RetentionBounds bounds, QObject* parent)
    : QObject(parent),
      folder_(std::move(dataDir) + "/screen_pic"),
      bounds_(bounds),
      clock_([] { return std::chrono::system_clock::now(); }),
      channel_(std::make_shared<Channel>()) {
  channel_->keeper = this;
}

PictureKeeper::~PictureKeeper() {
  const std::lock_guard lock(channel_->mutex);
  channel_->keeper = nullptr;
}

void PictureKeeper::log(const std::string& line) {
  if (log_) log_("pictures: " + line);
}

void PictureKeeper::checkAtStartUp() {
  const int leftovers = pictures::removeUnfinishedWrites(folder_);
  if (leftovers > 0) log(std::to_string(leftovers) + " picture(s) cut off while being written removed");
  try {
    DB_Func::ReopenInterruptedShots();
    const DB_Func::RowSet waiting = DB_Func::QueryUndeliveredShots();
    DB_Func::RowSet rows = waiting;
    for (size_t row = 0; row < rows.rowCount(); ++row) {
      rows.moveTo(row);
      const std::string path = rows.text("file_path");
      const std::string diskPath = text::gbkToUtf8(path);
      std::error_code error;
      const bool present = fs::exists(diskPath, error);
      if (present && pictures::isWholeJpeg(diskPath)) continue;
      if (present) fs::remove(diskPath, error);
      DB_Func::ShotAnswered(std::atoll(rows.text("id").c_str()), DB_Func::kMissing);
      log(std::string(present ? "cut-off picture removed, not to be sent: "
                              : "picture gone, not to be sent: ") +
          diskPath);
    }
  } catch (const DB_Func::DbError& error) {
    log(std::string("edu.db: ") + error.what());
  }
}

void PictureKeeper::runPass() {
  if (running_) {
    again_ = true;
    return;
  }
  pictures::RetentionPass pass;
  pass.folder = folder_;
  pass.bounds = bounds_;
  pass.now = clock_();
  try {
    DB_Func::RowSet rows = DB_Func::QueryUndeliveredShots();
    pass.recordsReadAt = fs::file_time_type::clock::now();
    for (size_t row = 0; row < rows.rowCount(); ++row) {
      rows.moveTo(row);
      const std::string diskPath = text::gbkToUtf8(rows.text("file_path"));
      if (rows.text("state") == DB_Func::kPending) {
        pass.waiting.emplace(diskPath, std::atoll(rows.text("id").c_str()));
      } else {
        pass.posting.insert(diskPath);
      }
    }
  } catch (const DB_Func::DbError& error) {
    // Without the records nothing can be told apart: no pass.
    log(std::string("edu.db: ") + error.what() + "; no retention pass");
    return;
  }
  const std::string folder = folder_;
  pass.fileSystemUse = [folder] { return platform::fileSystemUse(folder); };
  running_ = true;
  auto work = [channel = channel_, pass = std::move(pass)] {
    const pictures::RetentionOutcome outcome = pictures::runRetention(pass);
    const std::lock_guard lock(channel->mutex);
    if (PictureKeeper* keeper = channel->keeper) {
      QMetaObject::invokeMethod(
          keeper, [keeper, outcome] { keeper->passDone(outcome); }, Qt::QueuedConnection);
    }
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error&) {
    running_ = false;
    log("no thread for the retention pass");
  }
}

void PictureKeeper::passDone(const pictures::RetentionOutcome& outcome) {
  running_ = false;
  for (const pictures::DiscardedPicture& picture : outcome.discarded) {
    try {
      DB_Func::ShotDiscarded(picture.recordId);
    } catch (const DB_Func::DbError& error) {
      log(std::string("edu.db: ") + error.what());
    }
    log("discarded before delivery, the picture folder or its disk is full: " + picture.diskPath);
  }
  if (outcome.removedByAge + outcome.removedForRoom + outcome.foldersRemoved > 0 ||
      !outcome.discarded.empty()) {
    log("retention removed " + std::to_string(outcome.removedByAge) + " past " +
        std::to_string(bounds_.keepDays) + " days, " + std::to_string(outcome.removedForRoom) +
        " for room, " + std::to_string(outcome.discarded.size()) + " not delivered, " +
        std::to_string(outcome.foldersRemoved) + " empty folder(s); " +
        std::to_string(outcome.keptBytes >> 20) + " MiB kept, " + std::to_string(outcome.keptWaiting) +
        " waiting");
  }
  if (!outcome.discarded.empty()) callHook(AppHooks.pendingChanged);
  emit passEnded(outcome);
  if (again_) {
    again_ = false;
    runPass();
  }
}
