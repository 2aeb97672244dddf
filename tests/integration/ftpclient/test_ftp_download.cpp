#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <map>
#include <set>

#include "courseware/ftpclient/FtpClient.h"
#include "courseware/ftpclient/ftp_resume_record.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::FtpServer;
using testsupport::readFile;
using testsupport::waitFor;

constexpr int kTransferWaitMs = 180000;

// One component with its events recorded.
struct Download {
  TKorvanFtp ftp;
  bool finished = false;
  uint8_t status = 255;
  int64_t done = -1;
  int64_t total = -1;
  int64_t lastProgress = -1;
  std::map<int, std::pair<int64_t, int64_t>> blocks;  // index -> start, count
  std::function<void(int64_t)> onProgress;

  Download() {
    ftp.SetOnComplete([this](TKorvanFtp*, uint8_t s, int64_t d, int64_t t) {
      finished = true;
      status = s;
      done = d;
      total = t;
    });
    ftp.SetOnProgress([this](TKorvanFtp*, int64_t d, int64_t, float, float) {
      lastProgress = d;
      if (onProgress) onProgress(d);
    });
    ftp.SetOnBlockStart([this](TKorvanFtpClient*, int index, int64_t start, int64_t count) {
      blocks[index] = {start, count};
    });
    // A message box would wait for a click that never comes.
    ftp.SetOnError([](TKorvanFtp*, TKorvanFtp::ErrorKind, int& code) { code = 0; });
  }
  bool waitFinished(int ms = kTransferWaitMs) {
    return waitFor([this] { return finished; }, ms);
  }
};

