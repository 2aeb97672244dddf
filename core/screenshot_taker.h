// The screenshot of a lesson, one per tick of the status window's screenshot
// timer: the screen is captured on the UI thread, checked and written as a
// JPEG below the data folder by the encoder's worker, then posted to the
// server by an upload worker.
//
// The status window, at each tick of Timer3, counts the lesson's picture
// (Lesson::countScreenshot) and the program then calls
//   taker.tick(makeScreenshotJob(ClientState, lesson, dataDir));
// and once, at its creation, has the notice and the diagnostic log follow
// the taker (followScreenshots in shot_notice.h).
#pragma once

#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/gui/screen_capture.h"
#include "state/client_state.h"
#include "state/lesson.h"
#include "store/offline_store.h"

// A plain copy of what one tick needs, taken from the sign-in and the lesson
// on the UI thread; the worker reads nothing else. Text is GBK except
// `dataDir`.
struct ScreenshotJob {
  std::string dataDir;  // the data folder as named on disk (UTF-8)
  // The teacher and lesson: the picture's folder, the ids it is sent and
  // kept with (the target carries them too).
  DB_Func::LessonRecord lesson;
  int counter = 1;  // already incremented for this tick
  std::string serverHost;
  int serverPort = 80;
  bool serverSecure = false;
  std::string target;  // path and query of postScreenShot
  // A lesson the server does not know yet (started offline): the picture
  // is kept for later instead of being uploaded now.
  bool keepForLater = false;
};

ScreenshotJob makeScreenshotJob(const ClientStateRecord& signIn, const Lesson& lesson,
                                const std::string& dataDir);

// One upload as the tick started it.
struct ScreenshotUpload {
  ScreenshotJob job;
  std::string localPath;  // full GBK path of the picture, which stays on disk
  std::string url;
  std::tm takenAt{};       // the local time in the picture's name
  long long recordId = 0;  // its record in edu.db (0: none could be written)
};

class ScreenshotTaker : public QObject {
  Q_OBJECT

 public:
  using FrameSource = std::function<bool(platform::ScreenFrame&)>;
  using Clock = std::function<std::tm()>;  // local date and time
  // Posts the picture and returns the answer (empty: not delivered); gives
  // up soon once `stop` is requested.
  using Uploader =
      std::function<std::string(const std::string& localPath, const std::string& url, std::stop_token stop)>;

  // Captures the display of $DISPLAY (on the encoder's worker), reads the
  // local clock and uploads with postFile; tests replace any of the three.
  // A frame source of one's own is asked on the UI thread.
  explicit ScreenshotTaker(QObject* parent = nullptr);
  ~ScreenshotTaker() override;

  void setFrameSource(FrameSource source) { frameSource_ = std::move(source); }
  // A source asked on the encoder's worker instead (one tick at a time).
  void setWorkerFrameSource(FrameSource source) { workerFrameSource_ = std::move(source); }
  void setClock(Clock clock) { clock_ = std::move(clock); }
  void setUploader(Uploader uploader) { uploader_ = std::move(uploader); }

  // The pictures' records: each picture is recorded once written, before
  // its post starts (`posting`), or as waiting when it is kept for later;
  // a post that ends is settled, delivered or back to waiting. Without them
  // no record is kept (tests).
  struct Records {
    std::function<long long(const ScreenshotUpload& picture, bool posting)> record;
    std::function<void(long long recordId, bool delivered)> settle;
  };
  void setRecords(Records records) { records_ = std::move(records); }

  // One tick: folders, capture, file, upload. A capture that fails or comes
  // back blank (one colour) ends the tick with pictureNotCaptured; a folder
  // or file that cannot be written ends it with pictureNotSaved. Neither
  // keeps or uploads anything. The file is written on the encoder's worker;
  // tickEnded says the tick is through. A new upload abandons the one still
  // running: that one is stopped at once, its result is ignored and it
  // reports nothing.
  void tick(const ScreenshotJob& job);

  // How the screen is read and in which session, for the log lines of a
  // blank or failed capture ("X11" and "x11" unless told).
  void setCaptureDescription(std::string backend, std::string sessionType);
  // Captures that failed or came back blank since the start.
  int capturesRefused() const { return capturesRefused_; }

