// The delivery of what the client kept while the server could not be
// reached, against a real edu.db and the development server started late on
// the port the client already points at: the lesson first with its own begin
// time, then its pictures with the server's lesson id and their own times,
// byte for byte, then the fault report; refusals are marked and not sent
// again.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "core/offline_delivery.h"
#include "platform/tls_trust.h"
#include "state/client_state.h"
#include "store/offline_store.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_ca.h"

namespace {

using storetest::EduDb;
using storetest::Rows;
using testsupport::DevServerProcess;
using testsupport::DevServerRequest;

using text::gbk;

std::string sentParameter(const std::string& target, const std::string& name) {
  const size_t at = target.find("&" + name + "=");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 2;
  return target.substr(from, target.find('&', from) - from);
}

class OfflineDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DB_Func::EnsureOwnTables();
    port_ = testsupport::freePort();
    ClientState = {};
    ClientState.serverHost = "127.0.0.1";
    ClientState.serverPort = port_;
    ClientState.serverPath = "/";
    delivery_.setRetryInterval(std::chrono::milliseconds(300));
  }
  void TearDown() override { ClientState = {}; }

  long long keepOfflineLesson() {
    DB_Func::LessonRecord lesson;
    lesson.localId = "offline-20261210090500";
    lesson.teacherID = "2001";
    lesson.teacherName = gbk("张伟");
    lesson.schoolID = "1001";
    lesson.gradeID = "3001";
    lesson.classID = "4001";
    lesson.subjectID = "5002";
    lesson.deviceID = "DISK-7";
    lesson.beginTime = "2026-12-10 09:05:00";
    return DB_Func::AddOfflineLesson(lesson);
  }

  // A picture file with its own bytes, kept as waiting under `lessonRow`.
  std::string keepPicture(long long lessonRow, const std::string& name, const std::string& time) {
    const std::string disk = pictures_.path().toStdString() + "/" + name;
    std::string bytes = "\xff\xd8\xff\xe0" + name;
    for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<char>(i * 31 + name.size()));
    EXPECT_TRUE(testsupport::writeFile(disk, bytes));
    DB_Func::ShotRecord shot;
    shot.filePath = text::utf8ToGbk(disk);
    shot.shotTime = time;
    shot.schoolID = "1001";
    shot.gradeID = "3001";
    shot.classID = "4001";
    shot.teacherID = "2001";
    shot.subjectID = "5002";
    shot.deviceID = "DISK-7";
    DB_Func::AddPendingShot(lessonRow, shot);
    return bytes;
  }

  void keepReport() {
    DB_Func::RepairRecord report;
    report.schoolID = "1001";
    report.gradeID = "3001";
    report.classID = "4001";
    report.teacherID = "2001";
    report.tel = "13810012001";
    report.faultDetail = gbk("投影仪不亮\r\n");
    report.reportTime = "2026-12-10 09:10:00";
    DB_Func::AddRepairReport(report, DB_Func::kPending);
  }

  EduDb db_;
  QTemporaryDir pictures_;
  int port_ = 0;
  Lesson running_;  // the lesson this computer is timing
  OfflineDelivery delivery_;
};

