// HTTPS against the development server with a throwaway CA: the GET client
// and the picture post get through when the certificate checks out, and are
// refused - before a byte of the request is sent - when it does not, with
// the reason in the log and one notice per streak of refusals.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tls_trust.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_ca.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::DevServerProcess;
using testsupport::TestCa;
using testsupport::waitFor;

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ca().made()) SKIP_WITHOUT_TOOL("the openssl command is needed to make a test CA");
    trust(ca().caFile(), "");
    platform::setTlsRefusalHooks(
        [this](const std::string& line) {
          std::lock_guard lock(mutex_);
          logLines_.push_back(line);
        },
        [this] {
          std::lock_guard lock(mutex_);
          ++notices_;
        });
    platform::reportTlsAccepted();
  }

  void TearDown() override {
    platform::setTlsRefusalHooks({}, {});
    platform::setTlsTrust({});
  }

  static void trust(const std::string& caFile, const std::string& pin) {
    platform::TlsTrust trust;
    trust.caFile = caFile;
    trust.pin = pin;
    platform::setTlsTrust(trust);
  }

  static std::unique_ptr<DevServerProcess> serverWith(const std::string& name) {
    return std::make_unique<DevServerProcess>(
        std::vector<std::string>{"--tls-cert", ca().certificate(name), "--tls-key", ca().key(name)});
  }

  // One GET through the client; what the handler received.
  static std::string get(const std::string& host, int port,
                         const std::string& target = HttpUrl::SubjectsOfGrade("/", "1")) {
    server::GetClient client;
    std::string reply = "(no reply)";
    client.setServer(host, port, true);
    client.setReplyHandler([&](const std::string& text) {
      reply = text;
      client.finishRequest(text);
    });
    client.startRequest(target);
    waitFor([&] { return reply != "(no reply)"; }, 20000);
    return reply;
  }

  std::vector<std::string> logLines() {
    std::lock_guard lock(mutex_);
    return logLines_;
  }
  int notices() {
    std::lock_guard lock(mutex_);
    return notices_;
  }

  static const TestCa& ca() { return TestCa::shared(); }
  QTemporaryDir dir_;
  std::mutex mutex_;
  std::vector<std::string> logLines_;
  int notices_ = 0;
};

TEST_F(Tls, RequestsGoOverTlsWhenTheCertificateChecksOut) {
  const auto devserver = serverWith("good");
  ASSERT_TRUE(devserver->running());
  ASSERT_GT(devserver->plainPort(), 0);
  // By name and by address (the certificate names both), then with the
  // right pin on top of the CA; the later connections resume the first's
  // session, which must not skip any check either.
  const struct {
    const char* host;
    std::string pin;
  } cases[] = {{"localhost", ""},
               {"127.0.0.1", ""},
               {"localhost", ca().pin("good")},
               {"localhost", ca().pin("otherhost") + ";" + ca().pin("good")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " pin " + c.pin);
    trust(ca().caFile(), c.pin);
    const std::string reply = get(c.host, devserver->port());
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    EXPECT_NE(reply.find("\"status\":\"success\""), std::string::npos) << reply;
  }
  // Every request arrived over TLS, none on the plain port; nothing refused.
  ASSERT_TRUE(devserver->waitForRequests(4));
  for (const auto& request : devserver->requests()) EXPECT_EQ(request.scheme, "https") << request.target;
  EXPECT_TRUE(logLines().empty());
  EXPECT_EQ(notices(), 0);
}

