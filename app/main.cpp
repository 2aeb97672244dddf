// edu-client: the classroom client. One copy per session; the status window
// is its main window and closing it ends the client.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

#include "app/client_windows.h"
#include "core/diagnostic_log.h"
#include "core/fdck.h"
#include "core/offline_delivery.h"
#include "core/offline_records.h"
#include "core/picture_keeper.h"
#include "core/qt_chinese.h"
#include "core/screenshot_taker.h"
#include "core/server_address.h"
#include "core/service_status.h"
#include "core/shot_notice.h"
#include "platform/data_dir.h"
#include "platform/disk_space.h"
#include "platform/gui/desktop_session.h"
#include "platform/gui/portal_screenshot.h"
#include "platform/gui/screen_capture.h"
#include "platform/gui/wlr_screencopy.h"
#include "platform/login_channel.h"
#include "platform/program_dir.h"
#include "platform/service_notify.h"
#include "platform/single_instance.h"
#include "platform/stop_request.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/database_check.h"
#include "store/db_error.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/deployment_settings.h"
#include "sys/text_codec.h"
#include "ui/event_guard.h"

namespace {

// Under the user unit: ready once the window shows; then, from the UI
// thread, the watchdog's beat (a hung event loop misses it and the manager
// restarts the client) with one line of state.
void tellServiceManager(const platform::ServiceNotifier& manager, QTimer& beat, TForm1& form1,
                        const Lesson& lesson, const ScreenshotTaker& screenshots) {
  const auto status = [&lesson, &screenshots] {
    int waiting = 0;
    try {
      const DB_Func::PendingCounts counts = DB_Func::CountPending();
      waiting = counts.lessons + counts.shots + counts.repairs;
    } catch (const DB_Func::DbError&) {
      // The line goes without the count; the log already says why.
    }
    return "STATUS=" +
           serviceStatusLine(ClientState,
                             lesson.running() ? std::optional(lesson.elapsedSeconds()) : std::nullopt,
                             waiting, screenshots.capturesRefused());
  };
  manager.send("READY=1\n" + status());
  form1.appendLog(
      "service manager: told the client is ready" +
      std::string(manager.watchdogInterval().count() > 0
                      ? "; watchdog beat every " + std::to_string(manager.watchdogInterval().count()) + " ms"
                      : ""));
  const bool watched = manager.watchdogInterval().count() > 0;
  beat.setInterval(watched ? manager.watchdogInterval() : std::chrono::milliseconds(10000));
  QObject::connect(&beat, &QTimer::timeout, &form1,
                   [&manager, status, watched] { manager.send((watched ? "WATCHDOG=1\n" : "") + status()); });
  beat.start();
}

// An X11 session's screen is the X server's; a Wayland compositor shows the
// X server only the X programs' windows (the rest is black), so there the
// screen is asked of the compositor: straight through screencopy where a
// wlroots compositor offers it (four times faster than the portal's PNG
// file), through the desktop portal elsewhere.
void useScreenOfSession(ScreenshotTaker& screenshots, const platform::DesktopSession& session,
                        const std::string& waylandCapture, QObject* logOwner,
                        const std::function<void(const std::string&)>& log) {
  if (!session.wayland) {
    screenshots.setCaptureDescription("X11", session.type);
    log("desktop session: " + session.type + " (" + session.reason + "); screenshots from the X server");
    return;
  }
  if (waylandCapture != "portal" && platform::WlrScreencopy::offered()) {
    screenshots.setCaptureDescription("wlroots screencopy", session.type);
    log("desktop session: " + session.type + " (" + session.reason +
        "); screenshots straight from the compositor (wlroots screencopy)");
    auto screencopy = std::make_shared<platform::WlrScreencopy>();
    // Asked on the encoder's worker: what it says goes to the log from here.
    screenshots.setWorkerFrameSource([screencopy, logOwner, log](platform::ScreenFrame& frame) {
      std::string why;
      if (screencopy->grab(frame, why)) return true;
      QMetaObject::invokeMethod(
          logOwner, [log, why] { log("wlroots screencopy: " + why); }, Qt::QueuedConnection);
      return false;
    });
    return;
  }
  screenshots.setCaptureDescription("Screenshot portal", session.type);
  log("desktop session: " + session.type + " (" + session.reason +
      "); screenshots through the desktop portal (org.freedesktop.portal.Screenshot)");
  auto portal = std::make_shared<platform::PortalScreenshot>();
  screenshots.setFrameSource([portal, log](platform::ScreenFrame& frame) {
    std::string why;
    if (portal->grab(frame, why)) return true;
    log("Screenshot portal: " + why);
    return false;
  });
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything needs a display or the session's lock.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("edu-client %s\n", EDU_CLIENT_VERSION);
    return 0;
  }
  platform::prepareX11ForThreads();
  // A second copy steps aside without a word, before it shows anything.
  platform::SingleInstanceLock instanceLock("jy_main");
  if (instanceLock.outcome() == platform::SingleInstanceLock::Outcome::HeldElsewhere) return 0;

