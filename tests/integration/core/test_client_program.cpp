// The built edu-client on a private X server: one copy per session, its
// status window in the top-right corner, messages of the login sender taken
// and answered, and the window's look kept as a picture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "tests/support/test_support.h"
// Last: it brings Xlib.
#include "tests/integration/core/xvfb_display.h"

namespace {

class ClientProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xvfb_.running() || QStandardPaths::findExecutable("xdotool").isEmpty())
      GTEST_SKIP() << "Xvfb or xdotool missing";
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert("DISPLAY", QString::fromStdString(xvfb_.name()));
    environment_.insert("XDG_RUNTIME_DIR", runtime_.path());
    environment_.insert("QT_QPA_PLATFORM", "xcb");
    client_.setProcessEnvironment(environment_);
    client_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    client_.start(program("edu-client"), {});
    ASSERT_TRUE(client_.waitForStarted(10000));
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
          return !run("xdotool", {"search", "--name", "^edu_main$"}).isEmpty();
        },
        30000));
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(runtime_.filePath("edu_main")); }, 10000));
  }

  void TearDown() override {
    if (client_.state() == QProcess::NotRunning) return;
    client_.kill();
    client_.waitForFinished(10000);
  }

  static QString program(const char* name) {
    return QString::fromStdString(testsupport::programDir() + "/" + name);
  }

  // Runs a program to its end on the private display; gives its output.
  QString run(const QString& name, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(name, arguments);
    // The client answers the login sender on its own event loop, not ours.
    process.waitForFinished(30000);
    if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  }

  xvfbtest::XvfbDisplay xvfb_{1920, 1080};
  QTemporaryDir runtime_;
  QProcessEnvironment environment_;
  QProcess client_;
};

TEST_F(ClientProgramTest, SecondCopyEndsAtOnceAndTheFirstGoesOn) {
  int exitCode = -1;
  run(program("edu-client"), {}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(run("xdotool", {"search", "--name", "^edu_main$"}).split('\n').size(), 1);
}

TEST_F(ClientProgramTest, StatusWindowSitsTopRightAndTakesLoginMessages) {
  const QString window = run("xdotool", {"search", "--name", "^edu_main$"});
  const QString geometry = run("xdotool", {"getwindowgeometry", window});
  EXPECT_TRUE(geometry.contains("Position: 1670,50")) << geometry.toStdString();
  EXPECT_TRUE(geometry.contains("Geometry: 230x144")) << geometry.toStdString();

  const QString login = QString::fromUtf8(
      "online|T1001|张明|13812345678|S01|实验小学|P44|广东省|C01|广州市|A06|天河区|127.0.0.1:1|1|x|60|"
      "127.0.0.1|21|x|5.0.33|x|5.0.33|x|http://up/info.xml|x|1039|1039");
  int exitCode = -1;
  run(program("edu-login"), {login}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  run(program("edu-login"), {"offline"}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  // A message that cannot be applied is still answered.
  run(program("edu-login"), {"online|too|short"}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(client_.state(), QProcess::Running);

  // The window's look, kept beside the test programs.
  run(program("edu-login"), {login}, &exitCode);
  if (!QStandardPaths::findExecutable("import").isEmpty()) {
    const QString picture = QDir(QString::fromStdString(testsupport::programDir()))
                                .absoluteFilePath("../tests/artefacts/status_window.png");
    QDir().mkpath(QFileInfo(picture).absolutePath());
    run("import", {"-window", "root", "-crop", "260x174+1655+35", picture});
    EXPECT_TRUE(QFile::exists(picture));
  }
}

}  // namespace
