#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <regex>
#include <thread>

#include "courseware/ftp_store.h"
#include "platform/tcp_stream.h"
#include "sys/text_codec.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::FtpServer;
using testsupport::readFile;

class FtpStore : public ::testing::Test {
 protected:
  ftp::StoreJob job(const FtpServer& server, const std::string& localPath) const {
    ftp::StoreJob j;
    j.host = "127.0.0.1";
    j.port = server.port();
    j.user = server.user();
    j.password = server.password();
    j.schoolId = "41";
    j.teacherId = "1207";
    j.month = "2024-05";
    j.localPath = localPath;
    j.remoteFileName = "{0F8E2D3C-1B2A-4C5D-9E8F-7A6B5C4D3E2F}.pptx";
    return j;
  }
  std::string local(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }

  // Runs a store on a worker, as the upload queue does.
  struct Run {
    ftp::StoreResult result;
    std::atomic<int64_t> sent{0};
    std::atomic<int64_t> total{-1};
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    std::thread worker;
    ~Run() {
      if (worker.joinable()) worker.join();
    }
    void start(const ftp::StoreJob& job, const ftp::StoreTimeouts& timeouts = {},
               ftp::LeftoverFiles* leftovers = nullptr) {
      worker = std::thread([this, job, timeouts, leftovers] {
        result = ftp::storeFile(
            job,
            [this](int64_t s, int64_t t) {
              sent = s;
              total = t;
            },
            &cancel, timeouts, leftovers);
        finished = true;
      });
    }
    bool wait(int ms = 120000) {
      bool done = testsupport::waitFor([this] { return finished.load(); }, ms);
      if (done) worker.join();
      return done;
    }
  };

  // Whether a line of the store's log begins with `utf8Start` and names
  // `path`.
  static bool logged(const ftp::StoreResult& result, const char* utf8Start, const std::string& path) {
    for (const std::string& line : result.log) {
      std::string text = text::gbkToUtf8(line);
      if (text.rfind(utf8Start, 0) == 0 && text.find(path) != std::string::npos) return true;
    }
    return false;
  }

  QTemporaryDir dir_;
};

TEST_F(FtpStore, DialogueCreatesMissingLevelsOnlyWhenTheFolderIsNew) {
  FtpServer server;
  ASSERT_TRUE(server.start());
  std::string source = local("lesson.pptx");
  ftptest::writePatternFile(source, 3 * 1000 * 1000 + 5, 11);
  const std::string dir = "/courseware/41/1207/2024-05/";
  const std::string name = "{0F8E2D3C-1B2A-4C5D-9E8F-7A6B5C4D3E2F}.pptx";

  Run first;
  first.start(job(server, source));
  ASSERT_TRUE(first.wait());
  ASSERT_TRUE(first.result.stored()) << text::gbkToUtf8(first.result.failure);
  EXPECT_EQ(first.result.remoteDir, dir);
  EXPECT_EQ(first.result.remotePath, dir + name);
  EXPECT_EQ(first.sent, first.total);
  EXPECT_EQ(first.total, 3 * 1000 * 1000 + 5);
  EXPECT_TRUE(readFile(server.root() + dir + name) == readFile(source));

  std::vector<std::string> commands = server.commands();
  ASSERT_EQ(commands.size(), 13u);
  EXPECT_TRUE(std::regex_match(commands[11], std::regex(R"(PORT 127,0,0,1,\d+,\d+)"))) << commands[11];
  commands[11] = "PORT";
  EXPECT_EQ(commands, (std::vector<std::string>{"USER teacher", "PASS secret", "TYPE I", "SYST", "MKD " + dir,
                                                "CWD " + dir, "MKD /courseware", "MKD /courseware/41",
                                                "MKD /courseware/41/1207", "MKD /courseware/41/1207/2024-05",
                                                "CWD " + dir, "PORT", "STOR " + name}));

  // The folder exists now: its MKD fails, CWD succeeds at once.
  server.clearCommands();
  Run second;
  ftp::StoreJob again = job(server, source);
  again.remoteFileName = "{11111111-2222-3333-4444-555555555555}.doc";
  second.start(again);
  ASSERT_TRUE(second.wait());
  ASSERT_TRUE(second.result.stored()) << text::gbkToUtf8(second.result.failure);
  commands = server.commands();
  ASSERT_EQ(commands.size(), 8u);
  commands[6] = "PORT";
  EXPECT_EQ(commands, (std::vector<std::string>{"USER teacher", "PASS secret", "TYPE I", "SYST", "MKD " + dir,
                                                "CWD " + dir, "PORT", "STOR " + again.remoteFileName}));
  EXPECT_TRUE(readFile(server.root() + dir + again.remoteFileName) == readFile(source));
}

