// The status window: the small always-visible panel near the top-right corner
// that shows who is signed in, the running lesson's minutes and seconds with
// a blinking lamp, and the version. It receives the login message, owns the
// lesson timers and the status window's GET client, holds the hidden
// diagnostic log, and ends the client when it is closed.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gui/key_grab.h"
#include "platform/gui/surface_drag.h"
#include "server/get_client.h"
#include "state/lesson.h"
#include "store/kept_session.h"
#include "sys/deployment_settings.h"

class QLabel;
class QPlainTextEdit;
class TImageButton;
class TShape;

// What the status window asks of the world outside it. The program fills
// these with the real things; tests replace what they watch.
struct StatusWindowServices {
  // The http_url of edu.db's first t_login_info row, trimmed, in GBK: empty
  // when the table has no row; nothing at all when there is no edu.db
  // (then the address is never asked for).
  std::function<std::optional<std::string>()> storedServerUrl;
  // The address the site's settings (/etc/edu-client, deployment.ini) set,
  // with the file that sets it; nothing when none does. It wins over
  // edu.db's.
  std::function<std::optional<panels::SettingSource>()> siteServerUrl;
  // Writes the address (GBK) into edu.db's t_login_info.
  std::function<void(const std::string& serverUrl)> storeServerUrl;
  // The address the user types (GBK); nothing when the box is cancelled.
  std::function<std::optional<std::string>()> askServerUrl;
  // The lock-screen companion.
  std::function<void(std::string_view name)> killProcess;
  std::function<bool(std::string_view name)> startProgram;
  std::function<void(int ms)> delay;
  // The F4 swallow a login with lock-screen flag "1" asks for.
  std::function<platform::F4Swallow::Result()> installKeyHook;
  // The auto-upgrader: told to check now with the login's two values.
  std::function<void(const std::string& versionNumber, const std::string& infoFileUrl)> checkForUpgrade;
  // Each tick of the screenshot timer, after the lesson's picture counter
  // went up.
  std::function<void()> screenshotTick;
};

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // The pictures are read from `assetsDir` (status_*.png). The window times
  // `lesson`, takes it up again after a login or a restart and stops it; its
  // timers follow the lesson's signals.
  TForm1(Lesson& lesson, const std::string& assetsDir, QWidget* parent = nullptr);
  ~TForm1() override;

  // Services left empty keep their defaults.
  void setServices(StatusWindowServices services);
  // The upload queue page's GET client, which carries the login's resume
  // request; it exists before the queue page does.
  void setUploadQueueClient(server::GetClient* client);
  server::GetClient& getClient() { return getClient_; }

  // One line (GBK) of the hidden diagnostic log, cut to a bounded length
  // (see cutLogLine). The box keeps the newest lines, at most 10,000 and
  // about 1 MiB; each line also goes to the log sink.
  void appendLog(const std::string& line);
  // Where every line goes besides the box (the log file and standard error).
  void setLogSink(std::function<void(const std::string&)> sink) { logSink_ = std::move(sink); }

  // The login or logout message of the sign-in companion (the data block).
  // Handled whole or, when it cannot be applied in full, not at all.
  void loginMessage(const std::string& block);

  // Ends the running lesson on this computer: timers off, display and
  // elapsed seconds back to zero (the lesson's `stopped` puts the pages
  // back to idle). The server's lesson is not ended.
  void stopLesson();
  bool isLessonRunning() const;

  // Where the window stands in a monitor's work area: near its top-right
  // corner, the work area's offset included.
  static QPoint placeIn(const QRect& workArea);
  // Moves the window to the primary monitor's corner.
  void placeOnPrimaryMonitor();

  // The reply to the login's getCouterTime request.
  void resumeReply(const std::string& replyText);

  // Reads or asks for the server address while none is known. Runs each
  // time the window becomes active.
  void FormActivate();
  // A client started again after a crash or a kill: the sign-in kept in
  // edu.db, when it began less than 40 minutes ago, is applied again as its
  // login was, and its lesson is resumed with the server as a re-login
  // resumes it (or from what was kept when the server does not answer).
  void resumeKeptSession();

  // Reads the site's address again and, when it changed, sends the next
  // requests there; a running lesson goes on. Every `interval` from now on.
  void followSiteServerAddress();
  void watchSiteServerAddress(std::chrono::milliseconds interval);

  void suiImageButton1Click();
  void suiImageButton2Click();
  void Timer1Timer();
  void Timer3Timer();
  void Timer4Timer();

 signals:
  // The window was closed: the client ends.
  void closed();
  // A login or logout message was applied: the pages show the sign-in (or
  // their prompts) and forget what was chosen on them.
  void signedIn();
  void signedOut();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls(const std::string& assetsDir);
  void applyLoginSteps();
  void applyLogoutSteps();
  void installKeyHook();
  void followPrimaryMonitor();
  void startResumeRequest();
  // A lesson started or taken up: class and screenshot timers on, the lock
  // timer off, the sign-in and lesson kept for a restart.
  void startLessonTimers();
  // Goes on with the newest lesson this teacher started offline less than
  // 40 minutes ago, counting from its begin time; false when there is none.
  bool takeUpOfflineLesson();
  // Goes on with the lesson kept before a restart; false when none was.
  bool takeUpKeptLesson();
  // The sign-in and the running lesson into edu.db, for a restart; and
  // nothing kept any more.
  void keepSession();
  void clearKeptSession();
  void useServerAddress(const std::string& serverUrl, const char* source);
  // Uses the site's address when it sets a usable one (and writes it into
  // edu.db when that holds another); false otherwise.
  bool useSiteServerAddress();
  void setTimeDisplay(int minutes, int seconds);

  Lesson& lesson_;
  StatusWindowServices services_;
  server::GetClient getClient_;
  server::GetClient* uploadQueueClient_ = nullptr;
  platform::F4Swallow f4Swallow_;
  std::optional<platform::F4Swallow::Result> loggedKeyHookResult_;
  // A login asked for the F4 hook; it stays on for the rest of the run.
  bool keyHookRequested_ = false;
  QMetaObject::Connection primaryWatch_;
  QMetaObject::Connection primaryAreaWatch_;
  bool unusableStoredLogged_ = false;
  // The address the requests go to, as it was read or typed.
  std::string serverUrlInUse_;
  std::string unusableSiteLogged_;
  // The login message of the teacher signed in (GBK), kept for a restart.
  std::string loginText_;
  // What was kept before this start, while its resume is on its way.
  std::optional<DB_Func::KeptSession> resumingFrom_;
  QTimer siteWatch_{this};
  // The lines the hidden box holds, oldest first, with their sizes in bytes.
  struct LogEntry {
    QString text;
    size_t bytes = 0;
  };
  std::deque<LogEntry> logEntries_;
  size_t logBytes_ = 0;
  std::function<void(const std::string&)> logSink_;

  QPixmap background_;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  TShape* Shape1 = nullptr;
  TImageButton* suiImageButton1 = nullptr;
  TImageButton* suiImageButton2 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QTimer Timer1{this};
  QTimer Timer3{this};
  QTimer Timer4{this};

  // The address box is not asked again because its own closing gave the
  // window back its activation; only a fresh activation asks again.
  bool askingServerUrl_ = false;
  bool leftSinceCancelledAsk_ = true;

  // A press anywhere on the surface drags the window.
  // A press inside the exempt rectangle does not drag; it lies beyond the
  // window's right edge, so the whole surface drags.
  platform::SurfaceDrag drag_{QRect(241, 55, 10, 14)};
};

// Fills the status window's entry of AppHooks (the log).
void installStatusWindowHooks(TForm1& form);
