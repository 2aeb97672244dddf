// The upload queue against the development server and a real FTP server:
// hash query, store and registration in order, and what cancelling, a login
// and a server that goes silent or away do to a run.
#include <gtest/gtest.h>

#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "courseware/kjsc2.h"
#include "courseware/md5.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/qt_text.h"
#include "sys/text_codec.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/devserver_process.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

using testsupport::filesBelow;
using testsupport::readFile;

constexpr int kLongWaitMs = 120000;

struct Registered {
  std::string hash, fileNameGbkHex, path, catalogID, teacherID;
};

std::string hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

class UploadQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(devServer.running());
    ASSERT_TRUE(ftpServer.start());
    client.setServer(devServer.host(), devServer.port());
    ClientState = {};
    ClientState.serverPath = "/";
    ClientState.schoolID = "41";
    ClientState.teacherID = "1207";
    ClientState.ftpHost = "127.0.0.1";
    ClientState.ftpPort = std::to_string(ftpServer.port());
    ClientState.ftpUser = ftpServer.user();
    ClientState.ftpPassword = ftpServer.password();
    AppHooks = {};
    AppHooks.switchPage = [this](const std::string& key) { pages.push_back(key); };
    AppHooks.appendLog = [this](const std::string& line) { log.push_back(text::gbkToUtf8(line)); };
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });
    page = std::make_unique<TForm_kjsc2>(&client, testsupport::sourcePath("assets"));
    // The lesson (900, class 12) and the catalog page's choice, which the
    // courseware goes with.
    page->workflow().setSession([] {
      courseware::UploadSession session = courseware::sessionOfSignIn(ClientState);
      session.processID = "900";
      session.classID = "12";
      session.gradeID = "3";
      session.subjectID = "5";
      session.catalogID = "77";
      return session;
    });
    // The steps keep their order; only the pauses between them are shorter.
    page->workflow().setStepInterval(50);
    page->workflow().setRetryPauses(100, 400);
  }
  void TearDown() override {
    page.reset();
    ui::setMessageSink(nullptr);
    AppHooks = {};
    ClientState = {};
  }

  static testsupport::FtpServer::Options slowFtp() {
    testsupport::FtpServer::Options options;
    options.receiveLimit = 2 * 1024 * 1024;
    return options;
  }

  // A local copy with content of its own; its GBK path as the queue holds it.
  std::string makeCopy(const std::string& utf8Name, int64_t size, uint64_t seed) {
    std::string path = dir.path().toStdString() + "/" + utf8Name;
    ftptest::writePatternFile(path, size, seed);
    return text::utf8ToGbk(path);
  }
  void queue(const std::string& gbkCopy) { ASSERT_TRUE(page->AddFile("/home/teacher/" + gbkCopy, gbkCopy)); }
  static std::string contentOf(const std::string& gbkPath) { return readFile(text::gbkToUtf8(gbkPath)); }

  std::vector<Registered> registry() const {
    std::vector<Registered> entries;
    auto json = nlohmann::json::parse(devServer.control("registry"), nullptr, false);
    if (!json.is_object() || !json["jsonData"].is_array()) return entries;
    for (const auto& row : json["jsonData"]) {
      entries.push_back({row.value("hash", ""), row.value("fileNameGbkHex", ""), row.value("path", ""),
                         row.value("catalogID", ""), row.value("teacherID", "")});
    }
    return entries;
  }
  // The operations the server was asked for, in order, with their hash.
  std::vector<std::string> operations() const {
    std::vector<std::string> seen;
    for (const auto& request : devServer.requests()) {
      std::string op = request.path().substr(request.path().find("clientInterface-") + 16);
      seen.push_back(op + " " + queryParam(request.target, "hash"));
    }
    return seen;
  }
  int ftpCommands(const std::string& verb) const {
    int count = 0;
    for (const std::string& line : ftpServer.commands()) count += line.rfind(verb + " ", 0) == 0 ? 1 : 0;
    return count;
  }
  bool storesSeen() const { return ftpCommands("STOR") > 0; }
  int logLines(const std::string& utf8Part) const {
    int count = 0;
    for (const std::string& line : log) count += line.find(utf8Part) != std::string::npos ? 1 : 0;
    return count;
  }
  // The first file is back to waiting, with the button to choose a chapter,
  // and its retry is due.
  bool waitingForRetry() const {
    return page->workflow().Timer4->isActive() && firstRowState() == QString::fromUtf8("等待上传") &&
           !page->suiImageButton6->isHidden() && !page->Uploading();
  }
  QString firstRowState() const { return page->findChild<QLabel*>("Label13")->text(); }
  bool storing() const { return firstRowState().startsWith(QString::fromUtf8("正在上传，完成")); }
  bool done() const { return page->QueuedCount() == 0; }
  std::string month() const { return QDate::currentDate().toString("yyyy-MM").toStdString(); }
  void click(const char* button) { page->findChild<QPushButton*>(button)->click(); }

  testsupport::DevServerProcess devServer;
  testsupport::FtpServer ftpServer{slowFtp()};
  server::GetClient client;
  QTemporaryDir dir;
  std::unique_ptr<TForm_kjsc2> page;
  std::vector<std::string> pages;
  std::vector<std::string> messages;
  std::vector<std::string> log;  // UTF-8
};

