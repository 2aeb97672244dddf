// The courseware store over FTPS against real peers: vsftpd (its defaults
// require the data connection to resume the control connection's TLS
// session) and pyftpdlib's TLS handler. The file arrives byte for byte, the
// password never travels in clear, and a server that cannot (or may not)
// be trusted gets no login. A store the server breaks off resumes where
// its copy ends.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "courseware/ftp_store.h"
#include "platform/tls_trust.h"
#include "sys/text_codec.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_ca.h"
#include "tests/support/test_support.h"
#include "tests/support/vsftpd_server.h"

namespace {

using testsupport::FtpServer;
using testsupport::readFile;
using testsupport::TestCa;

class FtpsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ca().made()) SKIP_WITHOUT_TOOL("the openssl command is needed to make a test CA");
    platform::TlsTrust trust;
    trust.caFile = ca().caFile();
    platform::setTlsTrust(trust);
    // A file of several chunks and records, different at every offset.
    ftptest::writePatternFile(localPath(), 3 * 1024 * 1024 + 517);
  }
  void TearDown() override { platform::setTlsTrust({}); }

  std::string localPath() const { return dir_.path().toStdString() + "/lesson.pptx"; }

  ftp::StoreJob job(int port, const std::string& user, const std::string& password, ftp::TlsMode mode) const {
    ftp::StoreJob j;
    j.host = "127.0.0.1";
    j.port = port;
    j.user = user;
    j.password = password;
    j.schoolId = "41";
    j.teacherId = "1207";
    j.month = "2024-05";
    j.localPath = localPath();
    j.remoteFileName = "{0F8E2D3C-1B2A-4C5D-9E8F-7A6B5C4D3E2F}.pptx";
    j.tls = mode;
    return j;
  }

  static FtpServer::Options pyftpd(const std::string& certificate, bool required) {
    FtpServer::Options options;
    if (!certificate.empty()) {
      options.tlsCert = ca().certificate(certificate);
      options.tlsKey = ca().key(certificate);
    }
    options.tlsRequired = required;
    return options;
  }

  static bool logged(const ftp::StoreResult& result, const char* utf8Start) {
    return std::any_of(result.log.begin(), result.log.end(), [&](const std::string& line) {
      return text::gbkToUtf8(line).rfind(utf8Start, 0) == 0;
    });
  }

  // The commands up to the first one that starts with `verb`.
  static std::vector<std::string> commandsBefore(const std::vector<std::string>& commands,
                                                 const std::string& verb) {
    std::vector<std::string> before;
    for (const std::string& line : commands) {
      if (line.rfind(verb, 0) == 0) break;
      before.push_back(line);
    }
    return before;
  }

  static const TestCa& ca() { return TestCa::shared(); }
  QTemporaryDir dir_;
};

TEST_F(FtpsStore, RequiredTlsStoresTheFileWholeOnVsftpd) {
  if (!testsupport::VsftpdServer::available()) SKIP_WITHOUT_TOOL("vsftpd (run as root) is needed");
  testsupport::VsftpdServer server(ca().certificate("good"), ca().key("good"));
  ASSERT_TRUE(server.start());
  const ftp::StoreResult result = ftp::storeFile(
      job(server.port(), server.user(), server.password(), ftp::TlsMode::Require), {}, nullptr);
  ASSERT_TRUE(result.stored()) << text::gbkToUtf8(result.failure);
  EXPECT_TRUE(readFile(server.root() + result.remotePath) == readFile(localPath()))
      << "the stored file differs";
  EXPECT_TRUE(logged(result, "FTP：已使用加密连接"));
}

