#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <filesystem>

#include "platform/program_dir.h"
#include "sys/hd_serial.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class FakeTool : public ::testing::Test {
 protected:
  // A shell script standing in for diskid; it records its pid in "pid".
  std::string tool(const std::string& body) {
    const std::string path = folder() + "/diskid";
    EXPECT_TRUE(testsupport::writeFile(path, "#!/bin/sh\necho $$ > '" + folder() + "/pid'\n" + body));
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  std::string folder() const { return dir_.path().toStdString(); }
  bool toolStillExists() const {
    const pid_t pid = std::stoi(testsupport::readFile(folder() + "/pid"));
    return kill(pid, 0) == 0 || errno != ESRCH;
  }

  QTemporaryDir dir_;
};

TEST_F(FakeTool, ReadsTheSerialLine) {
  const struct {
    const char* name;
    std::string script;
    std::string serial;
  } cases[] = {
      {"CR LF line", "printf 'diskid 1.0\\r\\nHard Drive Serial Number__________:  ABC123\\r\\n'\n",
       "ABC123"},
      {"line written in two pieces",
       "printf 'Hard Drive Serial '; sleep 0.3; printf 'Number__________:XY-77\\n'\n", "XY-77"},
      {"on standard error", "printf 'Hard Drive Serial Number__________:ERR1\\n' >&2\n", "ERR1"},
      {"prints nothing", "exit 0\n", ""},
      {"no line feed at the end", "printf 'Hard Drive Serial Number__________:NOLF'\n", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadToolSerial(tool(c.script)), c.serial) << c.name;
    EXPECT_FALSE(toolStillExists()) << c.name;
  }
  EXPECT_EQ(ReadToolSerial(folder() + "/missing-tool"), "");
  EXPECT_EQ(ReadToolSerial(""), "");
}

// A tool that never ends is stopped at the time limit; what it printed
// counts, it is not left running, and the window kept working meanwhile.
TEST_F(FakeTool, NeverEndingToolIsStoppedAtTheLimit) {
  const std::string path = tool("printf 'Hard Drive Serial Number__________:SLOW9\\n'\nexec sleep 1000\n");
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(20);

  EXPECT_EQ(ReadToolSerial(path, 1500ms), "SLOW9");
  EXPECT_FALSE(toolStillExists());
  EXPECT_GT(ticks, 0);
}

TEST(DiskIdentity, RealToolAndTheCombinedRoutine) {
  ASSERT_TRUE(testsupport::placeBesideTestProgram("diskid")) << "build the diskid target first";
  const std::string diskid = platform::programDir() + "/diskid";

  const std::string fromTool = ReadToolSerial(diskid);
  EXPECT_FALSE(fromTool.empty());
  EXPECT_EQ(ReadToolSerial(), fromTool);

  // The direct ways usually have no device here; whatever they give is trimmed.
  const std::string direct = ReadDiskSerial();
  if (!direct.empty()) {
    EXPECT_GT(static_cast<unsigned char>(direct.front()), 32);
    EXPECT_GT(static_cast<unsigned char>(direct.back()), 32);
  }
  EXPECT_EQ(ReadDiskIdentity(), direct.empty() ? fromTool : direct);
}

}  // namespace