TEST_F(UploadQueue, ThreeFilesAreLookedUpStoredAndRegisteredInOrder) {
  const std::vector<std::string> copies = {
      makeCopy("课件 第一章.pptx", 3 * 1000 * 1000 + 17, 1),
      makeCopy("plan.v2.doc", 65536, 2),
      makeCopy("notes", 0, 3),
  };
  for (const std::string& copy : copies) queue(copy);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));

  std::vector<std::string> hashes, expected;
  for (const std::string& copy : copies) {
    hashes.push_back(courseware::md5Hex(contentOf(copy)));
    expected.push_back("findFileByHash " + hashes.back());
    expected.push_back("postCourseware " + hashes.back());
  }
  EXPECT_EQ(operations(), expected);

  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 3u);
  const std::string folder = "/courseware/41/1207/" + month() + "/";
  const std::vector<std::string> extensions = {".pptx", ".doc", ""};
  const std::vector<std::string> names = {text::utf8ToGbk("课件 第一章"), "plan.v2", "notes"};
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].hash, hashes[i]);
    EXPECT_EQ(entries[i].fileNameGbkHex, hex(names[i]));
    EXPECT_EQ(entries[i].catalogID, "77");
    EXPECT_EQ(entries[i].teacherID, "1207");
    std::regex remote(folder + R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})" +
                      std::regex_replace(extensions[i], std::regex(R"(\.)"), R"(\.)"));
    EXPECT_TRUE(std::regex_match(entries[i].path, remote)) << entries[i].path;
    EXPECT_EQ(readFile(ftpServer.root() + entries[i].path), contentOf(copies[i]));
  }
  EXPECT_FALSE(page->Uploading());
  EXPECT_EQ(pages, std::vector<std::string>{"suiImageButton3"});
  EXPECT_TRUE(messages.empty());
}

TEST_F(UploadQueue, AFileTheServerHoldsIsRegisteredUnderItsPathAndNeverSent) {
  const std::string copy = makeCopy("known.ppt", 200000, 7);
  const std::string hash = courseware::md5Hex(contentOf(copy));
  const std::string serverPath = "/courseware/9/8/2023-09/{00000000-0000-0000-0000-000000000001}.ppt";
  devServer.get(std::string("/clientInterface-postCourseware?appKey=") +
                testsupport::DevServerProcess::kApplicationKey + "&hash=" + hash +
                "&processID=1&schoolID=9&gradeID=1&classesID=1&subjectID=1&catalogID=1&teacherID=8"
                "&fileName=old&path=" +
                serverPath);
  ASSERT_EQ(registry().size(), 1u);

  queue(copy);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));

  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].hash, hash);
  EXPECT_EQ(entries[1].path, serverPath);
  EXPECT_EQ(entries[1].fileNameGbkHex, hex("known"));
  EXPECT_FALSE(storesSeen());
}

TEST_F(UploadQueue, CancellingTheFileBeingStoredMovesOnWithoutRegisteringIt) {
  const std::string big = makeCopy("big.mp4", 40 * 1000 * 1000, 11);
  const std::string small = makeCopy("small.doc", 5000, 12);
  queue(big);
  queue(small);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return storing(); }, kLongWaitMs));

  click("button14");
  EXPECT_EQ(page->workflow().LocalCopies()[0], small);
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));

  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].hash, courseware::md5Hex(contentOf(small)));
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(small));
  // The cancelled file's part went from the server with the cancel.
  EXPECT_EQ(filesBelow(ftpServer.root()), std::vector<std::string>{entries[0].path});
  EXPECT_EQ(ftpCommands("DELE"), 1);
  EXPECT_EQ(logLines("FTP：已删除未传完的文件"), 1);
}

