// The client on a Wayland desktop: a headless sway with XWayland, run as an
// unprivileged user with pipewire and the portal stack on a private session
// bus. Its windows stay on XWayland; a lesson's picture comes from the
// compositor (screencopy) or the Screenshot portal and shows the native
// Wayland window on the screen (a red terminal), and the server gets the
// same bytes. With the portal stack stopped, no picture is kept or posted,
// the notice comes up and the log says why.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "tests/support/devserver_process.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

using testsupport::DevServerProcess;
using testsupport::DevServerRequest;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

std::vector<DevServerRequest> requestsTo(const DevServerProcess& server, const std::string& operation) {
  std::vector<DevServerRequest> found;
  for (const DevServerRequest& request : server.requests())
    if (request.path() == "/clientInterface-" + operation) found.push_back(request);
  return found;
}

std::string sentParameter(const std::string& target, const std::string& name) {
  const size_t at = target.find("&" + name + "=");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 2;
  return target.substr(from, target.find('&', from) - from);
}

bool isRed(const QColor& colour) { return colour.red() > 200 && colour.green() < 60 && colour.blue() < 60; }

QStringList jpegsBelow(const QString& folder) {
  QStringList found;
  QDirIterator files(folder, {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) found << files.next();
  return found;
}

// The Xvfb of the base fixture goes unused: the desktop here is sway's.
class WaylandDesktopTest : public clienttest::ClientProgramFixture {
 protected:
  void SetUp() override {
    for (const char* tool : {"sway", "grim", "foot", "pipewire", "wireplumber", "dbus-daemon", "dbus-send",
                             "setpriv", "xdotool"})
      if (QStandardPaths::findExecutable(tool).isEmpty())
        SKIP_WITHOUT_TOOL(std::string(tool) +
                          " missing (packages sway, grim, foot, xwayland, pipewire, wireplumber, dbus, "
                          "xdg-desktop-portal-wlr, xdg-desktop-portal-gtk, util-linux, xdotool)");
    if (!QFileInfo::exists("/usr/libexec/xdg-desktop-portal") ||
        !QFileInfo::exists("/usr/libexec/xdg-desktop-portal-wlr"))
      SKIP_WITHOUT_TOOL("xdg-desktop-portal-wlr missing");
    if (geteuid() != 0) GTEST_SKIP() << "running the desktop as another user needs root";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    uid_ = nobody->pw_uid;
    gid_ = nobody->pw_gid;
    ASSERT_EQ(chmod(base_.path().toLocal8Bit().constData(), 0755), 0);
    runtime_ = base_.filePath("runtime");
    ASSERT_TRUE(ownFolder(runtime_));

    session_.setProcessChannelMode(QProcess::ForwardedChannels);
    session_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QProcessEnvironment bare;
    bare.insert("PATH", "/usr/bin:/bin");
    session_.setProcessEnvironment(bare);
    session_.start(
        "setpriv",
        asNobody(QString::fromStdString(testsupport::sourcePath("tests/support/wayland_session.sh")),
                 {runtime_, QString::number(kWidth), QString::number(kHeight)}));
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(runtime_ + "/session.env"); }, 60000, 100))
        << "the Wayland session did not come up";
    nobodyEnvironment_.insert("PATH", "/usr/bin:/bin");
    nobodyEnvironment_.insert("HOME", runtime_);
    nobodyEnvironment_.insert("USER", "nobody");
    nobodyEnvironment_.insert("LANG", "C.UTF-8");
    nobodyEnvironment_.insert("XDG_RUNTIME_DIR", runtime_);
    nobodyEnvironment_.insert("XDG_SESSION_TYPE", "wayland");
    nobodyEnvironment_.insert("XDG_CONFIG_HOME", runtime_ + "/config");
    for (const QString& line :
         QString::fromStdString(testsupport::readFile((runtime_ + "/session.env").toStdString()))
             .split('\n', Qt::SkipEmptyParts))
      nobodyEnvironment_.insert(line.section('=', 0, 0), line.section('=', 1));
  }

  void TearDown() override {
    ClientProgramFixture::TearDown();
    for (QProcess* process : {&terminal_, &session_}) {
      if (process->state() == QProcess::NotRunning) continue;
      process->terminate();
      if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished(10000);
      }
    }
  }

  bool ownFolder(const QString& path) const {
    const QByteArray local = path.toLocal8Bit();
    return QDir().mkpath(path) && chown(local.constData(), uid_, gid_) == 0 &&
           chmod(local.constData(), 0700) == 0;
  }

  QStringList asNobody(const QString& program, const QStringList& arguments) const {
    return QStringList{
               "--reuid", QString::number(uid_), "--regid", QString::number(gid_), "--clear-groups", "--",
               program} +
           arguments;
  }

  QByteArray runAsNobody(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessEnvironment(nobodyEnvironment_);
    process.start("setpriv", asNobody(program, arguments));
    process.waitForFinished(30000);
    if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
  }

  // grim's picture of the output, the reference for what the screen shows.
  QImage grimPicture() {
    const QString file = runtime_ + "/grim.png";
    QFile::remove(file);
    runAsNobody("grim", {file});
    return QImage(file);
  }

  void startTerminalInRed() {
    const QString config = runtime_ + "/config/foot";
    ASSERT_TRUE(QDir().mkpath(config));
    ASSERT_TRUE(testsupport::writeFile((config + "/foot.ini").toStdString(),
                                       "[colors]\nbackground=ff0000\nforeground=ff0000\n"
                                       "[cursor]\ncolor=ff0000 ff0000\n"));
    for (const QString& folder : {runtime_ + "/config", config}) {
      ASSERT_EQ(chown(folder.toLocal8Bit().constData(), uid_, gid_), 0);
    }
    terminal_.setProcessEnvironment(nobodyEnvironment_);
    terminal_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    terminal_.start("setpriv", asNobody("foot", {"-e", "sleep", "600"}));
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
          const QImage seen = grimPicture();
          return !seen.isNull() && isRed(seen.pixelColor(kWidth / 2, kHeight / 2));
        },
        30000, 200))
        << "the terminal did not come up in red";
  }

  // The client in a lesson on this desktop, with the screen read as
  // `capture` says (deployment.ini's wayland_capture), up to its first
  // picture: kept, posted byte for byte, and showing the red terminal.
  void firstLessonPicture(DevServerProcess& server, const std::string& capture) {
    ASSERT_NO_FATAL_FAILURE(startTerminalInRed());
    const QString program = base_.filePath("program");
    ASSERT_TRUE(copyProgramFolder(program, server.port()));
    ASSERT_TRUE(testsupport::writeFile((program + "/deployment.ini").toStdString(),
                                       "wayland_capture=" + capture + "\n"));
    int exitCode = -1;
    run("chown", {"-R", QString("%1:%2").arg(uid_).arg(gid_), program}, &exitCode);
    ASSERT_EQ(exitCode, 0);

    client_.setProcessEnvironment(nobodyEnvironment_);
    client_.setProcessChannelMode(QProcess::ForwardedChannels);
    client_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    client_.start("setpriv", asNobody(program + "/edu-client", {}));
    ASSERT_TRUE(client_.waitForStarted(10000));
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(runtime_ + "/edu_main"); }, 30000));
    // Its window is an X11 window on XWayland.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
          return !runAsNobody("xdotool", {"search", "--name", "^edu_main$"}).trimmed().isEmpty();
        },
        30000, 200));

    // A teacher whose lesson the server still counts: the login takes it up
    // and the screenshot timer runs (every 60 s).
    const QString login =
        QString::fromUtf8(
            "online|2001|张伟|13810012001|1001|东城区第一实验小学|110000|北京市|110100|北京市|"
            "110101|东城区|127.0.0.1:%1|0|0|60|127.0.0.1|2121|0|5.0.33|0|5.0.33|0|"
            "http://127.0.0.1/upgrade.xml|0|1039|1039")
            .arg(server.port());
    runAsNobody(program + "/edu-login", {login}, &exitCode);
    ASSERT_EQ(exitCode, 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(server, "getCouterTime").empty(); }, 10000));
    const std::string diskID =
        sentParameter(requestsTo(server, "getCouterTime").front().target, "hardDiskID");
    const std::string preset = server.control("lesson?hardDiskID=" + diskID +
                                              "&teacherID=2001&timeDiff=125&schoolID=1001&gradeID=3001&"
                                              "classesID=4001&subjectID=5002");
    const std::string processID = QJsonDocument::fromJson(QByteArray::fromStdString(preset))
                                      .object()["lesson"]
                                      .toObject()["processID"]
                                      .toString()
                                      .toStdString();
    ASSERT_FALSE(processID.empty()) << preset;
    runAsNobody(program + "/edu-login", {login}, &exitCode);
    ASSERT_EQ(exitCode, 0);

    ASSERT_TRUE(
        testsupport::waitFor([&] { return !requestsTo(server, "postScreenShot").empty(); }, 150000, 500))
        << "no screenshot within 150 s of the login; the portal's logs:\n"
        << portalLogs();
    const QStringList kept = jpegsBelow(program + "/screen_pic");
    ASSERT_EQ(kept.size(), 1);
    const std::string bytes = testsupport::readFile(kept.front().toStdString());
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return testsupport::readFile(server.dataDir() + "/screens/" + processID + "/1.jpg") == bytes; },
        10000));
    const QImage picture = QImage::fromData(QByteArray::fromStdString(bytes), "JPEG");
    ASSERT_EQ(picture.size(), QSize(kWidth, kHeight));
    // The red terminal fills the screen around the status window (which the
    // compositor may float anywhere on it): its corners show.
    for (const QPoint at : {QPoint(100, 600), QPoint(200, 200), QPoint(1100, 650)})
      EXPECT_TRUE(isRed(picture.pixelColor(at))) << at.x() << "," << at.y();
    picture.save(QDir(QString::fromStdString(testsupport::programDir()))
                     .absoluteFilePath(QString::fromStdString("../tests/artefacts/wayland_lesson_picture_" +
                                                              capture + ".png")));
    const std::string logPath = (program + "/log/edu-client.log").toStdString();
    const std::string log = testsupport::readFile(logPath);
    EXPECT_NE(log.find("desktop session: wayland"), std::string::npos) << log;
    EXPECT_NE(log.find("windows: X11 (QT_QPA_PLATFORM=xcb)"), std::string::npos) << log;
  }

  QTemporaryDir base_;
  // What the portal processes wrote, for a failure's message.
  std::string portalLogs() const {
    std::string logs;
    for (const char* name : {"portal.log", "portal-wlr.log", "portal-gtk.log", "sway.log"}) {
      const std::string text = testsupport::readFile((runtime_ + "/" + name).toStdString());
      logs += std::string("--- ") + name + "\n" + text.substr(text.size() > 4000 ? text.size() - 4000 : 0);
    }
    return logs;
  }

  QString runtime_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  QProcess session_;
  QProcess terminal_;
  QProcessEnvironment nobodyEnvironment_;
};

