// The upload workflow on its own, without its page or any other widget,
// against the development server and a real FTP server: what it does and
// what it tells whoever shows it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QTemporaryDir>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "courseware/md5.h"
#include "courseware/upload_workflow.h"
#include "platform/tls_trust.h"
#include "server/get_client.h"
#include "sys/text_codec.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/devserver_process.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_ca.h"
#include "tests/support/test_support.h"

namespace {

using courseware::UploadWorkflow;
using testsupport::readFile;

constexpr int kLongWaitMs = 120000;

// A signed-in teacher's lesson and the FTP server's login.
courseware::UploadSession sessionWith(const testsupport::FtpServer& ftpServer) {
  courseware::UploadSession session;
  session.serverPath = "/";
  session.schoolID = "41";
  session.teacherID = "1207";
  session.processID = "900";
  session.gradeID = "3";
  session.classID = "12";
  session.subjectID = "5";
  session.catalogID = "77";
  session.ftpHost = "127.0.0.1";
  session.ftpPort = std::to_string(ftpServer.port());
  session.ftpUser = ftpServer.user();
  session.ftpPassword = ftpServer.password();
  return session;
}

class Workflow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(devServer.running());
    ASSERT_TRUE(ftpServer.start());
    client.setServer(devServer.host(), devServer.port());
    session = sessionWith(ftpServer);
    workflow.setSession([this] { return session; });
    workflow.setStepInterval(50);
    workflow.setRetryPauses(100, 400);
    QObject::connect(&workflow, &UploadWorkflow::uploadStarted, [this] { trail.push_back("started"); });
    QObject::connect(&workflow, &UploadWorkflow::uploadHalted, [this] { trail.push_back("halted"); });
    QObject::connect(&workflow, &UploadWorkflow::queueEmptied, [this] { trail.push_back("emptied"); });
    QObject::connect(&workflow, &UploadWorkflow::storeProgress, [this](int percent) {
      if (trail.empty() || trail.back() != "progress") trail.push_back("progress");
      percents.push_back(percent);
    });
    QObject::connect(&workflow, &UploadWorkflow::message,
                     [this](const std::string& text) { messages.push_back(text::gbkToUtf8(text)); });
    QObject::connect(&workflow, &UploadWorkflow::logLine,
                     [this](const std::string& line) { log.push_back(text::gbkToUtf8(line)); });
  }
  void TearDown() override {
    // Nothing on the way needed a window.
    EXPECT_TRUE(QApplication::allWidgets().isEmpty());
  }

  std::string makeCopy(const std::string& utf8Name, int64_t size, uint64_t seed) {
    std::string path = dir.path().toStdString() + "/" + utf8Name;
    ftptest::writePatternFile(path, size, seed);
    return text::utf8ToGbk(path);
  }
  static std::string contentOf(const std::string& gbkPath) { return readFile(text::gbkToUtf8(gbkPath)); }
  // Hash and stored path of each registration, in order.
  std::vector<std::pair<std::string, std::string>> registry() const {
    std::vector<std::pair<std::string, std::string>> entries;
    auto json = nlohmann::json::parse(devServer.control("registry"), nullptr, false);
    if (!json.is_object() || !json["jsonData"].is_array()) return entries;
    for (const auto& row : json["jsonData"])
      entries.emplace_back(row.value("hash", ""), row.value("path", ""));
    return entries;
  }

  testsupport::DevServerProcess devServer;
  testsupport::FtpServer ftpServer;
  server::GetClient client;
  UploadWorkflow workflow{&client};
  courseware::UploadSession session;
  QTemporaryDir dir;
  std::vector<std::string> trail;
  std::vector<int> percents;
  std::vector<std::string> messages;  // UTF-8
  std::vector<std::string> log;       // UTF-8
};

TEST_F(Workflow, StoresAndRegistersEachFileAndReportsEachStepWithoutAWindow) {
  const std::string first = makeCopy("课件.pptx", 3 * 1000 * 1000 + 5, 1);
  const std::string second = makeCopy("plan.doc", 70000, 2);
  ASSERT_TRUE(workflow.AddFile("/home/t/a.pptx", first));
  ASSERT_TRUE(workflow.AddFile("/home/t/plan.doc", second));
  workflow.StartNext();
  EXPECT_TRUE(workflow.FirstFileOnItsWay());
  ASSERT_TRUE(testsupport::waitFor([this] { return workflow.QueuedCount() == 0; }, kLongWaitMs));

  auto entries = registry();
  ASSERT_EQ(entries.size(), 2u);
  const std::string folder = "/courseware/41/1207/" + QDate::currentDate().toString("yyyy-MM").toStdString();
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string& copy = i == 0 ? first : second;
    EXPECT_EQ(entries[i].first, courseware::md5Hex(contentOf(copy)));
    EXPECT_EQ(entries[i].second.rfind(folder, 0), 0u) << entries[i].second;
    EXPECT_EQ(readFile(ftpServer.root() + entries[i].second), contentOf(copy));
  }
  // Each file sets off and is stored; the last one gone empties the queue.
  EXPECT_EQ(trail,
            (std::vector<std::string>{"started", "progress", "started", "progress", "halted", "emptied"}))
      << testing::PrintToString(trail);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(workflow.Uploading());
}

