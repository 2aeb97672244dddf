#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "courseware/ftpclient/FtpClient.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::FtpServer;
using testsupport::readFile;

TEST(FtpUpload, StoresTheFileByteIdenticalAndReportsProgress) {
  FtpServer server;
  ASSERT_TRUE(server.start());
  QTemporaryDir dir;
  struct Case {
    const char* name;
    int64_t size;
  };
  for (const Case& c : {Case{"big.bin", 40 * 1000 * 1000 + 3}, Case{"empty.bin", 0}}) {
    SCOPED_TRACE(c.name);
    std::string source = dir.path().toStdString() + "/" + c.name;
    ftptest::writePatternFile(source, c.size, 3);

    TKorvanFtp ftp;
    ftp.SetConnectionCount(1);
    bool finished = false;
    uint8_t status = 255;
    int64_t done = -1;
    std::vector<int64_t> progress;
    float lastFraction = -1;
    ftp.SetOnComplete([&](TKorvanFtp*, uint8_t s, int64_t d, int64_t) {
      finished = true;
      status = s;
      done = d;
      // Complete means the server has the whole file already.
      EXPECT_EQ(static_cast<int64_t>(readFile(server.root() + "/" + c.name).size()), c.size);
    });
    ftp.SetOnProgress([&](TKorvanFtp*, int64_t d, int64_t total, float fraction, float) {
      EXPECT_EQ(total, c.size);
      progress.push_back(d);
      lastFraction = fraction;
    });
    ftp.SetOnError([](TKorvanFtp*, TKorvanFtp::ErrorKind, int& code) { code = 0; });
    FtpEndpoint endpoint{
        "127.0.0.1", static_cast<uint16_t>(server.port()), server.user(), server.password(), "/", c.name};
    ASSERT_TRUE(ftp.StartUpload(endpoint, source));
    ASSERT_TRUE(testsupport::waitFor([&] { return finished; }, 120000));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(done, c.size);
    EXPECT_TRUE(readFile(server.root() + "/" + c.name) == readFile(source));
    EXPECT_FALSE(ftp.IsBusy());
    EXPECT_FALSE(ftp.IsUploadMode());
    if (c.size > 0) {
      ASSERT_FALSE(progress.empty());
      EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
      EXPECT_EQ(progress.back(), c.size);
      EXPECT_FLOAT_EQ(lastFraction, 1.0f);
    }
  }
  std::vector<std::string> commands = server.commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), "STOR big.bin"), commands.end());
}

}  // namespace