TEST_F(FtpStore, FailuresSayWhereTheyHappened) {
  FtpServer server;
  ASSERT_TRUE(server.start());
  FtpServer stopped;
  ASSERT_TRUE(stopped.start());
  int stoppedPort = stopped.port();
  stopped.stop();
  std::string source = local("notes.txt");
  testsupport::writeFile(source, "notes");

  struct Case {
    const char* name;
    ftp::StoreJob job;
    ftp::StoreOutcome outcome;
  };
  ftp::StoreJob wrongPassword = job(server, source);
  wrongPassword.password = "wrong";
  ftp::StoreJob refused = job(server, source);
  refused.port = stoppedPort;
  ftp::StoreJob badPort = job(server, source);
  badPort.port = 0;
  ftp::StoreJob missingFile = job(server, local("missing.txt"));
  for (const Case& c : {Case{"wrong password", wrongPassword, ftp::StoreOutcome::ConnectFailed},
                        Case{"refused", refused, ftp::StoreOutcome::ConnectFailed},
                        Case{"bad port", badPort, ftp::StoreOutcome::ConnectFailed},
                        Case{"missing local file", missingFile, ftp::StoreOutcome::StoreFailed}}) {
    Run run;
    run.start(c.job);
    ASSERT_TRUE(run.wait()) << c.name;
    EXPECT_EQ(run.result.outcome, c.outcome) << c.name;
    EXPECT_FALSE(run.result.failure.empty()) << c.name;
  }
}

TEST_F(FtpStore, ServerStoppedMidwayFailsAndTheNextAttemptDeletesThePartialFile) {
  FtpServer::Options slow;
  slow.receiveLimit = 1000 * 1000;
  FtpServer server(slow);
  ASSERT_TRUE(server.start());
  std::string source = local("video.mp4");
  ftptest::writePatternFile(source, 20 * 1000 * 1000, 5);
  ftp::LeftoverFiles leftovers;

  Run broken;
  broken.start(job(server, source), {}, &leftovers);
  ASSERT_TRUE(testsupport::waitFor([&] { return broken.sent > 1000 * 1000 || broken.finished; }, 60000));
  server.stop();
  ASSERT_TRUE(broken.wait());
  EXPECT_EQ(broken.result.outcome, ftp::StoreOutcome::StoreFailed);
  EXPECT_FALSE(broken.result.failure.empty());
  // Nobody is left to take the DELE: the log says so and the file waits
  // for the next connection.
  const std::string partial = broken.result.remotePath;
  EXPECT_TRUE(logged(broken.result, "FTP：删除未传完的文件失败：", partial));
  EXPECT_EQ(leftovers.list(), std::vector<std::string>{partial});
  EXPECT_EQ(testsupport::filesBelow(server.root()), std::vector<std::string>{partial});

  // Back on the same port and folder; the retry stores under a new name, as
  // the upload queue does, and the partial file goes right after the login.
  FtpServer::Options back;
  back.port = server.port();
  back.root = server.root();
  FtpServer restarted(back);
  ASSERT_TRUE(restarted.start());
  Run retry;
  ftp::StoreJob again = job(restarted, source);
  again.remoteFileName = "{22222222-3333-4444-5555-666666666666}.mp4";
  retry.start(again, {}, &leftovers);
  ASSERT_TRUE(retry.wait());
  ASSERT_TRUE(retry.result.stored()) << text::gbkToUtf8(retry.result.failure);
  EXPECT_EQ(restarted.commands()[4], "DELE " + partial);
  EXPECT_TRUE(logged(retry.result, "FTP：已删除上次未传完的文件", partial));
  EXPECT_TRUE(leftovers.list().empty());
  EXPECT_EQ(testsupport::filesBelow(restarted.root()), std::vector<std::string>{retry.result.remotePath});
  EXPECT_TRUE(readFile(restarted.root() + retry.result.remotePath) == readFile(source));
}