// The pauses between retries as a real workflow has them, read from its
// retry timer after each failure instead of waited for: 5 s, doubling, at
// most 30 s.
TEST_F(Workflow, RetriesPauseFiveSecondsDoublingUpToThirty) {
  UploadWorkflow plain{&client};
  plain.setSession([this] { return session; });
  plain.setStepInterval(50);
  int failures = 0;
  QObject::connect(&plain, &UploadWorkflow::logLine, [&](const std::string& line) {
    failures += text::gbkToUtf8(line).find("无法连接FTP服务器") != std::string::npos;
  });
  ftpServer.stop();
  ASSERT_TRUE(plain.AddFile("/home/t/lesson.doc", makeCopy("lesson.doc", 1000, 4)));
  plain.StartNext();
  std::vector<int> pauses;
  for (int n = 1; n <= 5; ++n) {
    ASSERT_TRUE(testsupport::waitFor([&] { return failures >= n && plain.Timer4->isActive(); }, kLongWaitMs));
    pauses.push_back(plain.Timer4->interval());
    plain.Timer4->stop();
    plain.Timer4Timer();
  }
  EXPECT_EQ(pauses, (std::vector<int>{5000, 10000, 20000, 30000, 30000}));
}

TEST_F(Workflow, AnFtpServerThatIsDownIsToldOnceAndTheFileWaitsForIt) {
  const std::string copy = makeCopy("lesson.doc", 200000, 3);
  ftpServer.stop();
  ASSERT_TRUE(workflow.AddFile("/home/t/lesson.doc", copy));
  workflow.StartNext();
  int connectFailures = 0;
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        connectFailures = 0;
        for (const std::string& line : log)
          connectFailures += line.find("无法连接FTP服务器") != std::string::npos;
        return connectFailures >= 2;
      },
      kLongWaitMs));
  EXPECT_EQ(messages, std::vector<std::string>{"课件暂时无法上传，稍后会自动重新上传。"});
  int recovered = 0;
  QObject::connect(&workflow, &UploadWorkflow::storeRecovered, [&] { ++recovered; });
  EXPECT_EQ(workflow.QueuedCount(), 1);
  EXPECT_EQ(trail.front(), "started");
  EXPECT_NE(std::find(trail.begin(), trail.end(), "halted"), trail.end());

  ASSERT_TRUE(ftpServer.start());
  session.ftpPort = std::to_string(ftpServer.port());
  ASSERT_TRUE(testsupport::waitFor([this] { return workflow.QueuedCount() == 0; }, kLongWaitMs));
  auto entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].second), contentOf(copy));
  EXPECT_EQ(messages.size(), 1u);
  // The message's box is told to go.
  EXPECT_EQ(recovered, 1);
}

// Courseware stored during a lesson started offline waits for the lesson's
// id from the server, then is registered with it, never with the local id.
TEST_F(Workflow, AFileOfAnOfflineLessonIsRegisteredWithTheServersLessonId) {
  session.processID = "offline-20261210090500";
  const std::string copy = makeCopy("offline.doc", 50000, 4);
  ASSERT_TRUE(workflow.AddFile("/home/t/offline.doc", copy));
  workflow.StartNext();
  ASSERT_TRUE(testsupport::waitFor(
      [this] {
        return std::count_if(log.begin(), log.end(),
                             [](const std::string& line) {
                               return line.find("offline-20261210090500") != std::string::npos;
                             }) == 1 &&
               testsupport::filesBelow(ftpServer.root()).size() == 1;
      },
      kLongWaitMs));
  // Held back: several retry pauses pass without a request or a message.
  const size_t requestsBefore = devServer.requests().size();
  EXPECT_FALSE(testsupport::waitFor(
      [&] { return devServer.requests().size() > requestsBefore || !messages.empty(); }, 1000, 50));
  EXPECT_TRUE(registry().empty());

  // The server has taken the lesson: the file goes with its id.
  session.processID = "70005";
  ASSERT_TRUE(testsupport::waitFor([this] { return workflow.QueuedCount() == 0; }, kLongWaitMs));
  ASSERT_EQ(registry().size(), 1u);
  int registrations = 0;
  for (const testsupport::DevServerRequest& request : devServer.requests()) {
    EXPECT_EQ(request.target.find("offline-"), std::string::npos) << request.target;
    if (request.path() != "/clientInterface-postCourseware") continue;
    ++registrations;
    EXPECT_NE(request.target.find("&processID=70005&"), std::string::npos) << request.target;
  }
  EXPECT_EQ(registrations, 1);
}

