#include "core/screenshot_taker.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/frame_check.h"
#include "core/jpeg_writer.h"
#include "core/offline_records.h"
#include "core/picture_files.h"
#include "core/screenshot_naming.h"
#include "platform/free_memory.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "state/lesson_record.h"
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

ScreenshotJob makeScreenshotJob(const ClientStateRecord& signIn, const Lesson& lesson,
                                const std::string& dataDir) {
  ScreenshotJob job;
  job.dataDir = dataDir;
  job.lesson = lessonRecord(signIn, lesson);
  job.counter = lesson.screenshotCounter();
  job.serverHost = signIn.serverHost;
  job.serverPort = signIn.serverPort;
  job.serverSecure = signIn.serverSecure;
  const DB_Func::LessonRecord& l = job.lesson;
  job.keepForLater = offline::isOfflineLessonId(l.processID);
  job.target = HttpUrl::Screenshot(signIn.serverPath, l.processID, l.schoolID, l.gradeID, l.classID,
                                   l.teacherID, l.subjectID, l.deviceID, "0", "");
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
  std::vector<std::pair<std::string, std::string>> folders;  // client name, disk name
  for (const std::string& level : screenshotFolderLevels(clock_(), job.lesson.teacherName,
                                                         job.lesson.teacherPhone, job.lesson.processID)) {
    localPath += "/" + level;
    diskPath += "/" + text::gbkToUtf8(level);
    folders.emplace_back(localPath, diskPath);
  }
  // The time is read again, apart from the folder's month.
  const std::tm takenAt = pictureTime();
  const std::string fileName = screenshotFileName(takenAt, job.counter);
  localPath += "/" + fileName;
  diskPath += "/" + fileName;
  // From before its folders are made until its post ends, the picture is in
  // use: the retention leaves it and its folders alone.
  auto inUse = std::make_shared<pictures::PictureInUse>(diskPath);
  for (const auto& [folderName, folderOnDisk] : folders) {
    std::string reason;
    if (!makeFolder(folderOnDisk, reason)) {
      notSaved(folderName, reason);
      emit tickEnded();
      return;
    }
  }
  Encoding work{{job, localPath,
                 screenshotUploadUrl(job.serverHost, job.serverPort, job.serverSecure, job.target), takenAt},
                diskPath,
                {},
                {},
                {},
                std::move(inUse)};
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
        this,
        [this, encoding, outcome, error] {
          encoded(std::move(encoding->upload), std::move(encoding->inUse), outcome, error);
        },
        Qt::QueuedConnection);
  });
}

void ScreenshotTaker::encoded(ScreenshotUpload upload, std::shared_ptr<const void> inUse,
                              EncodeOutcome outcome, int error) {
  if (outcome == EncodeOutcome::Blank || outcome == EncodeOutcome::NotCaptured) {
    captureRefused(outcome == EncodeOutcome::Blank);
  } else if (outcome == EncodeOutcome::NotWritten) {
    notSaved(upload.localPath, error != 0 ? std::generic_category().message(error) : "write failed");
  } else {
    lastScreenshotPath_ = upload.localPath;
    if (records_.record) upload.recordId = records_.record(upload, !upload.job.keepForLater);
    if (upload.job.keepForLater)
      emit pictureWaits(upload);
    else
      startUpload(std::move(upload), std::move(inUse));
  }
  emit tickEnded();
}

bool ScreenshotTaker::abandonUpload() {
  if (!currentRunning_) return false;
  ++generation_;  // its report is ignored
  currentRunning_ = false;
  currentStop_.request_stop();
  settle(current_, false);
  emit pictureWaits(current_);
  return true;
}

void ScreenshotTaker::settle(const ScreenshotUpload& upload, bool delivered) {
  if (upload.recordId != 0 && records_.settle) records_.settle(upload.recordId, delivered);
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
  std::string key = job.lesson.teacherName + '\x1f' + job.lesson.teacherPhone + '\x1f' + job.lesson.processID;
  // The counter starts again at every lesson start, resume and login.
  if (key != lessonKey_ || job.counter <= lastCounter_) {
    lessonKey_ = std::move(key);
    toldNotSaved_ = false;
    lastPictureTime_ = 0;
    toldNotCaptured_ = false;
  }
  lastCounter_ = job.counter;
}

// The wall clock's time, unless it went back since the lesson's last
// picture (set by hand, or by a time server): then that picture's time plus
// the time truly passed since, so names and shot times keep their order.
std::tm ScreenshotTaker::pictureTime() {
  std::tm now = clock_();
  const std::time_t wall = std::mktime(&now);
  const auto steady = std::chrono::steady_clock::now();
  std::time_t taken = wall;
  if (lastPictureTime_ != 0 && wall < lastPictureTime_) {
    const auto passed = std::chrono::duration_cast<std::chrono::seconds>(steady - lastPictureTaken_).count();
    taken = lastPictureTime_ + static_cast<std::time_t>(passed);
    localtime_r(&taken, &now);
  }
  lastPictureTime_ = taken;
  lastPictureTaken_ = steady;
  return now;
}

void ScreenshotTaker::notSaved(const std::string& localPath, const std::string& reason) {
  const bool first = !toldNotSaved_;
  toldNotSaved_ = true;
  emit pictureNotSaved(text::utf8ToGbk("截图无法保存：") + localPath + " (" + reason + ")", first);
}

void ScreenshotTaker::startUpload(ScreenshotUpload upload, std::shared_ptr<const void> inUse) {
  // The upload still running is abandoned: it gives up now rather than when
  // its own time-outs run out, and its picture waits for a later delivery.
  abandonUpload();
  const unsigned generation = ++generation_;
  currentRunning_ = true;
  currentStop_.request_stop();
  currentStop_ = std::stop_source();
  current_ = std::move(upload);
  {
    const std::lock_guard lock(channel_->mutex);
    ++channel_->running;
  }
  auto work = [channel = channel_, post = uploader_, localPath = current_.localPath, url = current_.url,
               stop = currentStop_.get_token(), generation, inUse = std::move(inUse)]() mutable {
    const bool answered = !post(localPath, url, stop).empty();
    inUse.reset();
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
  settle(current_, answered);
  if (!answered) emit uploadFailed(current_);
  emit uploadFinished(answered);
}
