#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>

#include "platform/process.h"
#include "platform/program_dir.h"
#include "sys/process_utils.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(ExecutableNameMatches, ComparesFileNameThenWholePathWithoutCase) {
  const struct {
    const char* name;
    const char* executable;
    bool matches;
  } cases[] = {
      {"LockScreen.exe", "/opt/edu/LockScreen", true},
      {"LockScreen.exe", "/opt/edu/LOCKSCREEN", true},
      {"lockscreen", "/opt/edu/LockScreen.EXE", true},
      {"/opt/edu/lockscreen", "/opt/edu/LockScreen", true},
      {"LockScreen.exe", "/opt/edu/LockScreen2", false},
      {"Lock", "/opt/edu/LockScreen", false},
      {"edu", "/opt/edu/LockScreen", false},
      {"", "/opt/edu/LockScreen", false},
      {"LockScreen", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::executableNameMatches(c.name, c.executable), c.matches)
        << c.name << " vs " << c.executable;
  }
}

// Copies of /bin/sleep under names of our choosing, started as real children.
class SleepingCopies : public ::testing::Test {
 protected:
  std::unique_ptr<QProcess> start(const std::string& name) {
    const std::string path = dir_.path().toStdString() + "/" + name;
    if (!fs::exists(path)) fs::copy_file("/bin/sleep", path);
    auto process = std::make_unique<QProcess>();
    process->start(QString::fromStdString(path), {"300"});
    EXPECT_TRUE(process->waitForStarted(10000)) << name;
    return process;
  }
  static bool ended(QProcess& process) { return process.waitForFinished(10000); }

  QTemporaryDir dir_;
};

TEST_F(SleepingCopies, KillEndsEveryMatchAndNothingElse) {
  auto first = start("EduKillProbe");
  auto second = start("EduKillProbe");
  auto bystander = start("EduKillProbeOther");

  killProcessByName("edukillPROBE.exe");

  EXPECT_TRUE(ended(*first));
  EXPECT_TRUE(ended(*second));
  EXPECT_EQ(first->exitStatus(), QProcess::CrashExit);  // ended by a signal
  EXPECT_EQ(bystander->state(), QProcess::Running);
  bystander->kill();
  bystander->waitForFinished(10000);
}

// A companion that is a script runs in its interpreter's executable; it is
// found by the script's name, however it was started. A shell given the name
// only as text after -c, and another script, are left alone.
TEST(KillProcessByName, FindsCompanionsThatRunAsScripts) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  fs::create_directory(folder + "/python");
  const std::string shell = folder + "/EduScriptProbe";
  const std::string python = folder + "/python/EduScriptProbe";
  const std::string other = folder + "/EduScriptProbeOther";
  ASSERT_TRUE(testsupport::writeFile(shell, "#!/bin/sh\nread line\n"));
  ASSERT_TRUE(testsupport::writeFile(other, "#!/bin/sh\nread line\n"));
  ASSERT_TRUE(testsupport::writeFile(python, "import sys\nsys.stdin.read()\n"));
  fs::permissions(shell, fs::perms::owner_all);
  fs::permissions(other, fs::perms::owner_all);

  const struct {
    const char* what;
    QString program;
    QStringList arguments;
    QString workingFolder;
    bool ended;
  } cases[] = {
      {"started through its #! line", QString::fromStdString(shell), {}, {}, true},
      {"sh /path/script", "/bin/sh", {QString::fromStdString(shell)}, {}, true},
      {"python3 -u script, from its folder",
       "/usr/bin/python3",
       {"-u", "EduScriptProbe"},
       QString::fromStdString(folder + "/python"),
       true},
      {"sh -c text with the name as $0", "/bin/sh", {"-c", "read line", "EduScriptProbe"}, {}, false},
      {"another script", "/bin/sh", {QString::fromStdString(other)}, {}, false},
  };
  std::vector<std::unique_ptr<QProcess>> processes;
  for (const auto& c : cases) {
    auto process = std::make_unique<QProcess>();
    if (!c.workingFolder.isEmpty()) process->setWorkingDirectory(c.workingFolder);
    process->start(c.program, c.arguments);
    ASSERT_TRUE(process->waitForStarted(10000)) << c.what;
    processes.push_back(std::move(process));
  }

  killProcessByName("EduScriptProbe.exe");

  for (size_t i = 0; i < processes.size(); ++i) {
    if (!cases[i].ended) continue;
    EXPECT_TRUE(processes[i]->waitForFinished(10000)) << cases[i].what;
    EXPECT_EQ(processes[i]->exitStatus(), QProcess::CrashExit) << cases[i].what;
  }
  // Signals sent with theirs would have landed by now.
  for (size_t i = 0; i < processes.size(); ++i) {
    if (cases[i].ended) continue;
    const std::string stat =
        testsupport::readFile("/proc/" + std::to_string(processes[i]->processId()) + "/stat");
    const size_t state = stat.rfind(')');
    ASSERT_NE(state, std::string::npos) << cases[i].what;
    EXPECT_NE(stat.substr(state + 2, 1), "Z") << cases[i].what;
    EXPECT_EQ(processes[i]->state(), QProcess::Running) << cases[i].what;
    processes[i]->kill();
    processes[i]->waitForFinished(10000);
  }
}