TEST_F(UploadQueue, CancellingAMiddleRowDuringAStoreRegistersEveryOtherFileOnce) {
  const std::string first = makeCopy("first.mp4", 12 * 1000 * 1000, 21);
  const std::string middle = makeCopy("middle.doc", 3000, 22);
  const std::string last = makeCopy("last.doc", 4000, 23);
  for (const std::string& copy : {first, middle, last}) queue(copy);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return storing(); }, kLongWaitMs));

  click("button24");
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));

  // The first file is not started again beside its running store.
  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].hash, courseware::md5Hex(contentOf(first)));
  EXPECT_EQ(entries[1].hash, courseware::md5Hex(contentOf(last)));
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(first));
  int stores = 0;
  for (const std::string& line : ftpServer.commands()) stores += line.rfind("STOR", 0) == 0 ? 1 : 0;
  EXPECT_EQ(stores, 2);
}

TEST_F(UploadQueue, ALoginDuringAStoreEmptiesTheQueueAndTheNextRunIsClean) {
  const std::string big = makeCopy("big.mp4", 40 * 1000 * 1000, 31);
  queue(big);
  queue(makeCopy("other.doc", 1000, 32));
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return storing(); }, kLongWaitMs));

  page->ResetQueue();
  EXPECT_EQ(page->QueuedCount(), 0);
  EXPECT_FALSE(page->Uploading());

  const std::string next = makeCopy("next.doc", 70000, 33);
  queue(next);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));

  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].hash, courseware::md5Hex(contentOf(next)));
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(next));
  EXPECT_EQ(filesBelow(ftpServer.root()), std::vector<std::string>{entries[0].path});
}

TEST_F(UploadQueue, AStoreCutOffByTheFtpServerIsRetriedOnceItIsBackWithProgressShown) {
  // The steps at their real pace, so that the server is back before the
  // retry connects.
  page->workflow().setStepInterval(1000);
  const std::string big = makeCopy("big.mp4", 10 * 1000 * 1000, 41);
  queue(big);
  page->StartNext();

  std::set<QString> progress;
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        if (storing()) progress.insert(firstRowState());
        return progress.size() >= 2;
      },
      kLongWaitMs));

  ftpServer.stop();
  ASSERT_TRUE(testsupport::waitFor([this] { return page->workflow().Timer4->isActive(); }, kLongWaitMs));
  // The event loop does not run until the server listens again, so the
  // retry cannot reach the server before it is back.
  ASSERT_TRUE(ftpServer.start());
  EXPECT_EQ(page->QueuedCount(), 1);

  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));
  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(big));
  // The part the broken store left went with the retry.
  EXPECT_EQ(filesBelow(ftpServer.root()), std::vector<std::string>{entries[0].path});
  // One break that the retry mends is not worth a word to the teacher.
  EXPECT_TRUE(messages.empty());
}

TEST_F(UploadQueue, ASilentHashQueryEndsAtTheTimeOutAndTheFileIsRetried) {
  client.setTimeoutInterval(std::chrono::milliseconds(1500));
  // Long enough a pause to look at the page while the file waits.
  page->workflow().setRetryPauses(1000, 1000);
  int catalogOpened = 0;
  page->setOpenCatalogPage([&catalogOpened] { ++catalogOpened; });
  const std::string copy = makeCopy("课件.pptx", 300000, 51);
  queue(copy);
  devServer.control("mode?set=silent&count=1");
  page->StartNext();

  ASSERT_TRUE(testsupport::waitFor([this] { return waitingForRetry(); }, 60000));
  EXPECT_EQ(logLines("TForm_kjsc2.findFileByHash :   无法访问服务器！"), 1);
  // The teacher may choose a chapter or add files meanwhile.
  page->suiImageButton6->click();
  EXPECT_EQ(catalogOpened, 1);
  EXPECT_TRUE(messages.empty());

  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));
  const std::string hash = courseware::md5Hex(contentOf(copy));
  EXPECT_EQ(operations(), (std::vector<std::string>{"findFileByHash " + hash, "findFileByHash " + hash,
                                                    "postCourseware " + hash}));
  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(copy));
}

