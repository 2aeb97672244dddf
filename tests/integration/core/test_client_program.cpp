// The built edu-client on a private X server: one copy per session, its
// status window in the top-right corner, messages of the login sender taken
// and answered, a copy of the program folder that runs from wherever it is
// put, and a lesson that the development server still counts taken up after
// the login. The window's look is kept as a picture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "sys/hd_serial.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"
// Last: it brings Xlib.
#include "tests/integration/core/xvfb_display.h"

namespace {

const char* const kLogin =
    "online|T1001|张明|13812345678|S01|实验小学|P44|广东省|C01|广州市|A06|天河区|127.0.0.1:1|1|x|60|"
    "127.0.0.1|21|x|5.0.33|x|5.0.33|x|http://up/info.xml|x|1039|1039";

class ClientProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xvfb_.running() || QStandardPaths::findExecutable("xdotool").isEmpty() ||
        QStandardPaths::findExecutable("import").isEmpty())
      GTEST_SKIP() << "Xvfb, xdotool or ImageMagick missing";
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert("DISPLAY", QString::fromStdString(xvfb_.name()));
    environment_.insert("XDG_RUNTIME_DIR", runtime_.path());
    environment_.insert("QT_QPA_PLATFORM", "xcb");
  }

  void TearDown() override {
    if (client_.state() == QProcess::NotRunning) return;
    client_.kill();
    client_.waitForFinished(10000);
  }

  static QString builtProgram(const char* name) {
    return QString::fromStdString(testsupport::programDir() + "/" + name);
  }

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

  // The lamp and the time display of the status window at 1670,50.
  QByteArray lessonArea() { return run("import", {"-window", "root", "-crop", "190x40+1690+88", "ppm:-"}); }

  void keepPicture(const char* name) {
    const QString picture = QDir(QString::fromStdString(testsupport::programDir()))
                                .absoluteFilePath(QString("../tests/artefacts/") + name);
    QDir().mkpath(QFileInfo(picture).absolutePath());
    run("import", {"-window", "root", "-crop", "260x174+1655+35", picture});
    EXPECT_TRUE(QFile::exists(picture));
  }

  xvfbtest::XvfbDisplay xvfb_{1920, 1080};
  QTemporaryDir runtime_;
  QProcessEnvironment environment_;
  QProcess client_;
};

TEST_F(ClientProgramTest, SecondCopyEndsAtOnceAndTheFirstGoesOn) {
  startClient(builtProgram("edu-client"));
  int exitCode = -1;
  run(builtProgram("edu-client"), {}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(run("xdotool", {"search", "--name", "^edu_main$"}).split('\n').size(), 1);
}

TEST_F(ClientProgramTest, StatusWindowSitsTopRightAndTakesLoginMessages) {
  startClient(builtProgram("edu-client"));
  const QByteArray window = run("xdotool", {"search", "--name", "^edu_main$"});
  const QByteArray geometry = run("xdotool", {"getwindowgeometry", window});
  EXPECT_TRUE(geometry.contains("Position: 1670,50")) << geometry.toStdString();
  EXPECT_TRUE(geometry.contains("Geometry: 230x144")) << geometry.toStdString();

  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin)), 0);
  EXPECT_EQ(sendLogin("offline"), 0);
  // A message that cannot be applied is still answered.
  EXPECT_EQ(sendLogin("online|too|short"), 0);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin)), 0);
  keepPicture("status_window.png");
}

TEST_F(ClientProgramTest, ACopiedProgramFolderResumesTheServersRunningLesson) {
  if (!testsupport::placeBesideTestProgram("diskid")) GTEST_SKIP() << "diskid not built";
  testsupport::DevServerProcess server;
  ASSERT_TRUE(server.running());

  // The program folder, copied elsewhere, with its edu.db pointing at the server.
  QTemporaryDir folder;
  for (const char* name : {"edu-client", "diskid", "edu.db"})
    ASSERT_TRUE(QFile::copy(builtProgram(name), folder.filePath(name))) << name;
  QDir().mkpath(folder.filePath("assets"));
  for (const QString& picture : QDir(builtProgram("assets")).entryList({"status_*.png"}))
    QFile::copy(builtProgram("assets") + "/" + picture, folder.filePath("assets/" + picture));
  QProcess sqlite;
  sqlite.start("sqlite3", {folder.filePath("edu.db"),
                           QString("UPDATE t_login_info SET http_url = '127.0.0.1:%1'").arg(server.port())});
  ASSERT_TRUE(sqlite.waitForFinished(10000) && sqlite.exitCode() == 0);

  const std::string diskID = ReadDiskIdentity();
  ASSERT_FALSE(server.control("lesson?hardDiskID=" + diskID + "&teacherID=2001&timeDiff=125").empty());

  startClient(folder.filePath("edu-client"));
  // Idle: the time display stands still.
  const QByteArray idle = lessonArea();
  ASSERT_FALSE(idle.isEmpty());
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin).replace("T1001", "2001")), 0);

  ASSERT_TRUE(server.waitForRequests(1));
  const testsupport::DevServerRequest request = server.requests().front();
  EXPECT_EQ(request.path(), "/clientInterface-getCouterTime");
  EXPECT_NE(request.target.find("hardDiskID=" + diskID), std::string::npos) << request.target;
  // The resumed lesson counts on from the server's time: the display changes.
  EXPECT_TRUE(testsupport::waitFor([&] { return lessonArea() != idle; }, 20000));
  keepPicture("status_window_resumed.png");
}

}  // namespace