// A store the FTP server cuts off at about half goes on where the server's
// copy ends: one STOR cut off, then only the rest after REST, one
// registration and the file whole on the server. A file cancelled between
// two attempts takes its partial file with it.
TEST_F(Workflow, AStoreCutOffGoesOnWhereItEndedAndACancelDeletesWhatIsLeft) {
  const int64_t size = 6 * 1000 * 1000;
  testsupport::FtpServer::Options cutAtHalf;
  cutAtHalf.failStores = 1;
  cutAtHalf.failAfterBytes = size / 2;
  testsupport::FtpServer cutting(cutAtHalf);
  ASSERT_TRUE(cutting.start());
  session.ftpPort = std::to_string(cutting.port());
  const std::string copy = makeCopy("video.mp4", size, 5);
  ASSERT_TRUE(workflow.AddFile("/home/t/video.mp4", copy));
  workflow.StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return workflow.QueuedCount() == 0; }, kLongWaitMs));

  const auto entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(readFile(cutting.root() + entries[0].second) == contentOf(copy));
  EXPECT_EQ(testsupport::filesBelow(cutting.root()), std::vector<std::string>{entries[0].second});
  int stores = 0, restarts = 0, deletes = 0;
  for (const std::string& command : cutting.commands()) {
    stores += command.rfind("STOR ", 0) == 0;
    restarts += command.rfind("REST ", 0) == 0;
    deletes += command.rfind("DELE ", 0) == 0;
  }
  EXPECT_EQ(stores, 2);  // the one cut off, and the one from where it ended
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(deletes, 0);
  EXPECT_TRUE(messages.empty());

  // Cut off again, and the file cancelled while it waits for its retry.
  workflow.setRetryPauses(60000, 60000);
  testsupport::FtpServer cuttingAgain(cutAtHalf);
  ASSERT_TRUE(cuttingAgain.start());
  session.ftpPort = std::to_string(cuttingAgain.port());
  const std::string second = makeCopy("second.mp4", size, 6);
  ASSERT_TRUE(workflow.AddFile("/home/t/second.mp4", second));
  workflow.StartNext();
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        return testsupport::filesBelow(cuttingAgain.root()).size() == 1 && !workflow.FirstFileOnItsWay();
      },
      kLongWaitMs));
  workflow.RemoveFile(0);
  EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::filesBelow(cuttingAgain.root()).empty(); },
                                   kLongWaitMs));
}

// With an https server and FTPS required, the file is stored over TLS and
// registered over TLS, and the FTP login never goes in clear.
TEST(SecureWorkflow, StoresOverFtpsAndRegistersOverHttps) {
  const testsupport::TestCa& ca = testsupport::TestCa::shared();
  if (!ca.made()) GTEST_SKIP() << "the openssl command is needed to make a test CA";
  platform::TlsTrust trust;
  trust.caFile = ca.caFile();
  platform::setTlsTrust(trust);
  testsupport::DevServerProcess devServer(
      {"--tls-cert", ca.certificate("good"), "--tls-key", ca.key("good")});
  testsupport::FtpServer::Options tls;
  tls.tlsCert = ca.certificate("good");
  tls.tlsKey = ca.key("good");
  tls.tlsRequired = true;
  testsupport::FtpServer ftpServer(tls);
  ASSERT_TRUE(devServer.running());
  ASSERT_TRUE(ftpServer.start());
  server::GetClient client;
  client.setServer("localhost", devServer.port(), true);
  UploadWorkflow workflow{&client};
  courseware::UploadSession session = sessionWith(ftpServer);
  session.ftpTls = "require";
  workflow.setSession([&session] { return session; });
  workflow.setStepInterval(50);
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/lesson.pptx";
  ftptest::writePatternFile(path, 200000, 3);
  ASSERT_TRUE(workflow.AddFile("/home/t/lesson.pptx", text::utf8ToGbk(path)));
  workflow.StartNext();
  EXPECT_TRUE(testsupport::waitFor([&] { return workflow.QueuedCount() == 0; }, kLongWaitMs));
  platform::setTlsTrust({});

  const auto requests = devServer.requests();
  ASSERT_FALSE(requests.empty());
  for (const auto& request : requests) EXPECT_EQ(request.scheme, "https") << request.target;
  EXPECT_EQ(requests.back().path(), "/clientInterface-postCourseware");
  const auto commands = ftpServer.commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.front(), "AUTH TLS");
  const auto json = nlohmann::json::parse(devServer.control("registry"), nullptr, false);
  ASSERT_TRUE(json.is_object() && json["jsonData"].is_array() && json["jsonData"].size() == 1) << json.dump();
  EXPECT_TRUE(readFile(ftpServer.root() + json["jsonData"][0].value("path", "")) == readFile(path));
}

}  // namespace
