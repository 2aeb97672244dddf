// The single-instance lock, the login channel and the login sender, run for
// real on local sockets and lock files in a temporary folder.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/login_channel.h"
#include "platform/single_instance.h"
#include "sys/protected_text.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;
using platform::LoginChannelServer;
using platform::SingleInstanceLock;

TEST(SingleInstanceLock, SecondHolderIsTurnedAwayUntilTheFirstLetsGo) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  {
    SingleInstanceLock first("jy_main", folder);
    ASSERT_EQ(first.outcome(), SingleInstanceLock::Outcome::Acquired);
    SingleInstanceLock second("jy_main", folder);
    EXPECT_EQ(second.outcome(), SingleInstanceLock::Outcome::HeldElsewhere);
    SingleInstanceLock other("another", folder);
    EXPECT_EQ(other.outcome(), SingleInstanceLock::Outcome::Acquired);
  }
  SingleInstanceLock again("jy_main", folder);
  EXPECT_EQ(again.outcome(), SingleInstanceLock::Outcome::Acquired);

  SingleInstanceLock nowhere("jy_main", folder + "/missing/folder");
  EXPECT_EQ(nowhere.outcome(), SingleInstanceLock::Outcome::Failed);
}

// A receiver in a temporary folder that records what it handles.
struct Receiver {
  QTemporaryDir dir;
  std::string path = dir.path().toStdString() + "/edu_main";
  LoginChannelServer server;
  std::vector<std::pair<uint32_t, std::string>> frames;
  std::vector<std::string> notices;

  Receiver() {
    server.setHandler(
        [this](uint32_t dwData, const std::string& data) { frames.emplace_back(dwData, data); });
    server.setNotice([this](const std::string& what) { notices.push_back(what); });
  }
  bool listen() { return server.listen(path); }
};

