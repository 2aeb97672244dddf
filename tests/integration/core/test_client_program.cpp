// The built edu-client on a private X server: one copy per session, its
// status window in the top-right corner, messages of the login sender taken
// and answered, a copy of the program folder that runs from wherever it is
// put, and a lesson that the development server still counts taken up after
// the login; with the delivered edu.db it asks for the server address, and
// every run writes its start-up lines into its log file. The window's look
// is kept as a picture.
#include <QDir>
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
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), testsupport::freePort()));
  startClient(folder.filePath("edu-client"));
  int exitCode = -1;
  run(folder.filePath("edu-client"), {}, &exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(run("xdotool", {"search", "--name", "^edu_main$"}).split('\n').size(), 1);
}

// --version needs no display and no session: it prints and ends.
TEST_F(ClientProgramTest, VersionIsPrintedWithoutADisplay) {
  QProcess version;
  QProcessEnvironment bare;
  bare.insert("PATH", "/usr/bin:/bin");
  version.setProcessEnvironment(bare);
  version.start(builtProgram("edu-client"), {"--version"});
  ASSERT_TRUE(version.waitForFinished(10000));
  EXPECT_EQ(version.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(version.exitCode(), 0);
  EXPECT_EQ(version.readAllStandardOutput().toStdString(), "edu-client 5.0.33\n");
}

TEST_F(ClientProgramTest, StatusWindowSitsTopRightAndTakesLoginMessages) {
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), testsupport::freePort()));
  startClient(folder.filePath("edu-client"));
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

TEST_F(ClientProgramTest, TheDeliveredDatabaseAsksForTheAddressAndTheRunIsLogged) {
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), 0));
  startClient(folder.filePath("edu-client"));
  // The first activation finds no stored address and asks for one.
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        return !run("xdotool", {"search", "--name", "^请输入服务器地址$"}).isEmpty();
      },
      20000));
  keepPicture("server_address_box.png", QRect(kScreenWidth - 700, 0, 700, 400));

  const QString log = folder.filePath("log/edu-client.log");
  const std::string folderText = folder.path().toStdString();
  for (const std::string& line :
       {std::string(" edu-client 5.0.33 starting (process "), " program folder: " + folderText + "\n",
        " data folder: " + folderText + " (the program folder, which is writable)\n",
        " log file: " + folderText + "/log/edu-client.log (5 files of 1024 KiB)\n",
        " edu.db: " + folderText + "/edu.db\n", std::string(" disk identity: "),
        std::string(" login channel: listening on "), std::string(" F4 key hook: not held")}) {
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return testsupport::readFile(log.toStdString()).find(line) != std::string::npos; }, 10000))
        << line << testsupport::readFile(log.toStdString());
  }
  // The login message goes there too, as the hidden box holds it.
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin)), 0);
  EXPECT_NE(testsupport::readFile(log.toStdString()).find("online|T1001|张明|"), std::string::npos);
}

TEST_F(ClientProgramTest, AFiveMegabyteReplyLeavesOneCutLineInTheLogFile) {
  testsupport::DevServerProcess server({"--mode", "big"});
  ASSERT_TRUE(server.running());
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), server.port()));
  startClient(folder.filePath("edu-client"));
  // 上课计时 opens the main panel on the class-start page, whose grade list
  // comes padded to about 5 MB; its handler logs the whole reply.
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin).replace("T1001", "2001").replace("S01", "1001")), 0);
  const QPoint lessonButton = kStatusWindowAt + QPoint(60, 116);
  run("xdotool",
      {"mousemove", QString::number(lessonButton.x()), QString::number(lessonButton.y()), "click", "1"});
  const std::string logPath = folder.filePath("log/edu-client.log").toStdString();
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return testsupport::readFile(logPath).find("Tform_skjs.GetGrade") != std::string::npos; }, 30000))
      << testsupport::readFile(logPath);

  const std::string log = testsupport::readFile(logPath);
  const size_t start = log.find("Tform_skjs.GetGrade");
  const size_t end = log.find("bytes)", start);
  ASSERT_NE(end, std::string::npos) << log.substr(start, 300);
  // The cut reply with its status line and headers: 4 KiB of the client's
  // text (up to half as much again in UTF-8), then its full size.
  EXPECT_LT(end - start, 6144u);
  const size_t size = std::stoul(log.substr(log.rfind("(", end) + 1));
  EXPECT_GT(size, 4000000u);
  EXPECT_LT(log.size(), 64u * 1024) << "no log line grows with the reply";
}