  // The stop of the client: the post on its way is stopped and its picture
  // waits for a later delivery, as after an abandoned upload. False when no
  // post was on its way.
  bool abandonUpload();

  // Full GBK path of the most recent picture ("" before the first one).
  const std::string& lastScreenshotPath() const { return lastScreenshotPath_; }
  // Upload workers still running, abandoned ones included.
  int uploadsRunning() const;

 signals:
  // The one way an upload fails (no answer, an error status, a redirect,
  // an unreadable picture, no worker to be had): the current upload, with
  // everything it was started with. UI thread.
  void uploadFailed(const ScreenshotUpload& upload);
  // The current upload ended; `answered` is false exactly when uploadFailed
  // is emitted too.
  void uploadFinished(bool answered);
  // This tick's picture could not be written (disk full, folder not
  // writable): `logLine` (GBK) says where and why. `firstInLesson` is true
  // for the first such tick of a lesson only, so the teacher hears once.
  void pictureNotSaved(const std::string& logLine, bool firstInLesson);
  // A picture on disk that goes to the server later instead of now: one of
  // a lesson the server does not know yet, or one whose upload a later tick
  // abandoned (a failed upload comes through uploadFailed). UI thread.
  void pictureWaits(const ScreenshotUpload& upload);
  // This tick's capture failed or came back blank: `logLine` (GBK) says so
  // with the capture's way and the session type. `firstInLesson` as for
  // pictureNotSaved.
  void pictureNotCaptured(const std::string& logLine, bool firstInLesson);
  // A tick is through: its picture was written and handed on, or refused.
  void tickEnded();

 private:
  struct Channel;
  enum class EncodeOutcome { Written, NotCaptured, Blank, NotWritten };
  struct Encoding {
    ScreenshotUpload upload;
    std::string diskPath;
    platform::ScreenFrame frame;
    // Set when the frame is still to be copied on the worker: from the X
    // server, or from a worker frame source.
    std::shared_ptr<platform::ScreenCapture> screen;
    FrameSource workerSource;
    // The picture is in use (the retention leaves it alone) until its post
    // ends.
    std::shared_ptr<const void> inUse;
  };

  void encodeOnWorker(Encoding work);
  void encoded(ScreenshotUpload upload, std::shared_ptr<const void> inUse, EncodeOutcome outcome, int error);
  void captureRefused(bool blank);
  void noteLesson(const ScreenshotJob& job);
  std::tm pictureTime();
  void notSaved(const std::string& localPath, const std::string& reason);
  void startUpload(ScreenshotUpload upload, std::shared_ptr<const void> inUse);
  void settle(const ScreenshotUpload& upload, bool delivered);
  void uploadEnded(unsigned generation, bool answered);

  FrameSource frameSource_;
  FrameSource workerFrameSource_;
  Clock clock_;
  Uploader uploader_;
  Records records_;
  std::shared_ptr<platform::ScreenCapture> screen_;
  QTimer releaseScreen_;  // gives the screen's copy back a moment after a tick
  std::shared_ptr<Channel> channel_;
  unsigned generation_ = 0;
  ScreenshotUpload current_;
  bool currentRunning_ = false;  // current_ has not ended yet
  std::stop_source currentStop_;
  std::string lastScreenshotPath_;
  // The lesson the last tick belonged to (teacher, lesson id, counter) and
  // whether the teacher has heard of a picture not saved in it.
  std::string lessonKey_;
  int lastCounter_ = 0;
  bool toldNotSaved_ = false;
  // The time of the lesson's last picture and when it was taken on the
  // steady clock, so that a wall clock set back never dates a later picture
  // before an earlier one.
  std::time_t lastPictureTime_ = 0;
  std::chrono::steady_clock::time_point lastPictureTaken_{};
  bool toldNotCaptured_ = false;
  int capturesRefused_ = 0;
  std::string backend_ = "X11";
  std::string sessionType_ = "x11";
  QThreadPool encoder_;  // last: it is waited for before the rest goes
};