// vsftpd killed with about half the file on its disk (a crash, a power cut)
// leaves a partial file the store keeps; once the server is back, the next
// store sends only the rest after REST, and the copy is the file byte for
// byte, in the clear and over TLS alike.
TEST_F(FtpsStore, AStoreCutOffAtHalfByVsftpdSendsOnlyTheRest) {
  if (!testsupport::VsftpdServer::available()) SKIP_WITHOUT_TOOL("vsftpd (run as root) is needed");
  const auto total = static_cast<int64_t>(std::filesystem::file_size(localPath()));
  const struct {
    const char* name;
    const char* certificate;  // "" for a server without TLS
    ftp::TlsMode mode;
  } cases[] = {{"clear", "", ftp::TlsMode::Off}, {"TLS required", "good", ftp::TlsMode::Require}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool tls = *c.certificate != '\0';
    testsupport::VsftpdServer server(tls ? ca().certificate(c.certificate) : "",
                                     tls ? ca().key(c.certificate) : "");
    // Slow enough to stop the server part way.
    server.setMaxRate(1000 * 1000);
    ASSERT_TRUE(server.start());
    ftp::StoreJob resumable = job(server.port(), server.user(), server.password(), c.mode);
    resumable.resumable = true;
    const std::string onDisk =
        server.root() + ftp::courseRemoteDir(resumable.schoolId, resumable.teacherId, resumable.month) +
        resumable.remoteFileName;
    auto held = [&onDisk] {
      std::error_code error;
      const auto size = std::filesystem::file_size(onDisk, error);
      return error ? int64_t{-1} : static_cast<int64_t>(size);
    };

    ftp::StoreResult broken;
    std::thread worker([&] { broken = ftp::storeFile(resumable, {}, nullptr); });
    const bool halfway = testsupport::waitFor([&] { return held() >= total / 2; }, 30000);
    server.stop();
    worker.join();
    ASSERT_TRUE(halfway);
    EXPECT_EQ(broken.outcome, ftp::StoreOutcome::StoreFailed);
    EXPECT_TRUE(broken.partialKept);
    const int64_t kept = held();
    EXPECT_GE(kept, total / 2);
    ASSERT_LT(kept, total);

    ASSERT_TRUE(server.start());
    resumable.port = server.port();
    const ftp::StoreResult resumed = ftp::storeFile(resumable, {}, nullptr);
    ASSERT_TRUE(resumed.stored()) << text::gbkToUtf8(resumed.failure);
    EXPECT_EQ(resumed.resumedFrom, kept);
    EXPECT_EQ(resumed.bytesSent, total - kept);
    EXPECT_TRUE(readFile(onDisk) == readFile(localPath())) << "the stored file differs";

    // The server's own account: one upload, of the rest, after REST.
    const std::string log = server.log();
    EXPECT_NE(log.find("\"REST " + std::to_string(kept) + "\""), std::string::npos) << log;
    const std::regex upload(R"((OK|FAIL) UPLOAD: [^\n]*, (\d+) bytes)");
    std::vector<std::string> uploads;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), upload); it != std::sregex_iterator(); ++it)
      uploads.push_back((*it)[1].str() + " " + (*it)[2].str());
    EXPECT_EQ(uploads, std::vector<std::string>{"OK " + std::to_string(total - kept)}) << log;
  }
}

TEST_F(FtpsStore, RequiredTlsStoresTheFileWholeOnPyftpdlibAndTheLoginGoesEncrypted) {
  FtpServer server(pyftpd("good", true));
  ASSERT_TRUE(server.start());
  const ftp::StoreResult result = ftp::storeFile(
      job(server.port(), server.user(), server.password(), ftp::TlsMode::Require), {}, nullptr);
  ASSERT_TRUE(result.stored()) << text::gbkToUtf8(result.failure);
  EXPECT_TRUE(readFile(server.root() + result.remotePath) == readFile(localPath()))
      << "the stored file differs";
  const std::vector<std::string> commands = server.commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.front(), "AUTH TLS");
  const std::vector<std::string> beforeStore = commandsBefore(commands, "STOR");
  for (const char* needed : {"PBSZ 0", "PROT P"})
    EXPECT_NE(std::find(beforeStore.begin(), beforeStore.end(), needed), beforeStore.end()) << needed;
}

TEST_F(FtpsStore, ModeAndServerDecideBetweenTlsClearAndNoLogin) {
  const struct {
    const char* name;
    const char* certificate;  // "" for a server without TLS
    ftp::TlsMode mode;
    bool stored;
    bool encrypted;
    const char* failureStart;  // when not stored
  } cases[] = {
      {"required, server without TLS", "", ftp::TlsMode::Require, false, false, "FTP服务器不支持加密连接"},
      {"tried, server without TLS", "", ftp::TlsMode::Try, true, false, ""},
      {"tried, server with TLS", "good", ftp::TlsMode::Try, true, true, ""},
      {"required, certificate of no known CA", "stranger", ftp::TlsMode::Require, false, false,
       "FTP加密连接未通过检查：certificate from an unknown CA"},
      {"tried, certificate for another host", "otherhost", ftp::TlsMode::Try, false, false,
       "FTP加密连接未通过检查：certificate is for another host name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FtpServer server(pyftpd(c.certificate, false));
    ASSERT_TRUE(server.start());
    const ftp::StoreResult result =
        ftp::storeFile(job(server.port(), server.user(), server.password(), c.mode), {}, nullptr);
    const std::vector<std::string> commands = server.commands();
    const bool protectedData = std::find(commands.begin(), commands.end(), "PROT P") != commands.end();
    EXPECT_EQ(result.stored(), c.stored) << text::gbkToUtf8(result.failure);
    EXPECT_EQ(protectedData, c.encrypted);
    if (c.stored) {
      EXPECT_TRUE(readFile(server.root() + result.remotePath) == readFile(localPath()))
          << "the stored file differs";
      EXPECT_EQ(logged(result, "FTP：服务器不支持加密连接"), !c.encrypted);
    } else {
      EXPECT_EQ(result.outcome, ftp::StoreOutcome::ConnectFailed);
      EXPECT_EQ(text::gbkToUtf8(result.failure).rfind(c.failureStart, 0), 0u)
          << text::gbkToUtf8(result.failure);
      // Refused before the login: no user name, no password.
      EXPECT_EQ(commands, std::vector<std::string>{"AUTH TLS"});
    }
  }
}

}  // namespace
