// The built edu-client on a private 1920 x 1080 X server, for the tests that
// run the real program: its own runtime folder (so its lock and login socket
// are the test's own), the login sender, xdotool and ImageMagick's import
// run on that display, copies of the program folder pointed at a test
// server, and pictures of the screen kept in build/tests/artefacts.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "tests/support/pictures.h"
#include "tests/support/test_support.h"
// Last: it brings Xlib.
#include "tests/integration/core/xvfb_display.h"

namespace clienttest {

class ClientProgramFixture : public ::testing::Test {
 protected:
  static constexpr int kScreenWidth = 1920;
  static constexpr int kScreenHeight = 1080;
  // Where the status window stands on that screen: left = width - 250, top 50.
  static constexpr QPoint kStatusWindowAt{kScreenWidth - 250, 50};

  void SetUp() override {
    if (!xvfb_.running() || QStandardPaths::findExecutable("xdotool").isEmpty() ||
        QStandardPaths::findExecutable("import").isEmpty())
      SKIP_WITHOUT_TOOL("Xvfb, xdotool or ImageMagick missing (packages xvfb, xdotool, imagemagick)");
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert("DISPLAY", QString::fromStdString(xvfb_.name()));
    environment_.insert("XDG_RUNTIME_DIR", runtime_.path());
    environment_.insert("QT_QPA_PLATFORM", "xcb");
    // The site's settings of the test's own, never the machine's /etc.
    environment_.insert("EDU_ETC_DIR", etc_.path());
  }

  // Writes one of the site's settings files (a path below
  // /etc/edu-client), as an admin would.
  bool writeSiteFile(const QString& relative, const std::string& text) {
    const QString path = etc_.path() + "/edu-client/" + relative;
    return QDir().mkpath(QFileInfo(path).path()) && testsupport::writeFile(path.toStdString(), text);
  }

  void TearDown() override {
    if (client_.state() == QProcess::NotRunning) return;
    client_.kill();
    client_.waitForFinished(10000);
  }

  static QString builtProgram(const QString& name) {
    return QString::fromStdString(testsupport::programDir()) + "/" + name;
  }

  // Starts the client and waits until its window is mapped and its login
  // socket listens.
  void startClient(const QString& program) {
    client_.setProcessEnvironment(environment_);
    client_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    client_.start(program, {});
    ASSERT_TRUE(client_.waitForStarted(10000));
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
          return !run("xdotool", {"search", "--name", "^edu_main$"}).isEmpty();
        },
        30000));
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(runtime_.filePath("edu_main")); }, 10000));
  }

  // Runs a program to its end on the private display; gives its output.
  QByteArray run(const QString& name, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(name, arguments);
    // The client answers the login sender on its own event loop, not ours.
    process.waitForFinished(30000);
    if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput().trimmed();
  }

  int sendLogin(const QString& text) {
    int exitCode = -1;
    run(builtProgram("edu-login"), {text}, &exitCode);
    return exitCode;
  }

  // A rectangle of the screen as it is now (null when it cannot be read).
  QImage screenArea(const QRect& area) {
    return QImage::fromData(run("import", {"-window", "root", "-crop", cropGeometry(area), "ppm:-"}), "PPM");
  }

  // A rectangle of the status window, in the window's own coordinates.
  QImage statusWindowArea(const QRect& area) { return screenArea(area.translated(kStatusWindowAt)); }

  // Keeps a picture of a rectangle of the screen in build/tests/artefacts.
  void keepPicture(const QString& name, const QRect& area) {
    const QString picture = artefactPath(name);
    QDir().mkpath(QFileInfo(picture).absolutePath());
    QFile::remove(picture);
    run("import", {"-window", "root", "-crop", cropGeometry(area), picture});
    EXPECT_TRUE(QFile::exists(picture)) << picture.toStdString();
  }

  // Keeps a picture as keepPicture does and expects it to show what the
  // reference picture of the same name in tests/reference shows, outside the
  // rectangles of `ignore` (in the picture's own coordinates: what changes
  // from run to run). EDU_REMAKE_REFERENCES=1 makes it the reference.
  // A window that is still being drawn is given time to settle: the
  // picture is kept once it matches, or after ten seconds.
  void keepAndCompare(const QString& name, const QRect& area, const QList<QRect>& ignore = {}) {
    const QString artefact = artefactPath(name);
    if (!testsupport::remakingReferences())
      testsupport::waitFor(
          [&] { return testsupport::compareWithReference(name, screenArea(area), {}, ignore).isEmpty(); },
          10000, 200);
    keepPicture(name, area);
    const QString problem = testsupport::compareWithReference(name, QImage(artefact), artefact, ignore);
    EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
  }

  // What the client's diagnostic log in its data folder `folder` holds.
  static std::string clientLog(const QString& folder) {
    return testsupport::readFile((folder + "/log/edu-client.log").toStdString());
  }

  // How many requests whose target begins with `target` the log says were
  // answered or failed. The log has the outcome just before the client
  // handles it, so anything asked of the client after the count went up
  // (a click, a key) finds the answer handled.
  static int requestOutcomes(const QString& folder, const std::string& target) {
    const std::string log = clientLog(folder);
    int count = 0;
    // "GET /path… answered, N bytes" or "GET host:port/path… failed: why".
    for (size_t at = log.find(target); at != std::string::npos; at = log.find(target, at + 1)) {
      const size_t begin = log.rfind('\n', at) + 1;
      const std::string line = log.substr(begin, log.find('\n', at) - begin);
      const size_t get = line.find("GET ");
      if (get == std::string::npos || line.find(' ', get + 4) < line.find(target)) continue;
      if (line.find(" answered, ") != std::string::npos || line.find(" failed: ") != std::string::npos)
        ++count;
    }
    return count;
  }

  // The status window with a margin around it.
  static QRect statusWindowSurroundings() { return QRect(kStatusWindowAt - QPoint(15, 15), QSize(260, 174)); }

  // Copies the built program folder (the client, the companions and the
  // pictures; not what an earlier run left in it) into `folder`, with the
  // demo's edu.db pointed at a server on this machine's `serverPort`; with
  // port 0 the copy keeps the delivered edu.db, which has no rows.
  static bool copyProgramFolder(const QString& folder, int serverPort) {
    const QDir built(QString::fromStdString(testsupport::programDir()));
    QDirIterator files(built.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
      const QString relative = built.relativeFilePath(files.next());
      if (relative.startsWith("screen_pic/") || relative.startsWith("courseware/") ||
          relative.startsWith("log/"))
        continue;
      const QString target = folder + "/" + relative;
      if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(built.filePath(relative), target))
        return false;
    }
    if (serverPort == 0) return true;
    if (!testsupport::seedDemoDatabase(folder.toStdString())) return false;
    QProcess sqlite;
    sqlite.start("sqlite3", {folder + "/edu.db",
                             QString("UPDATE t_login_info SET http_url = '127.0.0.1:%1'").arg(serverPort)});
    return sqlite.waitForFinished(10000) && sqlite.exitStatus() == QProcess::NormalExit &&
           sqlite.exitCode() == 0;
  }

  xvfbtest::XvfbDisplay xvfb_{kScreenWidth, kScreenHeight};
  QTemporaryDir runtime_;
  QTemporaryDir etc_;
  QProcessEnvironment environment_;
  QProcess client_;

 private:
  static QString artefactPath(const QString& name) {
    return QDir(QString::fromStdString(testsupport::programDir()))
        .absoluteFilePath("../tests/artefacts/" + name);
  }

  static QString cropGeometry(const QRect& area) {
    return QString("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
  }
};

}  // namespace clienttest