// Other test cases of this program run in parallel under the same file name,
// so the probe runs in a copy of this program under a name of its own: it
// asks to kill its own name and must live on to exit normally.
TEST(KillProcessByName, NeverEndsTheCallingProcess) {
  if (qEnvironmentVariableIsSet("EDU_SELF_KILL_PROBE")) {
    killProcessByName(fs::read_symlink("/proc/self/exe").filename().string());
    killProcessByName("nothing-runs-under-this-name.exe");
    SUCCEED();  // still here
    return;
  }
  QTemporaryDir dir;
  const std::string copy = dir.path().toStdString() + "/self-kill-probe";
  fs::copy_file("/proc/self/exe", copy);
  fs::permissions(copy, fs::perms::owner_all);
  QProcess probe;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert("EDU_SELF_KILL_PROBE", "1");
  probe.setProcessEnvironment(env);
  probe.start(QString::fromStdString(copy), {"--gtest_filter=KillProcessByName.NeverEndsTheCallingProcess"});
  ASSERT_TRUE(probe.waitForFinished(30000));
  EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(probe.exitCode(), 0);
}

TEST(ProgramDir, IsTheFolderOfTheRunningExecutable) {
  EXPECT_EQ(fs::path(platform::programDir()),
            fs::canonical(QCoreApplication::applicationDirPath().toStdString()));
}

TEST(Companions, ProgramFolderFirstThenPath) {
  ASSERT_TRUE(testsupport::placeBesideTestProgram("diskid")) << "build the diskid target first";
  EXPECT_EQ(platform::findCompanion("diskid.exe"), platform::programDir() + "/diskid");
  EXPECT_EQ(platform::findCompanion("DISKID.EXE"), "");  // file names keep their case here
  EXPECT_EQ(fs::path(platform::findCompanion("sh.exe")).filename(), "sh");
  EXPECT_EQ(platform::findCompanion("no-such-companion"), "");
  EXPECT_EQ(platform::findCompanion("../bin/sh"), "");
  EXPECT_FALSE(platform::startCompanion("no-such-companion.exe"));
}

// The companion must run detached: it outlives a restart of the client, is
// adopted by init rather than left as our zombie, and inherits none of our
// descriptors (the single-instance lock would otherwise stay taken).
TEST(Companions, StartsDetachedWithoutOurDescriptors) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::string marker = folder + "/marker";
  ASSERT_TRUE(testsupport::writeFile(
      folder + "/EduCompanionProbe",
      "#!/bin/sh\n"
      "ls /proc/$$/fd > \"$PROBE_OUT.fds\"\n"
      "echo \"$PPID\" > \"$PROBE_OUT.tmp\" && mv \"$PROBE_OUT.tmp\" \"$PROBE_OUT\"\n"));
  fs::permissions(folder + "/EduCompanionProbe", fs::perms::owner_all);
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(folder) + ":" + oldPath);
  qputenv("PROBE_OUT", QByteArray::fromStdString(marker));
  const int heldOpen = fcntl(0, F_DUPFD, 100);  // a descriptor without close-on-exec

  const bool started = platform::startCompanion("EduCompanionProbe.exe");
  qputenv("PATH", oldPath);
  ASSERT_TRUE(started);
  ASSERT_TRUE(testsupport::waitFor([&] { return fs::exists(marker); }));
  close(heldOpen);

  EXPECT_NE(std::stol(testsupport::readFile(marker)), static_cast<long>(getpid()));
  const std::string fds = testsupport::readFile(marker + ".fds");
  EXPECT_EQ(fds.find(std::to_string(heldOpen) + "\n"), std::string::npos) << fds;
}

}  // namespace
