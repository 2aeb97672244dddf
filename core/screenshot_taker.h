// The screenshot of a lesson, one per tick of the status window's screenshot
// timer: the screen is captured and written as a JPEG below the data
// folder on the UI thread, then posted to the server by a worker thread.
//
// The status window, at each tick of Timer3:
//   ClientState.screenshotCounter += 1;
//   taker.tick(makeScreenshotJob(ClientState, platform::dataDir()));
// and once, at its creation, connects uploadFailed() to the notice
// (ShotNotice::popUpOver(statusWindow)).
#pragma once

#include <QObject>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "core/client_state.h"
#include "platform/screen_capture.h"

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
  std::string target;  // path and query of postScreenShot
};

ScreenshotJob makeScreenshotJob(const ClientStateRecord& state, const std::string& dataDir);

class ScreenshotTaker : public QObject {
  Q_OBJECT

 public:
  using FrameSource = std::function<bool(platform::ScreenFrame&)>;
  using Clock = std::function<std::tm()>;  // local date and time
  using Uploader = std::function<std::string(const std::string& localPath, const std::string& url)>;

  // Captures the display of $DISPLAY, reads the local clock and uploads
  // with postFile; tests replace any of the three.
  explicit ScreenshotTaker(QObject* parent = nullptr);
  ~ScreenshotTaker() override;

  void setFrameSource(FrameSource source) { frameSource_ = std::move(source); }
  void setClock(Clock clock) { clock_ = std::move(clock); }
  void setUploader(Uploader uploader) { uploader_ = std::move(uploader); }

  // One tick: folders, capture, file, upload. A folder that cannot be made
  // or a capture that fails ends the tick quietly, without an upload. A new
  // upload abandons the one still running: that one's connection runs out
  // on its worker, but its result is ignored and it shows nothing.
  void tick(const ScreenshotJob& job);

  // Full GBK path of the most recent picture ("" before the first one).
  const std::string& lastScreenshotPath() const { return lastScreenshotPath_; }
  // Upload workers still running, abandoned ones included.
  int uploadsRunning() const;

 signals:
  // The current upload ended without an answer (UI thread).
  void uploadFailed();
  // The current upload ended; `answered` is false exactly when uploadFailed
  // is emitted too.
  void uploadFinished(bool answered);

 private:
  struct Channel;

  bool capture(const std::string& diskPath);
  void startUpload(const std::string& localPath, const std::string& url);
  void uploadEnded(unsigned generation, bool answered);

  FrameSource frameSource_;
  Clock clock_;
  Uploader uploader_;
  std::unique_ptr<platform::ScreenCapture> screen_;
  std::shared_ptr<Channel> channel_;
  unsigned generation_ = 0;
  std::string lastScreenshotPath_;
};
