// The screenshot of a lesson, one per tick of the status window's screenshot
// timer: the screen is captured and written as a JPEG below the data
// folder on the UI thread, then posted to the server by a worker thread.
//
// The status window, at each tick of Timer3:
//   ClientState.screenshotCounter += 1;
//   taker.tick(makeScreenshotJob(ClientState, platform::dataDir()));
// and once, at its creation, has the notice and the diagnostic log follow
// the taker (followScreenshots in shot_notice.h).
#pragma once

#include <QObject>
#include <QTimer>
#include <ctime>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/gui/screen_capture.h"
#include "state/client_state.h"

// A plain copy of what one tick needs, taken from the ClientState on the UI
// thread; the worker reads nothing else. Text is GBK except `dataDir`.
struct ScreenshotJob {
  std::string dataDir;  // the data folder as named on disk (UTF-8)
  std::string teacherName;
  std::string teacherPhone;
  std::string processID;
  int counter = 1;  // already incremented for this tick
  std::string serverHost;
  int serverPort = 80;
  bool serverSecure = false;
  std::string target;  // path and query of postScreenShot
  // The ids the picture is sent with (the target carries them too).
  std::string schoolID, gradeID, classID, teacherID, subjectID, deviceID;
  // A lesson the server does not know yet (started offline): the picture
  // is kept for later instead of being uploaded now.
  bool keepForLater = false;
};

ScreenshotJob makeScreenshotJob(const ClientStateRecord& state, const std::string& dataDir);

// One upload as the tick started it.
struct ScreenshotUpload {
  ScreenshotJob job;
  std::string localPath;  // full GBK path of the picture, which stays on disk
  std::string url;
  std::tm takenAt{};  // the local time in the picture's name
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

  // Captures the display of $DISPLAY, reads the local clock and uploads
  // with postFile; tests replace any of the three.
  explicit ScreenshotTaker(QObject* parent = nullptr);
  ~ScreenshotTaker() override;

  void setFrameSource(FrameSource source) { frameSource_ = std::move(source); }
  void setClock(Clock clock) { clock_ = std::move(clock); }
  void setUploader(Uploader uploader) { uploader_ = std::move(uploader); }

  // One tick: folders, capture, file, upload. A capture that fails ends the
  // tick quietly; a folder or file that cannot be written ends it with
  // pictureNotSaved. Neither uploads anything. A new upload abandons the one
  // still running: that one is stopped at once, its result is ignored and
  // it reports nothing.
  void tick(const ScreenshotJob& job);

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

 private:
  struct Channel;

  void noteLesson(const ScreenshotJob& job);
  void notSaved(const std::string& localPath, const std::string& reason);
  void startUpload(ScreenshotUpload upload);
  void uploadEnded(unsigned generation, bool answered);

  FrameSource frameSource_;
  Clock clock_;
  Uploader uploader_;
  std::unique_ptr<platform::ScreenCapture> screen_;
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
};