TEST_F(FtpStore, ABrokenOffStoreDeletesItsPartialFileBeforeItLetsGo) {
  std::string source = local("video.mp4");
  ftptest::writePatternFile(source, 8 * 1000 * 1000, 6);
  FtpServer::Options fullDisk;
  fullDisk.failStores = 1;
  FtpServer::Options slow;
  slow.receiveLimit = 1000 * 1000;
  FtpServer::Options fullDiskNoDelete = fullDisk;
  fullDiskNoDelete.mayDelete = false;
  struct Case {
    const char* name;
    FtpServer::Options server;
    bool cancel;
    ftp::StoreOutcome outcome;
    bool deleted;
  };
  for (const Case& c :
       {Case{"server breaks the transfer off", fullDisk, false, ftp::StoreOutcome::StoreFailed, true},
        Case{"teacher cancels", slow, true, ftp::StoreOutcome::Cancelled, true},
        Case{"DELE refused", fullDiskNoDelete, false, ftp::StoreOutcome::StoreFailed, false}}) {
    SCOPED_TRACE(c.name);
    FtpServer server(c.server);
    ASSERT_TRUE(server.start());
    ftp::LeftoverFiles leftovers;
    Run run;
    run.start(job(server, source), {}, &leftovers);
    if (c.cancel) {
      ASSERT_TRUE(testsupport::waitFor([&] { return run.sent > 1000 * 1000 || run.finished; }, 60000));
      run.cancel = true;
    }
    ASSERT_TRUE(run.wait());
    EXPECT_EQ(run.result.outcome, c.outcome);

    // DELE is the first command after the STOR, on the same connection.
    const std::string path = run.result.remotePath;
    std::vector<std::string> commands = server.commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2].rfind("STOR ", 0), 0u) << commands[commands.size() - 2];
    EXPECT_EQ(commands.back(), "DELE " + path);
    if (c.deleted) {
      EXPECT_TRUE(testsupport::filesBelow(server.root()).empty());
      EXPECT_TRUE(logged(run.result, "FTP：已删除未传完的文件", path));
    } else {
      EXPECT_EQ(testsupport::filesBelow(server.root()), std::vector<std::string>{path});
      EXPECT_TRUE(logged(run.result, "FTP：删除未传完的文件失败：", path + " (550"));
    }
    // The server has answered either way: nothing is left for later.
    EXPECT_TRUE(leftovers.list().empty());
  }
}

