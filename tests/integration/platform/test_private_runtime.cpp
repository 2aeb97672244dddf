// The runtime folder of a session without XDG_RUNTIME_DIR, against another
// local user (nobody, through setpriv) on the same machine: a temporary
// folder of the test's own stands in for /tmp (mode 1777, named by TMPDIR).
// The other user tries to take the login socket and the lock before the
// client and to send it logins; a folder that the other user made first is
// refused by the client, the lock and the login sender alike.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/login_channel.h"
#include "platform/runtime_dir.h"
#include "platform/single_instance.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

// The other user's moves, as a small Python program run as that user:
//   squat FOLDER MODE  make FOLDER (with MODE) unless it is there, listen on
//                      its login socket and lock its lock file, say which of
//                      these worked, then report every byte a sender hands
//                      it until its standard input closes;
//   send FOLDER        hand a login to the socket in FOLDER.
constexpr const char* kOtherUserMoves = R"PY(
import fcntl, os, select, socket, sys
action, folder = sys.argv[1], sys.argv[2]
done = []
def attempt(name, step):
    try:
        step()
        done.append(name)
    except OSError:
        pass
if action == "send":
    sender = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    attempt("sent", lambda: (sender.connect(folder + "/edu_main"),
                             sender.sendall(b"\0\0\0\0\x06\0\0\0online")))
    print(" ".join(done) or "nothing", flush=True)
    sys.exit(0)
def make():
    os.mkdir(folder)
    os.chmod(folder, int(sys.argv[3], 8))
attempt("made", make)
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
attempt("bound", lambda: (listener.bind(folder + "/edu_main"), listener.listen(8)))
def lock():
    fd = os.open(folder + "/jy_main", os.O_RDONLY | os.O_CREAT, 0o644)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
attempt("locked", lock)
print(" ".join(done) or "nothing", flush=True)
watched = [sys.stdin] + ([listener] if "bound" in done else [])
while True:
    for ready in select.select(watched, [], [])[0]:
        if ready is sys.stdin:
            sys.exit(0)
        elif ready is listener:
            watched.append(listener.accept()[0])
        else:
            data = ready.recv(65536)
            if data:
                print("received", len(data), flush=True)
            else:
                watched.remove(ready)
)PY";

class OtherUser {
 public:
  // Starts a move; `arguments` follow the action's name.
  explicit OtherUser(const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start("setpriv", QStringList{"--reuid=" + QString::number(kOtherUser),
                                          "--regid=" + QString::number(kOtherUser), "--clear-groups",
                                          "/usr/bin/python3", "-c", kOtherUserMoves} +
                                  arguments);
  }
  ~OtherUser() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(10000)) process_.kill();
    process_.waitForFinished(10000);
  }
  // The first line: what it managed.
  std::string outcome() {
    testsupport::waitFor([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                         20000);
    return process_.readLine().trimmed().toStdString();
  }
  // Everything it said after that (a squatter's "received" lines).
  std::string rest() {
    process_.closeWriteChannel();
    process_.waitForFinished(10000);
    return process_.readAll().toStdString();
  }

 private:
  QProcess process_;
};

struct ProgramRun {
  int exitCode = -1;
  std::string err;
};

// A program of the build with this test's environment (no XDG_RUNTIME_DIR,
// TMPDIR the stand-in /tmp); it ends by itself unless `stopOnErr` is set,
// which ends it once its error output holds that text.
ProgramRun runProgram(const QString& name, const QStringList& arguments, const std::string& stopOnErr = {}) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  process.setProcessEnvironment(environment);
  process.start(QString::fromStdString(testsupport::programDir()) + "/" + name, arguments);
  ProgramRun run;
  if (!process.waitForStarted(10000)) return run;
  std::string err;
  testsupport::waitFor(
      [&] {
        err += process.readAllStandardError().toStdString();
        return process.state() == QProcess::NotRunning ||
               (!stopOnErr.empty() && err.find(stopOnErr) != std::string::npos);
      },
      30000);
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(10000);
  } else {
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  run.err = err + process.readAllStandardError().toStdString();
  return run;
}

class PrivateRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) SKIP_WITHOUT_TOOL("acting as another user needs root");
    if (QStandardPaths::findExecutable("setpriv").isEmpty() || !fs::exists("/usr/bin/python3"))
      SKIP_WITHOUT_TOOL("setpriv (util-linux) or /usr/bin/python3 missing");
    char pattern[] = "/tmp/edu-runtime-test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    tmp_ = pattern;
    ::chmod(tmp_.c_str(), 01777);
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
      if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    ours_ = tmp_ + "/edu-" + std::to_string(::geteuid());
  }

  void TearDown() override {
    ::unsetenv("TMPDIR");
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    if (!tmp_.empty()) fs::remove_all(tmp_);
  }

  std::string tmp_;
  std::string ours_;  // the folder the client takes
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(PrivateRuntimeTest, AnotherUserNeitherTakesTheChannelNorHoldsTheLockNorSendsALogin) {
  const platform::RuntimeDir runtime = platform::runtimeDir();
  ASSERT_TRUE(runtime.usable()) << runtime.refusal;
  EXPECT_EQ(runtime.path, ours_);
  struct stat info {};
  ASSERT_EQ(::lstat(ours_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  // The other user comes first and tries everything it can.
  OtherUser squatter({"squat", QString::fromStdString(ours_), "0777"});
  EXPECT_EQ(squatter.outcome(), "nothing");

  platform::SingleInstanceLock lock("jy_main");
  ASSERT_EQ(lock.outcome(), platform::SingleInstanceLock::Outcome::Acquired) << lock.problem();
  ASSERT_EQ(::stat((ours_ + "/jy_main").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  platform::LoginChannelServer channel;
  std::vector<std::string> logins;
  channel.setHandler([&](uint32_t, const std::string& data) { logins.push_back(data); });
  std::string why;
  ASSERT_EQ(platform::loginChannelPath(), ours_ + "/edu_main");
  ASSERT_TRUE(channel.listen(platform::loginChannelPath(), &why)) << why;

  // The other user's sign-in cannot even connect; the teacher's, sent after
  // it, reaches the client and is the only one handled. (The event loop
  // runs while the sender waits, so the channel answers; the sender ends
  // once the client has handled its login.)
  EXPECT_EQ(OtherUser({"send", QString::fromStdString(ours_)}).outcome(), "nothing");
  const ProgramRun run = runProgram("edu-login", {"online|T1"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(logins, std::vector<std::string>{"online|T1"});
  EXPECT_EQ(squatter.rest(), "");
}

TEST_F(PrivateRuntimeTest, AFolderNotOursAloneIsRefusedAndNeverUsed) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> prepare;  // makes `ours_` as the case says
    bool squat;                                       // the other user makes it (mode `mode`) and waits in it
    const char* mode;
    const char* refusal;
  };
  const Case cases[] = {
      {"made by another user", nullptr, true, "0700", "belongs to user 65534"},
      {"made by another user, open to all", nullptr, true, "0777", "belongs to user 65534"},
      {"ours but open to others",
       [](const std::string& folder) {
         fs::create_directory(folder);
         ::chmod(folder.c_str(), 0755);
       },
       false, "", "open to other users"},
      // Others' bits alone, the group's closed.
      {"ours but open to all others",
       [](const std::string& folder) {
         fs::create_directory(folder);
         ::chmod(folder.c_str(), 0701);
       },
       false, "", "open to other users"},
      {"a link to a folder of ours",
       [this](const std::string& folder) {
         fs::create_directory(tmp_ + "/elsewhere");
         ::chmod((tmp_ + "/elsewhere").c_str(), 0700);
         fs::create_directory_symlink(tmp_ + "/elsewhere", folder);
       },
       false, "", "is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(ours_);
    fs::remove_all(tmp_ + "/elsewhere");
    std::optional<OtherUser> squatter;
    if (c.squat) {
      squatter.emplace(QStringList{"squat", QString::fromStdString(ours_), c.mode});
      ASSERT_EQ(squatter->outcome(), "made bound locked");
    } else {
      c.prepare(ours_);
    }
    const platform::RuntimeDir runtime = platform::runtimeDir();
    EXPECT_FALSE(runtime.usable());
    EXPECT_NE(runtime.refusal.find(ours_), std::string::npos) << runtime.refusal;
    EXPECT_NE(runtime.refusal.find(c.refusal), std::string::npos) << runtime.refusal;
    EXPECT_EQ(platform::loginChannelPath(), "");
    platform::SingleInstanceLock lock("jy_main");
    EXPECT_EQ(lock.outcome(), platform::SingleInstanceLock::Outcome::Refused);

    // The login sender hands nothing over; the client does not start and
    // says why.
    const ProgramRun login = runProgram("edu-login", {"online|T1|secret"});
    EXPECT_NE(login.exitCode, 0);
    EXPECT_NE(login.err.find("refused"), std::string::npos) << login.err;
    const ProgramRun client = runProgram("edu-client", {}, "does not start");
    EXPECT_NE(client.err.find("runtime folder refused: " + ours_), std::string::npos) << client.err;

    if (squatter) {
      EXPECT_EQ(squatter->rest(), "");
    } else {
      std::error_code error;
      EXPECT_FALSE(fs::exists(ours_ + "/jy_main", error));
      EXPECT_FALSE(fs::exists(ours_ + "/edu_main", error));
    }
  }
}

// A socket file left in the way is replaced only when it is a socket of
// this user's own that nobody answers on.
TEST_F(PrivateRuntimeTest, OnlyOurOwnStaleSocketIsReplaced) {
  auto staleSocket = [](const std::string& path, uid_t owner) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && ::lchown(path.c_str(), owner, owner) == 0;
  };
  const struct {
    const char* what;
    std::function<bool(const std::string&)> make;
    bool replaced;
  } cases[] = {
      {"our own", [&](const std::string& path) { return staleSocket(path, ::geteuid()); }, true},
      {"another user's", [&](const std::string& path) { return staleSocket(path, kOtherUser); }, false},
      {"a plain file", [](const std::string& path) { return testsupport::writeFile(path, "x"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/edu_main";
    ASSERT_TRUE(c.make(path));
    struct stat before {};
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);
    platform::LoginChannelServer channel;
    std::string why;
    EXPECT_EQ(channel.listen(path, &why), c.replaced) << why;
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    if (c.replaced) {
      EXPECT_TRUE(S_ISSOCK(after.st_mode));
      EXPECT_EQ(after.st_mode & 0777, 0600u);
    } else {
      EXPECT_NE(why.find("left as it is"), std::string::npos) << why;
      EXPECT_EQ(after.st_uid, before.st_uid);
      EXPECT_EQ(after.st_mode, before.st_mode);
    }
  }
}

}  // namespace
