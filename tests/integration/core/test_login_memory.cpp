// The built edu-client against a development server whose every reply is
// about 5 MB: each login brings such a reply (the running lesson), and the
// class-start page that the teacher opens after it brings two more (the
// grade list and the subjects), which pass through the hidden log and the
// page. Once the client is idle again, 100 logins leave it holding about
// what one did.
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "tests/support/devserver_process.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

// A teacher of the development server's seed at his school; the FTP
// credentials are of no use here.
const char* const kLogin =
    "online|2001|张伟|13810012001|1001|第一实验小学|44|广东省|4401|广州市|440106|天河区|127.0.0.1:1|0|0|60|"
    "127.0.0.1|21|0|5.0.33|0|5.0.33|0|http://127.0.0.1/upgrade.xml|0|1039|1039";

// One field of /proc/<pid>/status in KiB, or of /proc/<pid>/stat (CPU ticks
// used, user and system together); -1 when it cannot be read.
long residentKiB(qint64 pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

long cpuTicks(qint64 pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The fields after the program's name, which may hold blanks, in brackets.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);
  }
  return ticks;
}

// The status window's first button, 上课计时, which opens the main panel on
// the class-start page.
const QPoint kLessonButton(4 + 59, 96 + 20);

size_t requestsTo(const testsupport::DevServerProcess& server, const std::string& operation) {
  size_t count = 0;
  for (const auto& request : server.requests()) count += request.path() == "/clientInterface-" + operation;
  return count;
}

class LoginMemoryTest : public clienttest::ClientProgramFixture {
 protected:
  // A login, then the teacher opens the class-start page; returns once the
  // page has asked for its grade list and the client is idle again.
  void loginAndOpenThePage(const testsupport::DevServerProcess& server, int round) {
    ASSERT_EQ(sendLogin(QString::fromUtf8(kLogin)), 0);
    const QPoint button = kStatusWindowAt + kLessonButton;
    run("xdotool", {"mousemove", QString::number(button.x()), QString::number(button.y()), "click", "1"});
    ASSERT_TRUE(
        testsupport::waitFor([&] { return requestsTo(server, "getGradeInfo") >= size_t(round); }, 60000))
        << "the class-start page did not ask for its grades in round " << round;
    ASSERT_TRUE(waitUntilIdle(server)) << "round " << round;
  }

  // Idle: for 1.5 s neither has the server heard a request nor has the
  // client used any processor time.
  bool waitUntilIdle(const testsupport::DevServerProcess& server) {
    const qint64 pid = client_.processId();
    size_t requests = server.requests().size();
    long ticks = cpuTicks(pid);
    QDeadlineTimer quiet(1500);
    return testsupport::waitFor(
        [&] {
          const size_t nowRequests = server.requests().size();
          const long nowTicks = cpuTicks(pid);
          if (nowRequests != requests || nowTicks != ticks) {
            requests = nowRequests;
            ticks = nowTicks;
            quiet.setRemainingTime(1500);
          }
          return quiet.hasExpired();
        },
        120000);
  }
};

TEST_F(LoginMemoryTest, AHundredLoginsWithHugeRepliesLeaveTheIdleClientAsItWasAfterTheFirst) {
  testsupport::DevServerProcess server({"--mode", "big"});
  ASSERT_TRUE(server.running());
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), server.port()));
  startClient(folder.filePath("edu-client"));
  const qint64 pid = client_.processId();

  ASSERT_NO_FATAL_FAILURE(loginAndOpenThePage(server, 1));
  const long afterFirst = residentKiB(pid);
  ASSERT_GT(afterFirst, 0);
  for (int round = 2; round <= 100; ++round) {
    ASSERT_NO_FATAL_FAILURE(loginAndOpenThePage(server, round));
    if (round % 25 == 0) std::printf("resident after %d logins: %ld KiB\n", round, residentKiB(pid));
  }
  const long afterHundred = residentKiB(pid);
  RecordProperty("rss_after_first_kib", std::to_string(afterFirst));
  RecordProperty("rss_after_hundred_kib", std::to_string(afterHundred));
  std::printf("resident after the first login %ld KiB, after 100 logins %ld KiB\n", afterFirst, afterHundred);
  EXPECT_LE(afterHundred, afterFirst + 20 * 1024);
  EXPECT_EQ(client_.state(), QProcess::Running);
}

}  // namespace