class FtpDownload : public ::testing::Test {
 protected:
  FtpEndpoint endpoint(const FtpServer& server, const std::string& remoteName) const {
    return {"127.0.0.1", static_cast<uint16_t>(server.port()), server.user(), server.password(), "/",
            remoteName};
  }
  std::string local(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  static bool exists(const std::string& path) { return std::filesystem::exists(path); }

  QTemporaryDir dir_;
};

TEST_F(FtpDownload, HundredMegabytesArriveByteIdenticalOverOneToFourConnections) {
  FtpServer server;
  ASSERT_TRUE(server.start());
  const int64_t size = 100 * 1000 * 1000 + 7;
  ftptest::writePatternFile(server.root() + "/big.bin", size);
  const std::string expected = readFile(server.root() + "/big.bin");

  struct Case {
    int connections;
    bool directToFile;
  };
  for (Case c : {Case{1, true}, Case{3, true}, Case{4, true}, Case{3, false}}) {
    SCOPED_TRACE(::testing::Message() << c.connections << " connections, shared file " << c.directToFile);
    Download download;
    download.ftp.SetConnectionCount(c.connections);
    std::string target =
        local("big-" + std::to_string(c.connections) + (c.directToFile ? "s" : "b") + ".bin");
    ASSERT_TRUE(download.ftp.StartDownload(endpoint(server, "big.bin"), target, c.directToFile));
    ASSERT_TRUE(download.waitFinished());
    EXPECT_EQ(download.status, 0);
    EXPECT_EQ(download.done, size);
    EXPECT_EQ(download.total, size);
    EXPECT_EQ(download.lastProgress, size);
    EXPECT_EQ(download.blocks.size(), static_cast<size_t>(c.connections));
    EXPECT_TRUE(readFile(target) == expected);
    EXPECT_FALSE(exists(target + "~Cfg"));
    EXPECT_FALSE(download.ftp.IsBusy());
    std::filesystem::remove(target);
  }
}

TEST_F(FtpDownload, BlocksSplitWithTheRemainderOnConnectionZero) {
  FtpServer server;
  ASSERT_TRUE(server.start());
  testsupport::writeFile(server.root() + "/ten.bin", "0123456789");
  Download download;
  download.ftp.SetConnectionCount(3);
  ASSERT_TRUE(download.ftp.StartDownload(endpoint(server, "ten.bin"), local("ten.bin"), true));
  // While a control connection is open only N changes, not the slots.
  download.ftp.SetConnectionCount(5);
  EXPECT_EQ(download.ftp.ConnectionCount(), 5);
  EXPECT_EQ(download.ftp.SlotCount(), 3);
  ASSERT_TRUE(download.waitFinished());
  EXPECT_EQ(download.status, 0);
  using Block = std::pair<int64_t, int64_t>;
  EXPECT_EQ(download.blocks, (std::map<int, Block>{{0, {0, 4}}, {1, {4, 3}}, {2, {7, 3}}}));
  EXPECT_EQ(readFile(local("ten.bin")), "0123456789");
  // The server saw the dialogue of each connection, the restart offsets included.
  std::vector<std::string> commands = server.commands();
  for (const char* line : {"TYPE i", "PASV ", "SIZE ten.bin", "REST 0", "REST 4", "REST 7", "RETR ten.bin"}) {
    EXPECT_NE(std::find(commands.begin(), commands.end(), line), commands.end()) << line;
  }

  // An empty remote file finishes at once as an empty local file.
  testsupport::writeFile(server.root() + "/empty.bin", "");
  Download empty;
  ASSERT_TRUE(empty.ftp.StartDownload(endpoint(server, "empty.bin"), local("empty.bin"), true));
  ASSERT_TRUE(empty.waitFinished());
  EXPECT_EQ(empty.status, 0);
  EXPECT_TRUE(empty.blocks.empty());
  EXPECT_TRUE(exists(local("empty.bin")));
  EXPECT_EQ(readFile(local("empty.bin")), "");
}

TEST_F(FtpDownload, CancelledDownloadKeepsItsRecordAndResumesByteIdentical) {
  const int64_t size = 30 * 1000 * 1000 + 11;
  for (bool directToFile : {true, false}) {
    SCOPED_TRACE(directToFile ? "shared file" : "buffered");
    FtpServer::Options slow;
    slow.sendLimit = 1000 * 1000;
    FtpServer server(slow);
    ASSERT_TRUE(server.start());
    ftptest::writePatternFile(server.root() + "/course.bin", size, 7);
    std::string target = local(directToFile ? "shared.bin" : "buffered.bin");

    Download first;
    first.ftp.SetConnectionCount(3);
    // Cancelled once every block has started, so that each is partly there.
    first.onProgress = [&first](int64_t done) {
      if (first.blocks.size() == 3 && done > 500 * 1000) first.ftp.Cancel();
    };
    ASSERT_TRUE(first.ftp.StartDownload(endpoint(server, "course.bin"), target, directToFile));
    ASSERT_TRUE(first.waitFinished());
    EXPECT_EQ(first.status, 1);
    EXPECT_LT(first.done, size);
    EXPECT_FALSE(exists(target)) << "a partial download never takes the file's name";
    std::string saved = readFile(target + "~Cfg");
    ASSERT_GT(saved.size(), 19u);
    EXPECT_EQ(saved.substr(saved.size() - 15), "KorvanFtpClient");
    auto record = ftp::readResumeRecord(target + "~Cfg");
    ASSERT_TRUE(record);
    ASSERT_EQ(record->blocks.size(), 3u);
    int64_t received = 0;
    for (const auto& block : record->blocks) received += block.done;
    EXPECT_EQ(received, first.done);
    EXPECT_EQ(record->dataLength, directToFile ? size : received);

    // The second attempt runs at full speed and fetches only what is missing.
    server.stop();
    FtpServer::Options fast;
    fast.root = server.root();
    FtpServer again(fast);
    ASSERT_TRUE(again.start());
    Download second;
    ASSERT_TRUE(second.ftp.ResumeDownload(endpoint(again, "course.bin"), target));
    EXPECT_EQ(second.ftp.ResumeBase(), received);
    ASSERT_TRUE(second.waitFinished());
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.done, size);
    EXPECT_TRUE(readFile(target) == readFile(server.root() + "/course.bin"));
    EXPECT_FALSE(exists(target + "~Cfg"));
    std::vector<std::string> commands = again.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "SIZE course.bin"), 0);
    std::multiset<std::string> restarts, expectedRestarts;
    for (const std::string& line : commands) {
      if (line.rfind("REST ", 0) == 0) restarts.insert(line);
    }
    int64_t blockStart = 0;
    for (const auto& block : record->blocks) {
      expectedRestarts.insert("REST " + std::to_string(blockStart + block.done));
      blockStart += block.blockSize;
    }
    EXPECT_EQ(restarts, expectedRestarts);
  }
}