// A damaged edu.db, at start-up and again while the client runs: the client
// stays up, each damaged file is kept aside, the stored address survives
// the first (only an index was torn), and the lists come from the server.
TEST_F(ClientProgramTest, ADamagedEduDbAtStartAndMidRunIsKeptAsideAndTheClientGoesOn) {
  testsupport::DevServerProcess server;
  ASSERT_TRUE(server.running());
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), server.port()));
  const std::string database = folder.filePath("edu.db").toStdString();
  // The teacher list's index page torn apart.
  const int page = run("sqlite3", {folder.filePath("edu.db"),
                                   "SELECT rootpage FROM sqlite_master WHERE name = 't_teacher_school'"})
                       .toInt();
  const int pageSize = run("sqlite3", {folder.filePath("edu.db"), "PRAGMA page_size"}).toInt();
  ASSERT_GT(page, 1);
  ASSERT_GT(pageSize, 0);
  std::string bytes = testsupport::readFile(database);
  std::fill(bytes.begin() + (page - 1) * pageSize, bytes.begin() + page * pageSize, '\xff');
  ASSERT_TRUE(testsupport::writeFile(database, bytes));

  startClient(folder.filePath("edu-client"));
  const std::string logPath = folder.filePath("log/edu-client.log").toStdString();
  const auto damagedCopies = [&] {
    return QDir(folder.path()).entryList({"edu.db.damaged-*"}, QDir::Files).size();
  };
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return testsupport::readFile(logPath).find("edu.db: damaged") != std::string::npos; }, 10000))
      << testsupport::readFile(logPath);
  EXPECT_EQ(damagedCopies(), 1);
  EXPECT_EQ(run("sqlite3", {folder.filePath("edu.db"), "PRAGMA quick_check"}), "ok");
  EXPECT_EQ(run("sqlite3", {folder.filePath("edu.db"), "SELECT http_url FROM t_login_info"}),
            QString("127.0.0.1:%1").arg(server.port()).toUtf8());

  // Broken again while it runs: the login's look for an offline lesson to
  // take up reads it.
  ASSERT_TRUE(testsupport::writeFile(database, std::string(bytes.size(), 'x')));
  const QString login = QString::fromUtf8(kLogin).replace("T1001", "2001").replace("S01", "1001");
  EXPECT_EQ(sendLogin(login), 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return damagedCopies() == 2; }, 20000))
      << testsupport::readFile(logPath);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(run("sqlite3", {folder.filePath("edu.db"), "PRAGMA quick_check"}), "ok");

  // The panel's lists come from the server into the new file.
  const QPoint lessonButton = kStatusWindowAt + QPoint(60, 116);
  run("xdotool",
      {"mousemove", QString::number(lessonButton.x()), QString::number(lessonButton.y()), "click", "1"});
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        return run("sqlite3", {folder.filePath("edu.db"), "SELECT count(*) FROM t_grade"}).toInt() > 0;
      },
      20000))
      << testsupport::readFile(logPath);
  EXPECT_EQ(client_.state(), QProcess::Running);
  // No box came up: a replaced file needs no word to the teacher.
  EXPECT_EQ(run("xdotool", {"search", "--name", "^提示$"}), "");
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
  const std::string log = testsupport::readFile(folder.filePath("log/edu-client.log").toStdString());
  EXPECT_NE(log.find(" server address in use: 127.0.0.1:" + std::to_string(server.port()) +
                     "/ (stored in edu.db)\n"),
            std::string::npos)
      << log;
}

}  // namespace