// A resumable store cut off at about half by the server (as by a full
// disk) keeps its partial file; the next one sends only the rest, after
// REST, or with APPE where the server refuses REST, and the server's copy
// is the file byte for byte. A cancel still deletes the partial file.
TEST_F(FtpStore, AResumableStoreCutOffAtHalfSendsOnlyTheRest) {
  std::string source = local("video.mp4");
  const int64_t size = 8 * 1000 * 1000;
  ftptest::writePatternFile(source, size, 9);
  struct Case {
    const char* name;
    bool refuseRest;
    const char* verb;
  };
  for (const Case& c : {Case{"REST and STOR", false, "STOR"}, Case{"APPE without REST", true, "APPE"}}) {
    SCOPED_TRACE(c.name);
    FtpServer::Options cutAtHalf;
    cutAtHalf.failStores = 1;
    cutAtHalf.failAfterBytes = size / 2;
    cutAtHalf.refuseRest = c.refuseRest;
    FtpServer server(cutAtHalf);
    ASSERT_TRUE(server.start());
    ftp::StoreJob resumable = job(server, source);
    resumable.resumable = true;

    Run broken;
    broken.start(resumable);
    ASSERT_TRUE(broken.wait());
    EXPECT_EQ(broken.result.outcome, ftp::StoreOutcome::StoreFailed);
    EXPECT_TRUE(broken.result.partialKept);
    const std::string path = broken.result.remotePath;
    const auto held = static_cast<int64_t>(readFile(server.root() + path).size());
    EXPECT_GE(held, size / 2);
    EXPECT_LT(held, size);
    EXPECT_TRUE(logged(broken.result, "FTP：保留未传完的文件", path));

    server.clearCommands();
    Run resumed;
    resumed.start(resumable);
    ASSERT_TRUE(resumed.wait());
    ASSERT_TRUE(resumed.result.stored()) << text::gbkToUtf8(resumed.result.failure);
    EXPECT_EQ(resumed.result.resumedFrom, held);
    EXPECT_EQ(resumed.result.bytesSent, size - held);
    EXPECT_EQ(resumed.sent.load(), size);
    EXPECT_TRUE(readFile(server.root() + path) == readFile(source));
    EXPECT_EQ(testsupport::filesBelow(server.root()), std::vector<std::string>{path});
    const std::vector<std::string> commands = server.commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "SIZE " + resumable.remoteFileName),
              commands.end());
    EXPECT_NE(
        std::find(commands.begin(), commands.end(), std::string(c.verb) + " " + resumable.remoteFileName),
        commands.end());
    EXPECT_EQ(std::find(commands.begin(), commands.end(), "DELE " + path), commands.end());
  }

  // Cancelled, a resumable store deletes what it began.
  FtpServer::Options slow;
  slow.receiveLimit = 1000 * 1000;
  FtpServer server(slow);
  ASSERT_TRUE(server.start());
  ftp::StoreJob resumable = job(server, source);
  resumable.resumable = true;
  Run cancelled;
  cancelled.start(resumable);
  ASSERT_TRUE(
      testsupport::waitFor([&] { return cancelled.sent > 1000 * 1000 || cancelled.finished; }, 60000));
  cancelled.cancel = true;
  ASSERT_TRUE(cancelled.wait());
  EXPECT_EQ(cancelled.result.outcome, ftp::StoreOutcome::Cancelled);
  EXPECT_FALSE(cancelled.result.partialKept);
  EXPECT_TRUE(testsupport::filesBelow(server.root()).empty());
}

TEST_F(FtpStore, CancelEndsAStoreInProgress) {
  FtpServer::Options slow;
  slow.receiveLimit = 1000 * 1000;
  FtpServer server(slow);
  ASSERT_TRUE(server.start());
  std::string source = local("video.mp4");
  ftptest::writePatternFile(source, 20 * 1000 * 1000, 5);
  Run run;
  run.start(job(server, source));
  ASSERT_TRUE(testsupport::waitFor([&] { return run.sent > 1000 * 1000 || run.finished; }, 60000));
  run.cancel = true;
  ASSERT_TRUE(run.wait(40000));
  EXPECT_EQ(run.result.outcome, ftp::StoreOutcome::Cancelled);
}

TEST_F(FtpStore, SilentServerTimesOut) {
  // A listener that accepts and never says a word.
  platform::TcpListener silent;
  ASSERT_TRUE(silent.listen("127.0.0.1"));
  std::string source = local("notes.txt");
  testsupport::writeFile(source, "notes");
  FtpServer placeholder;
  ftp::StoreJob j = job(placeholder, source);
  j.port = silent.port();
  Run run;
  run.start(j, ftp::StoreTimeouts{2000, 300, 300});
  ASSERT_TRUE(run.wait(20000));
  EXPECT_EQ(run.result.outcome, ftp::StoreOutcome::ConnectFailed);
}

// By default a slow but working server is waited on: its greeting, some
// seconds late, is not taken for a dead server. The store is still waiting
// after seven seconds and ends only on a cancel.
TEST_F(FtpStore, ASlowServerIsWaitedOnByDefault) {
  platform::TcpListener slow;
  ASSERT_TRUE(slow.listen("127.0.0.1"));
  std::string source = local("notes.txt");
  testsupport::writeFile(source, "notes");
  FtpServer placeholder;
  ftp::StoreJob j = job(placeholder, source);
  j.port = slow.port();
  Run run;
  run.start(j);
  EXPECT_FALSE(testsupport::waitFor([&] { return run.finished.load(); }, 7000, 100));
  run.cancel = true;
  ASSERT_TRUE(run.wait(20000));
  EXPECT_EQ(run.result.outcome, ftp::StoreOutcome::Cancelled);
}

}  // namespace