  // How the screen can be read, and the windows kept on X11 (XWayland in a
  // Wayland session), decided before Qt picks its window system.
  const platform::DesktopSession session = platform::detectDesktopSession();
  const std::string windowSystem = platform::keepWindowsOnX11();
  QApplication app(argc, argv);
  installQtChineseTexts(app, platform::programDir());
  if (instanceLock.outcome() == platform::SingleInstanceLock::Outcome::Refused) {
    // Another user could take the logins there; the folder is never used.
    std::fprintf(stderr, "edu-client: %s; the client does not start\n", instanceLock.problem().c_str());
    QMessageBox::warning(nullptr, "提示",
                         QString("临时文件夹 %1 不属于当前用户或对其他用户开放，为保护登录信息，"
                                 "教室客户端没有启动。请联系管理员删除这个文件夹后再启动。")
                             .arg(QString::fromStdString(instanceLock.folder())));
    return 1;
  }
  if (instanceLock.outcome() == platform::SingleInstanceLock::Outcome::Failed) {
    QMessageBox::information(nullptr, "Error", "创建互斥对象失败!");
    return 1;
  }
  // The status window alone decides when the client ends.
  app.setQuitOnLastWindowClosed(false);

  const std::string programDir = platform::programDir();
  // Where edu.db, the pictures, the courseware copies and the log live,
  // decided once before anything opens edu.db.
  const platform::DataFolder& dataFolder = platform::dataFolder();
  if (!dataFolder.refusal.empty()) {
    std::fprintf(stderr, "edu-client: %s; the client does not start\n", dataFolder.note.c_str());
    QMessageBox::warning(nullptr, "提示",
                         QString("数据文件夹 %1 不是当前用户的文件夹，为保护上课记录，教室客户端没有启动。"
                                 "请联系管理员处理这个文件夹后再启动。")
                             .arg(QString::fromStdString(dataFolder.refusal)));
    return 1;
  }
  DiagnosticLog diskLog(dataFolder.path + "/log");
  // A damaged edu.db would fail every statement of the day: it is replaced
  // before anything reads it.
  const DB_Func::DatabaseCheck databaseCheck = DB_Func::CheckDatabase(dataFolder.path, programDir);
  std::unique_ptr<ClientWindows> madeWindows;
  try {
    madeWindows = std::make_unique<ClientWindows>(
        programDir, dataFolder.path, [&diskLog](const std::string& line) { diskLog.write(line); });
  } catch (const WiringError& error) {
    std::fprintf(stderr, "edu-client: %s; the client does not start\n", error.what());
    return 1;
  }
  ClientWindows& windows = *madeWindows;
  TForm1& form1 = *windows.status;
  const auto log = [&form1](const std::string& utf8Line) { form1.appendLog(text::utf8ToGbk(utf8Line)); };
  log("edu-client " EDU_CLIENT_VERSION " starting (process " +
      std::to_string(QCoreApplication::applicationPid()) + ")");
  log("program folder: " + programDir);
  log(dataFolder.note);
  log("log file: " + diskLog.filePath() + " (" + std::to_string(DiagnosticLog::kFiles) + " files of " +
      std::to_string(DiagnosticLog::kFileBytes / 1024) + " KiB)");
  log(DB_Func::DatabasePath().empty() ? "edu.db: none in the data folder; no server address can be read"
                                      : "edu.db: " + DB_Func::DatabasePath());
  if (databaseCheck.damaged) log(databaseCheck.note);
  // The same care when edu.db breaks while the client runs, and a plain word
  // when the disk is full.
  ui::setDatabaseGuard({log, [&] { return DB_Func::CheckDatabase(dataFolder.path, programDir); },
                        [&] { return platform::freeSpaceText(dataFolder.path); }});
  log("disk identity: " +
      (ClientState.diskID.empty() ? std::string("none") : text::gbkToUtf8(ClientState.diskID)) + " (from " +
      windows.diskIdentitySource + ")");
  const panels::LayeredSettings settings = panels::loadLayeredSettings(programDir);
  std::string files;
  for (const std::string& file : settings.files) files += (files.empty() ? "" : ", ") + file;
  log("settings: " + (files.empty() ? std::string("none (every value at its default)") : files));
  for (const std::string& refused : settings.refused) log("settings file refused: " + refused);
  QObject::connect(&form1, &TForm1::closed, &app, &QCoreApplication::quit);
  log(windowSystem);