TEST_F(OfflineDeliveryTest, EverythingKeptReachesTheServerOnceItIsThereInOrder) {
  const long long lesson = keepOfflineLesson();
  const std::string first = keepPicture(lesson, "09.06__2.jpg", "2026-12-10 09:06:00");
  const std::string second = keepPicture(lesson, "09.07__3.jpg", "2026-12-10 09:07:00");
  keepReport();
  // The lesson still runs under its local id.
  running_.resume("offline-20261210090500", {}, "2026-12-10 09:05:00", 120);
  delivery_.setLesson(&running_);
  QSignalSpy idChanges(&running_, &Lesson::idChanged);
  QSignalSpy rounds(&delivery_, &OfflineDelivery::roundEnded);
  delivery_.itemsAdded();
  EXPECT_TRUE(delivery_.retryRunning());

  // Nobody listens yet: asked to send now, it says so and keeps everything.
  delivery_.sendAllNow();
  ASSERT_TRUE(testsupport::waitFor([&] { return rounds.count() >= 1; }));
  EXPECT_FALSE(rounds.at(0).at(0).toBool());
  EXPECT_EQ(rounds.at(0).at(3).toInt(), 4);
  EXPECT_EQ(DB_Func::CountPending().lessons + DB_Func::CountPending().shots + DB_Func::CountPending().repairs,
            4);

  // The server comes; the retry timer finds it without anyone asking.
  DevServerProcess server({"--port", std::to_string(port_)});
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(testsupport::waitFor([&] { return !DB_Func::CountPending().any(); }, 30000));
  ASSERT_TRUE(testsupport::waitFor([&] { return !delivery_.sending(); }));
  EXPECT_FALSE(delivery_.retryRunning());

  const std::vector<DevServerRequest> sent = server.requests();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].path(), "/clientInterface-getStartCountTime");
  EXPECT_EQ(sentParameter(sent[0].target, "offLine"), "1");
  EXPECT_EQ(sentParameter(sent[0].target, "beginTime"), "2026-12-10+09%3a05%3a00");
  EXPECT_EQ(sentParameter(sent[0].target, "deviceID"), "DISK-7");
  EXPECT_EQ(sent[0].beginTime, "2026-12-10 09:05:00");
  const Rows lessonRow = db_.rows("SELECT state, process_id FROM t_offline_lesson");
  ASSERT_EQ(lessonRow.size(), 1u);
  EXPECT_EQ(lessonRow[0][0], "delivered");
  const std::string processID = lessonRow[0][1];
  ASSERT_FALSE(processID.empty());
  // The running lesson goes on under the server's id.
  EXPECT_EQ(running_.processID(), processID);
  EXPECT_EQ(idChanges.count(), 1);
  const std::string shotTimes[] = {"2026-12-10+09%3a06%3a00", "2026-12-10+09%3a07%3a00"};
  for (int n = 0; n < 2; ++n) {
    const DevServerRequest& shot = sent[static_cast<size_t>(1 + n)];
    EXPECT_EQ(shot.path(), "/clientInterface-postScreenShot");
    EXPECT_EQ(sentParameter(shot.target, "processID"), processID);
    EXPECT_EQ(sentParameter(shot.target, "offLine"), "1");
    EXPECT_EQ(sentParameter(shot.target, "shotTime"), shotTimes[n]);
    EXPECT_EQ(testsupport::readFile(server.dataDir() + "/screens/" + processID + "/" + std::to_string(n + 1) +
                                    ".jpg"),
              n == 0 ? first : second);
  }
  EXPECT_EQ(sent[3].path(), "/clientInterface-insertRepairs");
  // Sent exactly as the live report was: every line ended by CR LF.
  EXPECT_EQ(sentParameter(sent[3].target, "faultDetail"),
            "%e6%8a%95%e5%bd%b1%e4%bb%aa%e4%b8%8d%e4%ba%ae%0d%0a");
  EXPECT_EQ(db_.rows("SELECT state FROM t_offline_shot UNION ALL SELECT state FROM t_repair_report"),
            (Rows{{"delivered"}, {"delivered"}, {"delivered"}}));
}