// A sender that writes raw bytes, for frames in pieces and broken frames.
class RawSender {
 public:
  explicit RawSender(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawSender() { ::close(fd_); }
  bool connected() const { return connected_; }
  void write(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void finishWriting() { ::shutdown(fd_, SHUT_WR); }
  // Runs the event loop until the receiver has read every byte written so
  // far (the socket's send queue holds what its peer has not yet read).
  bool waitUntilRead() {
    return testsupport::waitFor([&] {
      int unread = 0;
      return ::ioctl(fd_, SIOCOUTQ, &unread) == 0 && unread == 0;
    });
  }
  // Everything the receiver sends until it closes (the loop runs meanwhile).
  std::string readToEnd(int timeoutMs = 10000) {
    std::string all;
    closed_ = testsupport::waitFor(
        [&] {
          char buffer[64];
          const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
          if (n > 0) all.append(buffer, static_cast<size_t>(n));
          return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        },
        timeoutMs);
    return all;
  }
  // Whether the last readToEnd saw the receiver close.
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
};

const std::string kAnswer(4, '\0');

TEST(LoginChannel, FrameRoundTripAnswersZeroAfterHandling) {
  Receiver receiver;
  ASSERT_TRUE(receiver.listen());
  struct stat info {};
  ASSERT_EQ(::stat(receiver.path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const std::string data = text::utf8ToGbk("online|T1|张明") + std::string("\0tail", 5);
  auto sent = std::async(std::launch::async,
                         [&] { return platform::sendLoginFrame(receiver.path, 0x1234ABCD, data, 10s); });
  ASSERT_TRUE(testsupport::waitFor([&] { return sent.wait_for(0s) == std::future_status::ready; }));
  const platform::LoginSendResult result = sent.get();
  EXPECT_TRUE(result.answered) << result.error;
  EXPECT_EQ(result.answer, 0u);
  ASSERT_EQ(receiver.frames.size(), 1u);
  EXPECT_EQ(receiver.frames[0].first, 0x1234ABCDu);
  EXPECT_EQ(receiver.frames[0].second, data);
}

TEST(LoginChannel, FramesInPiecesAndSeveralSendersAreEachHandledOnce) {
  Receiver receiver;
  ASSERT_TRUE(receiver.listen());
  RawSender a(receiver.path), b(receiver.path);
  ASSERT_TRUE(a.connected() && b.connected());

  const std::string first = platform::encodeLoginFrame(1, "online|first");
  a.write(first.substr(0, 3));  // not even a whole header
  b.write(platform::encodeLoginFrame(2, "") + platform::encodeLoginFrame(3, "offline"));
  ASSERT_TRUE(testsupport::waitFor([&] { return receiver.frames.size() == 2; }));
  a.write(first.substr(3, 7));
  ASSERT_TRUE(a.waitUntilRead());
  EXPECT_EQ(receiver.frames.size(), 2u);
  a.write(first.substr(10));
  a.finishWriting();
  b.finishWriting();
  EXPECT_EQ(a.readToEnd(), kAnswer);
  EXPECT_EQ(b.readToEnd(), kAnswer + kAnswer);

  const std::vector<std::pair<uint32_t, std::string>> expected = {
      {2, ""}, {3, "offline"}, {1, "online|first"}};
  EXPECT_EQ(receiver.frames, expected);
  EXPECT_TRUE(receiver.notices.empty());
}

TEST(LoginChannel, BrokenFramesAreCutOffUnhandledAndTheChannelGoesOn) {
  Receiver receiver;
  receiver.server.setIdleLimit(200ms);
  ASSERT_TRUE(receiver.listen());
  {
    RawSender oversized(receiver.path);
    oversized.write(platform::encodeLoginFrame(0, "x").substr(0, 4) + std::string("\xFF\xFF\xFF\x7F", 4));
    EXPECT_EQ(oversized.readToEnd(), "");
  }
  {
    RawSender cutShort(receiver.path);
    cutShort.write(platform::encodeLoginFrame(0, "online|never finished").substr(0, 12));
    cutShort.finishWriting();
    EXPECT_EQ(cutShort.readToEnd(), "");
  }
  {
    RawSender silent(receiver.path);
    silent.write(platform::encodeLoginFrame(0, "online|stalls").substr(0, 9));
    EXPECT_EQ(silent.readToEnd(), "");  // after the idle limit
  }
  EXPECT_TRUE(receiver.frames.empty());
  EXPECT_EQ(receiver.notices.size(), 3u);

  RawSender good(receiver.path);
  good.write(platform::encodeLoginFrame(0, "offline"));
  good.finishWriting();
  EXPECT_EQ(good.readToEnd(), kAnswer);
  ASSERT_EQ(receiver.frames.size(), 1u);
}

// Senders that connect and say nothing (a stuck companion, a stray script)
// take every place; a login still gets through, and each silent one is
// dropped in its turn.
TEST(LoginChannel, IdleSendersNeverKeepALoginOut) {
  Receiver receiver;
  receiver.server.setIdleLimit(1h);  // room is made by dropping, not by waiting
  ASSERT_TRUE(receiver.listen());
  std::vector<std::unique_ptr<RawSender>> idle;
  for (int i = 0; i < 24; ++i) {
    idle.push_back(std::make_unique<RawSender>(receiver.path));
    ASSERT_TRUE(idle.back()->connected());
  }
  for (int login = 0; login < 2; ++login) {
    auto sent = std::async(std::launch::async,
                           [&] { return platform::sendLoginFrame(receiver.path, 0, "online|T1", 20s); });
    ASSERT_TRUE(testsupport::waitFor([&] { return sent.wait_for(0s) == std::future_status::ready; }, 30000));
    const platform::LoginSendResult result = sent.get();
    EXPECT_TRUE(result.answered) << result.error;
  }
  EXPECT_EQ(receiver.frames.size(), 2u);
  EXPECT_EQ(idle.front()->readToEnd(), "");  // the one silent longest went first
  EXPECT_TRUE(idle.front()->closed());
}

// A sender that says nothing at all goes after a few seconds, without any
// limit set.
TEST(LoginChannel, ASenderThatSaysNothingIsDropped) {
  Receiver receiver;
  ASSERT_TRUE(receiver.listen());
  RawSender mute(receiver.path);
  ASSERT_TRUE(mute.connected());
  EXPECT_EQ(mute.readToEnd(20000), "");
  EXPECT_TRUE(mute.closed());
}

TEST(LoginChannel, ReplacesAStaleSocketButNotALiveReceiver) {
  Receiver live;
  ASSERT_TRUE(live.listen());
  LoginChannelServer intruder;
  std::string why;
  EXPECT_FALSE(intruder.listen(live.path, &why));
  EXPECT_NE(why, "");

  // A socket file whose receiver has gone: bound, never listened on.
  QTemporaryDir dir;
  const std::string stale = dir.path().toStdString() + "/edu_main";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  {
    LoginChannelServer successor;
    EXPECT_TRUE(successor.listen(stale, &why)) << why;
  }
  EXPECT_NE(::access(stale.c_str(), F_OK), 0);  // removed when the receiver ends
}

// The login sender, run as a program against a receiver in its runtime folder.
struct SenderRun {
  int exitCode = -1;
  std::string out, err;
};

SenderRun runSender(const QString& runtimeDir, const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_RUNTIME_DIR", runtimeDir);
  process.setProcessEnvironment(environment);
  process.start(QString::fromStdString(testsupport::programDir() + "/edu-login"), arguments);
  SenderRun run;
  if (!process.waitForStarted(10000)) return run;
  // The event loop runs while the sender waits, so the receiver can answer.
  testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, 30000);
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
  return run;
}

TEST(EduLogin, SendsTheTextInGbkAndEndsAfterTheAnswer) {
  Receiver receiver;
  ASSERT_TRUE(receiver.listen());
  const SenderRun run = runSender(receiver.dir.path(), {QString::fromUtf8("online|T1|张明|13800000000")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(receiver.frames.size(), 1u);
  EXPECT_EQ(receiver.frames[0].second, text::utf8ToGbk("online|T1|张明|13800000000"));
}

TEST(EduLogin, WithoutAClientSaysSoAndFails) {
  QTemporaryDir empty;
  const SenderRun run = runSender(empty.path(), {"offline"});
  EXPECT_NE(run.exitCode, 0);
  EXPECT_NE(run.err.find("edu-client"), std::string::npos) << run.err;
}

TEST(EduLogin, ProtectsTextSoThatTheClientDecodesIt) {
  QTemporaryDir empty;
  const SenderRun run = runSender(empty.path(), {"--protect", "ftp|pass word"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(decodeProtectedText(run.out.substr(0, run.out.find('\n')), kProtectedTextKey), "ftp|pass word");
  EXPECT_NE(runSender(empty.path(), {}).exitCode, 0);
}

}  // namespace