TEST_F(UploadQueue, ASilentRegistrationIsRetriedWithoutSendingTheFileAgain) {
  client.setTimeoutInterval(std::chrono::milliseconds(1500));
  const std::string copy = makeCopy("lesson.mp4", 4 * 1000 * 1000, 52);
  queue(copy);
  page->StartNext();
  // The registration is the next request once the store runs.
  ASSERT_TRUE(testsupport::waitFor([this] { return storing(); }, kLongWaitMs));
  devServer.control("mode?set=silent&count=1");

  ASSERT_TRUE(testsupport::waitFor([this] { return waitingForRetry() || done(); }, 60000));
  EXPECT_FALSE(done());
  EXPECT_EQ(logLines("TForm_kjsc2.postCourseware :   无法访问服务器！"), 1);
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));

  const std::string hash = courseware::md5Hex(contentOf(copy));
  EXPECT_EQ(operations(), (std::vector<std::string>{"findFileByHash " + hash, "postCourseware " + hash,
                                                    "findFileByHash " + hash, "postCourseware " + hash}));
  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(ftpCommands("STOR"), 1);
  EXPECT_EQ(filesBelow(ftpServer.root()), std::vector<std::string>{entries[0].path});
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(copy));
}

TEST_F(UploadQueue, AnFtpServerThatIsDownIsTriedAgainWithOneMessagePerRunOfFailures) {
  const std::string plain = text::utf8ToGbk("课件暂时无法上传，稍后会自动重新上传。");
  const std::string big = makeCopy("big.mp4", 6 * 1000 * 1000, 53);
  queue(big);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return storing(); }, kLongWaitMs));
  // A good part of it on the server's disk.
  ASSERT_TRUE(testsupport::waitFor(
      [this] {
        const std::vector<std::string> files = filesBelow(ftpServer.root());
        return files.size() == 1 && readFile(ftpServer.root() + files[0]).size() > 1000 * 1000;
      },
      kLongWaitMs, 20));

  // Killed in the middle of the store, then away for several retries. The
  // message is a real box here: it must not stay once the file is stored.
  ui::setMessageSink(nullptr);
  ftpServer.stop();
  ASSERT_TRUE(testsupport::waitFor([this] { return logLines("无法连接FTP服务器") >= 3; }, kLongWaitMs));
  ASSERT_TRUE(page->storeFailureBox);
  EXPECT_TRUE(page->storeFailureBox->isVisible());
  EXPECT_EQ(text::fromQString(page->storeFailureBox->text()), plain);
  // Its partial file stays on the server for the retry to continue.
  EXPECT_EQ(logLines("FTP：保留未传完的文件"), 1);
  EXPECT_EQ(page->QueuedCount(), 1);

  // Back: the file arrives without a click, whole, and alone, continued
  // where the server's copy ended; the box goes.
  ASSERT_TRUE(ftpServer.start());
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));
  EXPECT_TRUE(testsupport::waitFor([this] { return !page->storeFailureBox; }));
  ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });
  std::vector<Registered> entries = registry();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(readFile(ftpServer.root() + entries[0].path), contentOf(big));
  EXPECT_EQ(filesBelow(ftpServer.root()), std::vector<std::string>{entries[0].path});
  EXPECT_EQ(logLines("FTP：从中断处继续上传"), 1);
  EXPECT_EQ(ftpCommands("REST"), 1);
  EXPECT_TRUE(messages.empty());

  // That success ended the run of failures: the next one is told again.
  ftpServer.stop();
  const std::string next = makeCopy("next.doc", 100000, 54);
  queue(next);
  page->StartNext();
  ASSERT_TRUE(testsupport::waitFor([this] { return messages.size() == 1; }, kLongWaitMs));
  EXPECT_EQ(messages.back(), plain);
  ASSERT_TRUE(ftpServer.start());
  ASSERT_TRUE(testsupport::waitFor([this] { return done(); }, kLongWaitMs));
  entries = registry();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(readFile(ftpServer.root() + entries[1].path), contentOf(next));
  EXPECT_EQ(messages.size(), 1u);
}

}  // namespace
