#include "core/screenshot_taker.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/frame_check.h"
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
  // One picture at a time is encoded, in the order of the ticks.
  encoder_.setMaxThreadCount(1);
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
  // A picture being encoded is finished; what it reports is dropped with
  // the taker.
  encoder_.waitForDone();
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
      emit tickEnded();
      return;
    }
  }
  // The time is read again, apart from the folder's month.
  const std::tm takenAt = clock_();
  const std::string fileName = screenshotFileName(takenAt, job.counter);
  localPath += "/" + fileName;
  diskPath += "/" + fileName;
  Encoding work{{job, localPath, screenshotUploadUrl(job.serverHost, job.serverPort, job.target), takenAt},
                diskPath,
                {},
                {},
                {}};
  if (frameSource_) {
    // A source of its own (the portal, a test) is asked here.
    if (!frameSource_(work.frame) || work.frame.pixels == nullptr) {
      captureRefused(false);
      emit tickEnded();
      return;
    }
  } else if (workerFrameSource_) {
    work.workerSource = workerFrameSource_;
  } else {
    // The X server's screen is copied on the encoder's worker too: a 4K
    // copy alone would hold up the windows. A capture still in use by an
    // earlier tick is left to it.
    if (!screen_ || screen_.use_count() > 1) screen_ = std::make_shared<platform::ScreenCapture>();
    work.screen = screen_;
  }
  releaseScreen_.start();
  encodeOnWorker(std::move(work));
}

// The blank check and the JPEG file are made on the encoder's worker, one
// tick after the other, so that a 4K screen never holds up the windows;
// the tick goes on here once the file is written.
void ScreenshotTaker::encodeOnWorker(Encoding work) {
  auto encoding = std::make_shared<Encoding>(std::move(work));
  encoder_.start([this, encoding] {
    Encoding& e = *encoding;
    EncodeOutcome outcome = EncodeOutcome::Written;
    int error = 0;
    const bool captured = e.screen         ? e.screen->grab(e.frame)
                          : e.workerSource ? e.workerSource(e.frame) && e.frame.pixels != nullptr
                                           : true;
    if (!captured) {
      outcome = EncodeOutcome::NotCaptured;
    } else if (isBlankFrame(e.frame)) {
      outcome = EncodeOutcome::Blank;
    } else {
      errno = 0;
      if (!writeJpeg(e.frame, e.diskPath, 80)) {
        outcome = EncodeOutcome::NotWritten;
        error = errno;
      }
    }
    e.frame = {};  // the screen's copy may go now
    e.screen.reset();
    e.workerSource = nullptr;
    QMetaObject::invokeMethod(
        this, [this, encoding, outcome, error] { encoded(std::move(encoding->upload), outcome, error); },
        Qt::QueuedConnection);
  });
}

void ScreenshotTaker::encoded(ScreenshotUpload upload, EncodeOutcome outcome, int error) {
  if (outcome == EncodeOutcome::Blank || outcome == EncodeOutcome::NotCaptured) {
    captureRefused(outcome == EncodeOutcome::Blank);
  } else if (outcome == EncodeOutcome::NotWritten) {
    notSaved(upload.localPath, error != 0 ? std::generic_category().message(error) : "write failed");
  } else {
    lastScreenshotPath_ = upload.localPath;
    if (upload.job.keepForLater)
      emit pictureWaits(upload);
    else
      startUpload(std::move(upload));
  }
  emit tickEnded();
}

void ScreenshotTaker::setCaptureDescription(std::string backend, std::string sessionType) {
  backend_ = std::move(backend);
  sessionType_ = std::move(sessionType);
}

// A blank or failed capture is not a lesson picture: nothing is kept or
// sent for this tick (the server sees that minute's number missing rather
// than a black picture it would count as the screen's), the log says why at
// every tick and the teacher hears once per lesson.
void ScreenshotTaker::captureRefused(bool blank) {
  const bool first = !toldNotCaptured_;
  toldNotCaptured_ = true;
  ++capturesRefused_;
  const std::string how = "（截图方式 " + backend_ + "，会话类型 " + sessionType_ + "）";
  const std::string line = blank ? "截图全黑：整个画面只有一种颜色，本次截图不保存、不上传" + how
                                 : "截图失败：无法读取屏幕画面，本次截图不保存、不上传" + how;
  emit pictureNotCaptured(text::utf8ToGbk(line), first);
}

void ScreenshotTaker::noteLesson(const ScreenshotJob& job) {
  std::string key = job.teacherName + '\x1f' + job.teacherPhone + '\x1f' + job.processID;
  // The counter starts again at every lesson start, resume and login.
  if (key != lessonKey_ || job.counter <= lastCounter_) {
    lessonKey_ = std::move(key);
    toldNotSaved_ = false;
    toldNotCaptured_ = false;
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