// Replies that come in many pieces, chunked or large arrive whole through
// the TLS records as they do in clear.
TEST_F(Tls, SlowChunkedAndLargeRepliesArriveWhole) {
  const auto devserver = serverWith("good");
  ASSERT_TRUE(devserver->running());
  for (const char* mode : {"slow", "chunked", "big"}) {
    SCOPED_TRACE(mode);
    ASSERT_FALSE(devserver->control(std::string("mode?set=") + mode + "&count=1").empty());
    const std::string reply = get("localhost", devserver->port(), HttpUrl::TeachersOfSchool("/", "1001"));
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply.substr(0, 200);
    EXPECT_NE(reply.find("\"status\":\"success\""), std::string::npos) << reply.substr(0, 200);
    if (std::string(mode) == "big") {
      EXPECT_GT(reply.size(), 4u * 1000 * 1000);
    }
  }
  ASSERT_TRUE(devserver->waitForRequests(3));
  for (const auto& request : devserver->requests()) EXPECT_NE(request.mode, "") << request.target;
}

TEST_F(Tls, AServerThatFailsACheckGetsNoRequestAndTheReasonIsLogged) {
  const struct {
    const char* name;
    const char* certificate;
    bool pinOtherKey;
    const char* reason;
  } cases[] = {
      {"unknown CA", "stranger", false, "certificate from an unknown CA"},
      {"wrong host name", "otherhost", false, "certificate is for another host name"},
      {"expired", "expired", false, "certificate expired"},
      {"pin mismatch", "good", true, "pin mismatch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto devserver = serverWith(c.certificate);
    ASSERT_TRUE(devserver->running());
    trust(ca().caFile(), c.pinOtherKey ? ca().pin("otherhost") : "");
    {
      std::lock_guard lock(mutex_);
      logLines_.clear();
    }
    EXPECT_EQ(get("localhost", devserver->port()), std::string("error:") + c.reason);
    // The picture post refuses the same server for the same reason.
    const std::string picture = dir_.path().toStdString() + "/shot.jpg";
    ASSERT_TRUE(testsupport::writeFile(picture, "\xFF\xD8picture"));
    const std::string url = "https://localhost:" + std::to_string(devserver->port()) +
                            "/clientInterface-postScreenShot?appKey=" + HttpUrl::kAppKey;
    EXPECT_EQ(std::async(std::launch::async, [&] { return postFile(picture, url); }).get(), "");
    const std::string expected =
        "secure connection to localhost:" + std::to_string(devserver->port()) + " refused: " + c.reason;
    EXPECT_EQ(logLines(), (std::vector<std::string>{expected, expected}));
    // Not a byte of any request reached the server, on either port.
    EXPECT_FALSE(devserver->waitForRequests(1, 300));
  }
  // All of it one streak: one notice.
  EXPECT_EQ(notices(), 1);
}

TEST_F(Tls, ANewStreakOfRefusalsGetsANewNotice) {
  const auto good = serverWith("good");
  const auto stranger = serverWith("stranger");
  ASSERT_TRUE(good->running() && stranger->running());
  EXPECT_EQ(get("localhost", stranger->port()).rfind("error:", 0), 0u);
  EXPECT_EQ(get("localhost", stranger->port()).rfind("error:", 0), 0u);
  EXPECT_EQ(notices(), 1);
  EXPECT_EQ(get("localhost", good->port()).rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(get("localhost", stranger->port()).rfind("error:", 0), 0u);
  EXPECT_EQ(notices(), 2);
}

TEST_F(Tls, ThePicturePostGoesOverTls) {
  const auto devserver = serverWith("good");
  ASSERT_TRUE(devserver->running());
  const std::string picture = dir_.path().toStdString() + "/shot.jpg";
  ASSERT_TRUE(testsupport::writeFile(picture, "\xFF\xD8picture"));
  const std::string url = "https://localhost:" + std::to_string(devserver->port()) +
                          HttpUrl::Screenshot("/", "P1", "1001", "1", "1", "2001", "1", "D1", "0", "");
  const std::string reply = std::async(std::launch::async, [&] { return postFile(picture, url); }).get();
  EXPECT_FALSE(reply.empty());
  ASSERT_TRUE(devserver->waitForRequests(1));
  EXPECT_EQ(devserver->requests()[0].scheme, "https");
  EXPECT_EQ(devserver->requests()[0].method, "POST");
}

}  // namespace
