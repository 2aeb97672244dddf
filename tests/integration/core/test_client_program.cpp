// The built edu-client on a private X server: one copy per session, its
// status window in the top-right corner, messages of the login sender taken
// and answered, a copy of the program folder that runs from wherever it is
// put, and a lesson that the development server still counts taken up after
// the login. The window's look is kept as a picture.
#include <QTemporaryDir>

#include "sys/hd_serial.h"
#include "tests/support/devserver_process.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

const char* const kLogin =
    "online|T1001|张明|13812345678|S01|实验小学|P44|广东省|C01|广州市|A06|天河区|127.0.0.1:1|1|x|60|"
    "127.0.0.1|21|x|5.0.33|x|5.0.33|x|http://up/info.xml|x|1039|1039";

class ClientProgramTest : public clienttest::ClientProgramFixture {
 protected:
  // The lamp and the time display of the status window.
  QImage lessonArea() { return statusWindowArea(QRect(20, 38, 190, 40)); }
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
  keepPicture("status_window.png", statusWindowSurroundings());
}

TEST_F(ClientProgramTest, ACopiedProgramFolderResumesTheServersRunningLesson) {
  if (!testsupport::placeBesideTestProgram("diskid"))
    SKIP_WITHOUT_TOOL("diskid not built (build the diskid target)");
  testsupport::DevServerProcess server;
  ASSERT_TRUE(server.running());

  // The program folder, copied elsewhere, with its edu.db pointing at the server.
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), server.port()));

  const std::string diskID = ReadDiskIdentity();
  ASSERT_FALSE(server.control("lesson?hardDiskID=" + diskID + "&teacherID=2001&timeDiff=125").empty());

  startClient(folder.filePath("edu-client"));
  // Idle: the time display stands still.
  const QImage idle = lessonArea();
  ASSERT_FALSE(idle.isNull());
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin).replace("T1001", "2001")), 0);

  ASSERT_TRUE(server.waitForRequests(1));
  const testsupport::DevServerRequest request = server.requests().front();
  EXPECT_EQ(request.path(), "/clientInterface-getCouterTime");
  EXPECT_NE(request.target.find("hardDiskID=" + diskID), std::string::npos) << request.target;
  // The resumed lesson counts on from the server's time: the display changes.
  EXPECT_TRUE(testsupport::waitFor([&] { return lessonArea() != idle; }, 20000));
  keepPicture("status_window_resumed.png", statusWindowSurroundings());
}

}  // namespace