TEST_F(FtpDownload, FileAboveTwoGibibytesSplitsWithSixtyFourBitOffsets) {
  // A sparse remote file: five GiB long without using the space.
  FtpServer::Options slow;
  slow.sendLimit = 4 * 1000 * 1000;
  FtpServer server(slow);
  ASSERT_TRUE(server.start());
  const int64_t size = int64_t{5} << 30;
  testsupport::writeFile(server.root() + "/huge.bin", "");
  std::filesystem::resize_file(server.root() + "/huge.bin", static_cast<uintmax_t>(size));

  Download download;
  download.ftp.SetConnectionCount(2);
  download.onProgress = [&download](int64_t) {
    if (download.blocks.size() == 2) download.ftp.Cancel();
  };
  std::string target = local("huge.bin");
  ASSERT_TRUE(download.ftp.StartDownload(endpoint(server, "huge.bin"), target, true));
  ASSERT_TRUE(download.waitFinished());
  EXPECT_EQ(download.status, 1);
  EXPECT_EQ(download.total, size);
  using Block = std::pair<int64_t, int64_t>;
  EXPECT_EQ(download.blocks, (std::map<int, Block>{{0, {0, size / 2}}, {1, {size / 2, size / 2}}}));
  auto record = ftp::readResumeRecord(target + "~Cfg");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->dataLength, size);
  ASSERT_EQ(record->blocks.size(), 2u);
  EXPECT_EQ(record->blocks[0].blockSize, size / 2);
  EXPECT_EQ(record->blocks[1].blockSize, size / 2);
}

TEST_F(FtpDownload, DialogueThatCannotGoOnEndsAsAFailure) {
  FtpServer server;
  ASSERT_TRUE(server.start());
  testsupport::writeFile(server.root() + "/ten.bin", "0123456789");
  FtpServer stopped;
  ASSERT_TRUE(stopped.start());
  int stoppedPort = stopped.port();
  stopped.stop();

  struct Case {
    const char* name;
    FtpEndpoint endpoint;
    bool errorEvent;
  };
  FtpEndpoint wrongPassword = endpoint(server, "ten.bin");
  wrongPassword.password = "wrong";
  FtpEndpoint missingFile = endpoint(server, "missing.bin");
  FtpEndpoint refused = endpoint(server, "ten.bin");
  refused.port = static_cast<uint16_t>(stoppedPort);
  for (const Case& c :
       {Case{"wrong password", wrongPassword, false}, Case{"missing file", missingFile, false},
        Case{"connection refused", refused, true}}) {
    Download download;
    bool errorRaised = false;
    download.ftp.SetOnError([&errorRaised](TKorvanFtp*, TKorvanFtp::ErrorKind kind, int& code) {
      errorRaised = kind == TKorvanFtp::ErrorKind::Connect && code != 0;
      code = 0;
    });
    download.ftp.SetDialogueTimeout(500);
    std::string target = local(std::string("failed-") + c.name);
    ASSERT_TRUE(download.ftp.StartDownload(c.endpoint, target, true)) << c.name;
    ASSERT_TRUE(download.waitFinished(20000)) << c.name;
    EXPECT_EQ(download.status, 2) << c.name;
    EXPECT_EQ(errorRaised, c.errorEvent) << c.name;
    EXPECT_FALSE(exists(target)) << c.name;
    EXPECT_FALSE(download.ftp.IsBusy()) << c.name;
  }
}

}  // namespace