  // The lesson's screenshots: each tick of the status window's screenshot
  // timer, with a notice when an upload gets no answer or a picture cannot
  // be kept.
  ScreenshotTaker screenshots;
  ShotNotice shotNotice;
  followScreenshots(screenshots, shotNotice, &form1,
                    [&form1](const std::string& line) { form1.appendLog(line); });
  useScreenOfSession(screenshots, session, settings.values.waylandCapture, &form1, log);
  // Every picture is recorded in edu.db before its post starts and marked
  // delivered only on the server's answer, so a kill at any moment leaves
  // it waiting for a later delivery.
  ScreenshotTaker::Records records;
  records.record = [&form1](const ScreenshotUpload& picture, bool posting) -> long long {
    try {
      const long long id = offline::recordPicture(picture, posting ? DB_Func::kSending : DB_Func::kPending);
      if (id == 0) form1.appendLog("screenshot kept, its offline lesson is unknown: " + picture.localPath);
      return id;
    } catch (const DB_Func::DbError& error) {
      form1.appendLog("screenshot not recorded: " + std::string(error.what()));
      return 0;
    }
  };
  records.settle = [&form1](long long id, bool delivered) {
    try {
      DB_Func::ShotPostEnded(id, delivered);
    } catch (const DB_Func::DbError& error) {
      form1.appendLog("screenshot record not updated: " + std::string(error.what()));
    }
  };
  screenshots.setRecords(std::move(records));
  // A picture that waits shows in the offline view and is sent later; a
  // delivered one shows the server is there for what waits.
  const auto keep = [&form1](const ScreenshotUpload& picture) {
    if (picture.recordId == 0) {
      // Its record could not be written before the post: one more try.
      try {
        offline::recordPicture(picture, DB_Func::kPending);
      } catch (const DB_Func::DbError& error) {
        form1.appendLog("screenshot not kept for later: " + std::string(error.what()));
      }
    }
    callHook(AppHooks.pendingChanged);
  };
  QObject::connect(&screenshots, &ScreenshotTaker::uploadFailed, &form1, keep);
  QObject::connect(&screenshots, &ScreenshotTaker::pictureWaits, &form1, keep);
  QObject::connect(&screenshots, &ScreenshotTaker::uploadFinished, windows.delivery.get(),
                   [&](bool answered) {
                     if (answered) windows.delivery->serverAnswered();
                   });

  // The pictures on disk: whole or absent, and within their bounds.
  pictures::RetentionBounds bounds;
  bounds.keepDays = settings.values.screenshotKeepDays;
  bounds.maxBytes = int64_t{settings.values.screenshotMaxMb} << 20;
  PictureKeeper keeper(dataFolder.path, bounds);
  keeper.setLog([&form1](const std::string& line) { form1.appendLog(line); });
  keeper.checkAtStartUp();
  keeper.runPass();
  callHook(AppHooks.pendingChanged);

  StatusWindowServices services;
  services.storedServerUrl = storedServerUrl;
  services.siteServerUrl = [programDir] { return panels::configuredServer(programDir); };
  services.storeServerUrl = DB_Func::StoreServerUrl;
  services.screenshotTick = [&] {
    screenshots.tick(makeScreenshotJob(ClientState, windows.lesson, dataFolder.path));
  };
  form1.setServices(std::move(services));
  // A lesson's pictures are kept within their bounds as soon as it ends.
  QObject::connect(&windows.lesson, &Lesson::stopped, &keeper,
                   ui::guarded(&keeper, [&keeper] { keeper.runPass(); }));

  // The sign-in companion's messages, handled on this thread one at a time.
  platform::LoginChannelServer loginChannel;
  loginChannel.setHandler(
      ui::guarded(&form1, [&form1](uint32_t, const std::string& data) { form1.loginMessage(data); }));
  loginChannel.setNotice([&form1](const std::string& what) { form1.appendLog(what); });
  std::string channelError;
  if (loginChannel.listen(platform::loginChannelPath(), &channelError))
    log("login channel: listening on " + platform::loginChannelPath());
  else
    form1.appendLog("login channel: " + channelError);
  log("F4 key hook: not held; a login with the lock-screen flag asks for it");

  // The service manager's stop (and a shutdown): whatever is under way
  // ends within two seconds. A post on its way is abandoned and its picture
  // waits in edu.db; every record is one statement, so none is half written.
  platform::StopRequestWatch stopWatch;
  QObject::connect(&stopWatch, &platform::StopRequestWatch::stopRequested, &app,
                   [&](const QString& signalName) {
                     log("edu-client stopping on " + signalName.toStdString());
                     if (screenshots.abandonUpload())
                       form1.appendLog("screenshot post abandoned, the picture waits for a later delivery: " +
                                       screenshots.lastScreenshotPath());
                     platform::StopRequestWatch::endProcessAfter(1800, 0);
                     app.quit();
                   });

  form1.show();
  form1.activateWindow();
  platform::ServiceNotifier serviceManager;
  QTimer serviceBeat;
  if (serviceManager.active())
    tellServiceManager(serviceManager, serviceBeat, form1, windows.lesson, screenshots);
  // The window's first activation reads the server address (or asks for
  // it), whether or not the window system hands it the focus.
  QTimer::singleShot(0, &form1, ui::guarded(&form1, &TForm1::FormActivate));
  // After a crash or a kill: the same teacher, the same lesson.
  QTimer::singleShot(0, &form1, ui::guarded(&form1, &TForm1::resumeKeptSession));
  // An address the admin sets in /etc reaches a running client within
  // seconds, for every user at once.
  form1.watchSiteServerAddress(std::chrono::seconds(5));
  const int exitCode = app.exec();
  // A stopped post gives up within a second or so; the process does not end
  // under its feet.
  screenshots.abandonUpload();
  for (int wait = 0; wait < 12 && screenshots.uploadsRunning() > 0; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  log("edu-client stopped");
  return exitCode;
}