// A server that says no (here: to everything sent later, as a server in
// maintenance might) refuses nothing with one answer. Only the third "no"
// for the same item, an hour after the first, marks it refused; a refused
// lesson takes its pictures with it, and nothing refused is sent again.
TEST_F(OfflineDeliveryTest, OnlyRepeatedRefusalsOverAnHourRefuseAndRefusedItemsAreNotSentAgain) {
  DevServerProcess server({"--port", std::to_string(port_), "--refuse-offline"});
  ASSERT_TRUE(server.running());
  long long now = 1'800'000'000'000;
  delivery_.setClock([&] { return now; });
  // Rounds start only when the test says so.
  delivery_.setRetryInterval(std::chrono::hours(1));
  const long long lesson = keepOfflineLesson();
  keepPicture(lesson, "09.06__2.jpg", "2026-12-10 09:06:00");
  // A picture of an online lesson whose upload failed goes out alone.
  DB_Func::LessonRecord online;
  online.beginTime = "2026-12-10 10:00:00";
  keepPicture(DB_Func::LessonRowFor("70001", online), "10.01__2.jpg", "2026-12-10 10:01:00");
  keepReport();
  QSignalSpy rounds(&delivery_, &OfflineDelivery::roundEnded);

  const long long minute = 60'000;
  const struct {
    long long at;
    int refused;
    int waiting;
  } tries[] = {{0, 0, 3}, {30 * minute, 0, 3}, {61 * minute, 2, 0}};
  const long long t0 = now;
  for (const auto& t : tries) {
    SCOPED_TRACE(t.at / minute);
    now = t0 + t.at;
    const int before = static_cast<int>(rounds.count());
    delivery_.sendAllNow();
    ASSERT_TRUE(testsupport::waitFor([&] { return rounds.count() == before + 1; }, 30000));
    EXPECT_TRUE(rounds.at(before).at(0).toBool());
    EXPECT_EQ(rounds.at(before).at(2).toInt(), t.refused);
    EXPECT_EQ(rounds.at(before).at(3).toInt(), t.waiting);
  }
  EXPECT_EQ(db_.rows("SELECT state FROM t_offline_lesson WHERE offline = 1"), Rows{{"refused"}});
  EXPECT_EQ(db_.rows("SELECT state FROM t_offline_shot ORDER BY id"), (Rows{{"refused"}, {"refused"}}));
  EXPECT_EQ(db_.rows("SELECT state FROM t_repair_report"), Rows{{"delivered"}});
  // The lesson and the online lesson's picture three times, the report once.
  const size_t sent = server.requests().size();
  EXPECT_EQ(sent, 7u);
  delivery_.sendAllNow();
  ASSERT_TRUE(testsupport::waitFor([&] { return rounds.count() == 4; }));
  EXPECT_EQ(server.requests().size(), sent);
  // The pictures stay on disk.
  EXPECT_TRUE(QFile::exists(pictures_.filePath("09.06__2.jpg")));
}

// An error page for the oldest item holds up nothing behind it: the report
// goes in the same round, and the lesson waits its own minute (the retry
// timer and other answers do not send it sooner), then goes with its picture.
TEST_F(OfflineDeliveryTest, AnErrorPageForTheHeadItemHoldsUpNothingBehindIt) {
  DevServerProcess server({"--port", std::to_string(port_)});
  ASSERT_TRUE(server.running());
  long long now = 1'800'000'000'000;
  delivery_.setClock([&] { return now; });
  // Rounds start only when the test says so.
  delivery_.setRetryInterval(std::chrono::hours(1));
  const long long lesson = keepOfflineLesson();
  keepPicture(lesson, "09.06__2.jpg", "2026-12-10 09:06:00");
  keepReport();
  ASSERT_FALSE(server.control("mode?set=error&count=1&only=getStartCountTime").empty());
  QSignalSpy rounds(&delivery_, &OfflineDelivery::roundEnded);
  delivery_.sendAllNow();
  ASSERT_TRUE(testsupport::waitFor([&] { return rounds.count() == 1; }, 30000));
  EXPECT_TRUE(rounds.at(0).at(0).toBool());
  EXPECT_EQ(rounds.at(0).at(3).toInt(), 2);
  EXPECT_EQ(db_.rows("SELECT state FROM t_repair_report"), Rows{{"delivered"}});
  EXPECT_EQ(db_.rows("SELECT state, attempts FROM t_offline_lesson"), (Rows{{"pending", "1"}}));

  now += 59'000;
  delivery_.serverAnswered();
  ASSERT_TRUE(testsupport::waitFor([&] { return rounds.count() == 2; }));
  EXPECT_EQ(server.requests().size(), 2u);

  now += 1'000;
  delivery_.serverAnswered();
  ASSERT_TRUE(testsupport::waitFor([&] { return !DB_Func::CountPending().any(); }, 30000));
  std::vector<std::string> paths;
  for (const DevServerRequest& request : server.requests()) paths.push_back(request.path());
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "/clientInterface-getStartCountTime", "/clientInterface-insertRepairs",
                       "/clientInterface-getStartCountTime", "/clientInterface-postScreenShot"}));
}

