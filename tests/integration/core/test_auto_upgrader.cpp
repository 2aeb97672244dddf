// The auto-upgrader's check against a real HTTP server on loopback: the
// outcome line for a fetched file, an error status and a refused
// connection, checks that never overlap, and an end while a check runs.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QCoreApplication>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/auto_upgrader.h"
#include "core/upgrade_fetch.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::waitFor;

const std::string kInfoFile(1234, 'x');

// Serves /upgrade.xml, a redirect to it, a path with Chinese and a blank,
// and /held, which answers only once the test lets it go.
class InfoServer {
 public:
  InfoServer() {
    server_.Get("/upgrade.xml", [this](const httplib::Request&, httplib::Response& response) {
      enter();
      response.set_content(kInfoFile, "text/xml");
      leave();
    });
    server_.Get("/moved", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/upgrade.xml");
    });
    server_.Get("/held", [this](const httplib::Request&, httplib::Response& response) {
      enter();
      std::unique_lock lock(mutex_);
      released_.wait(lock, [this] { return letGo_; });
      lock.unlock();
      response.set_content("held", "text/plain");
      leave();
    });
    server_.Get(R"(/other/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      otherPath_ = request.path;
      response.set_content("ok", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~InfoServer() {
    letGo();
    server_.stop();
    thread_.join();
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int port() const { return port_; }
  void letGo() {
    std::lock_guard lock(mutex_);
    letGo_ = true;
    released_.notify_all();
  }
  int requestsSeen() const { return seen_; }
  int mostAtOnce() const { return mostAtOnce_; }
  std::string otherPath() const {
    std::lock_guard lock(mutex_);
    return otherPath_;
  }

 private:
  void enter() {
    ++seen_;
    const int now = ++atOnce_;
    int most = mostAtOnce_;
    while (now > most && !mostAtOnce_.compare_exchange_weak(most, now)) {
    }
  }
  void leave() { --atOnce_; }

  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool letGo_ = false;
  std::string otherPath_;
  std::atomic<int> seen_{0};
  std::atomic<int> atOnce_{0};
  std::atomic<int> mostAtOnce_{0};
};

struct Upgrader {
  std::vector<std::string> lines;
  std::unique_ptr<AutoUpgrader> upgrader =
      std::make_unique<AutoUpgrader>([this](const std::string& line) { lines.push_back(line); });

  void check(const std::string& url) {
    upgrader->VersionNumber = "5.0.34";
    upgrader->InfoFileURL = url;
    upgrader->CheckUpdate();
  }
};

std::string lineFor(const std::string& url, const std::string& outcome) {
  return "AutoUpgrade: VersionNumber=5.0.34 InfoFileURL=" + url + " : " + outcome;
}

TEST(AutoUpgrader, ReportsTheOutcomeOfEachCheckAsOneLogLine) {
  InfoServer server;
  const std::string refused = "http://127.0.0.1:" + std::to_string(testsupport::freePort()) + "/upgrade.xml";
  const std::string noScheme = "127.0.0.1:" + std::to_string(server.port()) + "/upgrade.xml";
  struct Case {
    std::string url;
    std::string outcome;  // whole, or only its start for an error
  } cases[] = {
      {server.url("/upgrade.xml"), "fetched 1234 bytes (HTTP 200)"},
      {server.url("/moved"), "fetched 1234 bytes (HTTP 200)"},
      {noScheme, "fetched 1234 bytes (HTTP 200)"},
      {server.url("/missing.xml"), "HTTP 404 ("},
      {refused, "error: "},
      {"ftp://127.0.0.1/upgrade.xml", "error: "},
      {"", "error: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    Upgrader upgrader;
    upgrader.check(c.url);
    ASSERT_TRUE(waitFor([&] { return !upgrader.lines.empty(); }, 30000));
    ASSERT_EQ(upgrader.lines.size(), 1u);
    EXPECT_EQ(upgrader.lines[0].rfind(lineFor(c.url, c.outcome), 0), 0u) << upgrader.lines[0];
    EXPECT_FALSE(upgrader.upgrader->checking());
  }
}

TEST(AutoUpgrader, SendsAnAddressWithChineseAndBlanksEncoded) {
  InfoServer server;
  std::atomic<bool> cancelled{false};
  const UpgradeFetchOutcome outcome =
      fetchUpgradeInfo(text::utf8ToGbk(server.url("/other/升级 信息.xml")), cancelled);
  EXPECT_TRUE(outcome.answered) << outcome.error;
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(server.otherPath(), "/other/升级 信息.xml");
}

TEST(AutoUpgrader, OrdersWhileACheckRunsMakeOneMoreCheckAfterIt) {
  InfoServer server;
  Upgrader upgrader;
  upgrader.check(server.url("/held"));
  // The order returned while the server still holds the answer.
  EXPECT_TRUE(upgrader.upgrader->checking());
  ASSERT_TRUE(waitFor([&] { return server.requestsSeen() == 1; }));
  upgrader.check(server.url("/upgrade.xml"));
  upgrader.check(server.url("/upgrade.xml"));
  EXPECT_TRUE(upgrader.lines.empty());
  server.letGo();

  ASSERT_TRUE(waitFor([&] { return upgrader.lines.size() == 2 && !upgrader.upgrader->checking(); }, 30000));
  EXPECT_EQ(upgrader.lines[0], lineFor(server.url("/held"), "fetched 4 bytes (HTTP 200)"));
  EXPECT_EQ(upgrader.lines[1], lineFor(server.url("/upgrade.xml"), "fetched 1234 bytes (HTTP 200)"));
  EXPECT_EQ(server.requestsSeen(), 2);
  EXPECT_EQ(server.mostAtOnce(), 1);
}

TEST(AutoUpgrader, EndingWhileACheckRunsCutsItShortWithoutALine) {
  InfoServer server;
  Upgrader upgrader;
  upgrader.check(server.url("/held"));
  ASSERT_TRUE(waitFor([&] { return server.requestsSeen() == 1; }));
  upgrader.upgrader.reset();  // returns although the server still holds the answer
  QCoreApplication::processEvents();
  EXPECT_TRUE(upgrader.lines.empty());
}

}  // namespace