// Where the compositor offers screencopy (sway does), the picture comes
// straight from it.
TEST_F(WaylandDesktopTest, TheLessonsPictureComesStraightFromTheCompositor) {
  DevServerProcess server;
  ASSERT_TRUE(server.running());
  ASSERT_NO_FATAL_FAILURE(firstLessonPicture(server, "auto"));
  const std::string log =
      testsupport::readFile((base_.filePath("program") + "/log/edu-client.log").toStdString());
  EXPECT_NE(log.find("screenshots straight from the compositor (wlroots screencopy)"), std::string::npos)
      << log;
}

// Through the desktop portal (the general path); with the portal stack
// stopped nothing is kept or posted, the log says why and the notice shows.
TEST_F(WaylandDesktopTest, ThroughThePortalAndWithoutItNothingIsPosted) {
  DevServerProcess server;
  ASSERT_TRUE(server.running());
  ASSERT_NO_FATAL_FAILURE(firstLessonPicture(server, "portal"));
  const QString program = base_.filePath("program");
  const std::string logPath = (program + "/log/edu-client.log").toStdString();
  std::string log = testsupport::readFile(logPath);
  EXPECT_NE(log.find("screenshots through the desktop portal"), std::string::npos) << log;

  // The portal stack stops: the next tick keeps and posts nothing, says why
  // and brings the notice.
  const QStringList portals =
      QString::fromStdString(testsupport::readFile((runtime_ + "/portal.pids").toStdString()))
          .split(' ', Qt::SkipEmptyParts);
  ASSERT_FALSE(portals.isEmpty());
  for (const QString& pid : portals) ::kill(pid.trimmed().toInt(), SIGTERM);
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        log = testsupport::readFile(logPath);
        return log.find("截图失败：") != std::string::npos;
      },
      150000, 500))
      << log;
  EXPECT_NE(log.find("Screenshot portal: "), std::string::npos) << log;
  EXPECT_NE(log.find("Screenshot portal，会话类型 wayland"), std::string::npos) << log;
  EXPECT_TRUE(testsupport::waitFor(
      [&] {
        return !runAsNobody("xdotool", {"search", "--name", "^记时提示$"}).trimmed().isEmpty();
      },
      10000, 200));
  EXPECT_EQ(requestsTo(server, "postScreenShot").size(), 1u);
  EXPECT_EQ(jpegsBelow(program + "/screen_pic").size(), 1);
}

}  // namespace