// Items kept while a retry is already on its way do not put it off: the
// timer goes on from where it was.
TEST_F(OfflineDeliveryTest, NewItemsDoNotPostponeARetryAlreadyOnItsWay) {
  // The timer may be late or early by 5% of its interval; the wait between
  // the two items is longer than that twice over.
  delivery_.setRetryInterval(std::chrono::seconds(10));
  keepReport();
  delivery_.itemsAdded();
  ASSERT_TRUE(delivery_.retryRunning());
  QTest::qWait(1500);
  keepReport();
  delivery_.itemsAdded();
  EXPECT_LT(delivery_.retryRemaining(), std::chrono::milliseconds(9250));
}

// Another request the server answered sends what waits at once, whatever
// the retry interval; with nothing waiting it sends nothing.
TEST_F(OfflineDeliveryTest, AnAnswerToAnotherRequestSendsAtOnce) {
  DevServerProcess server({"--port", std::to_string(port_)});
  ASSERT_TRUE(server.running());
  delivery_.setRetryInterval(std::chrono::hours(1));
  delivery_.serverAnswered();
  QCoreApplication::processEvents();
  EXPECT_TRUE(server.requests().empty());

  keepReport();
  delivery_.itemsAdded();
  delivery_.serverAnswered();
  ASSERT_TRUE(testsupport::waitFor([&] { return !DB_Func::CountPending().any(); }));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].path(), "/clientInterface-insertRepairs");
}

// Kept for an https server, everything goes over TLS, the picture too.
TEST_F(OfflineDeliveryTest, ForAnHttpsServerEverythingGoesOverTls) {
  const testsupport::TestCa& ca = testsupport::TestCa::shared();
  if (!ca.made()) GTEST_SKIP() << "the openssl command is needed to make a test CA";
  platform::TlsTrust trust;
  trust.caFile = ca.caFile();
  platform::setTlsTrust(trust);
  DevServerProcess server({"--tls-cert", ca.certificate("good"), "--tls-key", ca.key("good")});
  ASSERT_TRUE(server.running());
  ClientState.serverHost = "localhost";
  ClientState.serverPort = server.port();
  ClientState.serverSecure = true;
  const long long lesson = keepOfflineLesson();
  const std::string picture = keepPicture(lesson, "09.06__2.jpg", "2026-12-10 09:06:00");
  keepReport();
  delivery_.sendAllNow();
  EXPECT_TRUE(testsupport::waitFor([&] { return !DB_Func::CountPending().any(); }, 30000));
  EXPECT_TRUE(testsupport::waitFor([&] { return !delivery_.sending(); }));
  platform::setTlsTrust({});

  const std::vector<DevServerRequest> sent = server.requests();
  ASSERT_EQ(sent.size(), 3u);
  for (const DevServerRequest& request : sent) EXPECT_EQ(request.scheme, "https") << request.target;
  const Rows lessonRow = db_.rows("SELECT process_id FROM t_offline_lesson");
  ASSERT_EQ(lessonRow.size(), 1u);
  EXPECT_EQ(testsupport::readFile(server.dataDir() + "/screens/" + lessonRow[0][0] + "/1.jpg"), picture);
}

}  // namespace
