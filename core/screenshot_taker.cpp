#include "core/screenshot_taker.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/jpeg_writer.h"
#include "core/offline_records.h"
#include "core/screenshot_naming.h"
#include "platform/free_memory.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "sys/local_time.h"
#include "sys/text_codec.h"

namespace {

// Makes the folder when it is missing; false, with the reason, when there
// is none to write into afterwards.
bool makeFolder(const std::string& diskPath, std::string& reason) {
  std::error_code error;
  std::filesystem::create_directory(diskPath, error);
  std::error_code checked;
  if (std::filesystem::is_directory(diskPath, checked)) return true;
  reason = error ? error.message() : std::make_error_code(std::errc::not_a_directory).message();
  return false;
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
  job.serverSecure = state.serverSecure;
  job.schoolID = state.schoolID;
  job.gradeID = state.gradeID;
  job.classID = state.classID;
  job.teacherID = state.teacherID;
  job.subjectID = state.subjectID;
  job.deviceID = state.diskID;
  job.keepForLater = offline::isOfflineLessonId(state.processID);
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
    : QObject(parent), clock_(localDateNow), uploader_(postFile), channel_(std::make_shared<Channel>()) {
  channel_->taker = this;
  frameSource_ = [this](platform::ScreenFrame& frame) {
    if (!screen_) screen_ = std::make_unique<platform::ScreenCapture>();
    return screen_->grab(frame);
  };
  // The screen's copy (8 MiB at 1920 x 1080) and its display connection are
  // needed for a moment once a minute at most: they go two seconds after a
  // tick, so ticks close together (a test, a benchmark) share them.
  releaseScreen_.setSingleShot(true);
  releaseScreen_.setInterval(2000);
  connect(&releaseScreen_, &QTimer::timeout, this, [this] {
    screen_.reset();
    platform::releaseFreeMemory();
  });
}

ScreenshotTaker::~ScreenshotTaker() {
  currentStop_.request_stop();
  const std::lock_guard lock(channel_->mutex);
  channel_->taker = nullptr;
}

int ScreenshotTaker::uploadsRunning() const {
  const std::lock_guard lock(channel_->mutex);
  return channel_->running;
}

void ScreenshotTaker::tick(const ScreenshotJob& job) {
  noteLesson(job);
  // The picture's name is GBK text like every other in the client and is
  // sent so; on disk each level goes by its UTF-8 name.
  std::string localPath = text::utf8ToGbk(job.dataDir);
  std::string diskPath = job.dataDir;
  for (const std::string& level :
       screenshotFolderLevels(clock_(), job.teacherName, job.teacherPhone, job.processID)) {
    localPath += "/" + level;
    diskPath += "/" + text::gbkToUtf8(level);
    std::string reason;
    if (!makeFolder(diskPath, reason)) {
      notSaved(localPath, reason);
      return;
    }
  }
  // The time is read again, apart from the folder's month.
  const std::tm takenAt = clock_();
  const std::string fileName = screenshotFileName(takenAt, job.counter);
  localPath += "/" + fileName;
  diskPath += "/" + fileName;
  platform::ScreenFrame frame;
  const bool captured = frameSource_ && frameSource_(frame) && frame.pixels != nullptr;
  errno = 0;
  const bool written = captured && writeJpeg(frame, diskPath, 80);
  const int error = errno;
  releaseScreen_.start();
  if (!captured) return;  // nothing to keep
  if (!written) {
    notSaved(localPath, error != 0 ? std::generic_category().message(error) : "write failed");
    return;
  }
  lastScreenshotPath_ = localPath;
  ScreenshotUpload upload{job, localPath,
                          screenshotUploadUrl(job.serverHost, job.serverPort, job.serverSecure, job.target),
                          takenAt};
  if (job.keepForLater) {
    emit pictureWaits(upload);
    return;
  }
  startUpload(std::move(upload));
}

void ScreenshotTaker::noteLesson(const ScreenshotJob& job) {
  std::string key = job.teacherName + '\x1f' + job.teacherPhone + '\x1f' + job.processID;
  // The counter starts again at every lesson start, resume and login.
  if (key != lessonKey_ || job.counter <= lastCounter_) {
    lessonKey_ = std::move(key);
    toldNotSaved_ = false;
  }
  lastCounter_ = job.counter;
}

void ScreenshotTaker::notSaved(const std::string& localPath, const std::string& reason) {
  const bool first = !toldNotSaved_;
  toldNotSaved_ = true;
  emit pictureNotSaved(text::utf8ToGbk("截图无法保存：") + localPath + " (" + reason + ")", first);
}

void ScreenshotTaker::startUpload(ScreenshotUpload upload) {
  const unsigned generation = ++generation_;
  // The upload still running is abandoned: it gives up now rather than when
  // its own time-outs run out, and its picture waits for a later delivery.
  if (currentRunning_) emit pictureWaits(current_);
  currentRunning_ = true;
  currentStop_.request_stop();
  currentStop_ = std::stop_source();
  current_ = std::move(upload);
  {
    const std::lock_guard lock(channel_->mutex);
    ++channel_->running;
  }
  auto work = [channel = channel_, post = uploader_, localPath = current_.localPath, url = current_.url,
               stop = currentStop_.get_token(), generation] {
    const bool answered = !post(localPath, url, stop).empty();
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
  currentRunning_ = false;
  if (!answered) emit uploadFailed(current_);
  emit uploadFinished(answered);
}
