#include "core/screenshot_taker.h"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/jpeg_writer.h"
#include "core/screenshot_naming.h"
#include "platform/free_memory.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "sys/text_codec.h"

namespace {

std::tm localNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

bool makeFolder(const std::string& diskPath) {
  std::error_code error;
  std::filesystem::create_directory(diskPath, error);
  return std::filesystem::is_directory(diskPath, error);
}

}  // namespace

ScreenshotJob makeScreenshotJob(const ClientStateRecord& state, const std::string& dataDir) {
  ScreenshotJob job;
  job.dataDir = dataDir;
  job.teacherName = state.teacherName;
  job.teacherPhone = state.teacherPhone;
  job.processID = state.processID;
  job.counter = state.screenshotCounter;
  job.serverHost = state.serverHost;
  job.serverPort = state.serverPort;
  job.target = HttpUrl::Screenshot(state.serverPath, state.processID, state.schoolID, state.gradeID,
                                   state.classID, state.teacherID, state.subjectID, state.diskID, "0", "");
  return job;
}

// What the taker shares with its upload workers. A worker may outlive the
// taker (a stalled upload at the end of the program); it then finds no taker
// to report to.
struct ScreenshotTaker::Channel {
  std::mutex mutex;
  ScreenshotTaker* taker = nullptr;
  int running = 0;
};

ScreenshotTaker::ScreenshotTaker(QObject* parent)
    : QObject(parent), clock_(localNow), uploader_(postFile), channel_(std::make_shared<Channel>()) {
  channel_->taker = this;
  frameSource_ = [this](platform::ScreenFrame& frame) {
    if (!screen_) screen_ = std::make_unique<platform::ScreenCapture>();
    return screen_->grab(frame);
  };
}

ScreenshotTaker::~ScreenshotTaker() {
  const std::lock_guard lock(channel_->mutex);
  channel_->taker = nullptr;
}

int ScreenshotTaker::uploadsRunning() const {
  const std::lock_guard lock(channel_->mutex);
  return channel_->running;
}

void ScreenshotTaker::tick(const ScreenshotJob& job) {
  // The picture's name is GBK text like every other in the client and is
  // sent so; on disk each level goes by its UTF-8 name.
  std::string localPath = text::utf8ToGbk(job.dataDir);
  std::string diskPath = job.dataDir;
  for (const std::string& level :
       screenshotFolderLevels(clock_(), job.teacherName, job.teacherPhone, job.processID)) {
    localPath += "/" + level;
    diskPath += "/" + text::gbkToUtf8(level);
    if (!makeFolder(diskPath)) return;
  }
  // The time is read again, apart from the folder's month.
  const std::string fileName = screenshotFileName(clock_(), job.counter);
  localPath += "/" + fileName;
  diskPath += "/" + fileName;
  if (!capture(diskPath)) return;
  lastScreenshotPath_ = localPath;
  startUpload(localPath, screenshotUploadUrl(job.serverHost, job.serverPort, job.target));
}

bool ScreenshotTaker::capture(const std::string& diskPath) {
  platform::ScreenFrame frame;
  const bool written = frameSource_ && frameSource_(frame) && writeJpeg(frame, diskPath, 80);
  // The screen's copy (8 MiB at 1920 x 1080) is needed for a moment once a
  // minute at most: it goes, with its display connection, until the next tick.
  screen_.reset();
  platform::releaseFreeMemory();
  return written;
}

void ScreenshotTaker::startUpload(const std::string& localPath, const std::string& url) {
  const unsigned generation = ++generation_;
  {
    const std::lock_guard lock(channel_->mutex);
    ++channel_->running;
  }
  auto work = [channel = channel_, upload = uploader_, localPath, url, generation] {
    const bool answered = !upload(localPath, url).empty();
    const std::lock_guard lock(channel->mutex);
    // Queued before the count drops, so whoever sees no upload running can
    // rely on the report being on its way.
    if (ScreenshotTaker* taker = channel->taker) {
      QMetaObject::invokeMethod(
          taker, [taker, generation, answered] { taker->uploadEnded(generation, answered); },
          Qt::QueuedConnection);
    }
    --channel->running;
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the upload fails like one without an answer.
    {
      const std::lock_guard lock(channel_->mutex);
      --channel_->running;
    }
    QMetaObject::invokeMethod(
        this, [this, generation] { uploadEnded(generation, false); }, Qt::QueuedConnection);
  }
}

void ScreenshotTaker::uploadEnded(unsigned generation, bool answered) {
  if (generation != generation_) return;  // abandoned by a later tick
  if (!answered) emit uploadFailed();
  emit uploadFinished(answered);
}
