// The GET client against the development server: what each request of the
// client looks like on the wire, and how the server's odd replies (error
// page, chunked, big, slow, cut off) reach the handler.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::DevServerProcess;
using testsupport::waitFor;

class GetClientDevServer : public ::testing::Test {
 protected:
  // The server sits below /edu/, as a school's server often does.
  DevServerProcess devserver{{"--prefix", "/edu/"}};
  server::GetClient client;
  std::vector<std::string> replies;

  void SetUp() override {
    ASSERT_TRUE(devserver.running());
    client.setServer(devserver.host(), devserver.port());
    client.setReplyHandler([this](const std::string& reply) {
      replies.push_back(reply);
      client.finishRequest(reply);
    });
  }

  // Sends one request and returns what the handler received.
  std::string fetch(const std::string& target) {
    replies.clear();
    client.startRequest(target);
    if (!waitFor([&] { return !replies.empty(); }, 30000)) return "(no reply)";
    return replies.size() == 1 ? replies[0] : "(more than one reply)";
  }
};

TEST_F(GetClientDevServer, EveryRequestGoesOutAsExactlyTheClientsRequestText) {
  const std::string path = "/edu/";
  const std::string fault = text::utf8ToGbk("投影仪不亮 & 无声音");
  const std::string fileName = text::utf8ToGbk("第一课 课件");
  struct Case {
    const char* name;
    std::string target;
    bool answeredWithJson;
  };
  const std::vector<Case> cases = {
      {"teachers", HttpUrl::TeachersOfSchool(path, "1001"), true},
      {"schools", HttpUrl::SchoolsOfDistrict(path, "110101"), true},
      {"grades", HttpUrl::GradesOfSchool(path, "1001"), true},
      {"classes", HttpUrl::ClassesOfGrade(path, "1001", "3001"), true},
      {"subjects", HttpUrl::SubjectsOfGrade(path, "3001"), true},
      {"fault report", HttpUrl::ReportFault(path, "1001", "3001", "4001", "2001", "13810012001", fault, ""),
       true},
      {"lesson start", HttpUrl::StartLesson(path, "1001", "3001", "4001", "2001", "5001", "DISK01", "0", ""),
       true},
      // Posted as a form in real use; sent here only to see its target pass
      // through the client unchanged.
      {"screenshot",
       HttpUrl::Screenshot(path, "1", "1001", "3001", "4001", "2001", "5001", "DISK01", "0", ""), false},
      {"running lesson", HttpUrl::RunningLesson(path, "DISK01"), true},
      {"catalogs", HttpUrl::CatalogsOfSubject(path, "1001", "3001", "5001"), true},
      {"file known", HttpUrl::FindFileByHash(path, "0123456789abcdef0123456789abcdef"), true},
      {"register courseware",
       HttpUrl::RegisterCourseware(path, "0123456789abcdef0123456789abcdef", "1", "1001", "3001", "4001",
                                   "5001", "6001", "2001", fileName, "/courseware/1001/2001/202409/x.ppt"),
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string reply = fetch(c.target);
    if (c.answeredWithJson) {
      EXPECT_FALSE(Json_Func::ExtractJsonPart(reply).empty()) << reply;
    }
  }
  ASSERT_TRUE(devserver.waitForRequests(cases.size()));
  auto logged = devserver.requests();
  ASSERT_EQ(logged.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(logged[i].method, "GET");
    EXPECT_EQ(logged[i].target, cases[i].target);
    EXPECT_EQ(logged[i].version, "HTTP/1.1");
    // Nothing but these three headers, and Host without the port.
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(logged[i].headers,
              (Headers{{"Accept", "*/*"}, {"Connection", "Close"}, {"Host", "127.0.0.1"}}));
    EXPECT_EQ(logged[i].bodySize, 0u);
  }
}

TEST_F(GetClientDevServer, OddRepliesReachTheHandlerWholeAndReadAsTheyShould) {
  const std::string target = HttpUrl::TeachersOfSchool("/edu/", "1001");
  const std::string normal = fetch(target);
  const std::string normalJson = Json_Func::ExtractJsonPart(normal);
  Json_Func::RecordList normalRecords;
  ASSERT_TRUE(Json_Func::ReadDataRecords(normalJson, normalRecords));
  ASSERT_EQ(normalRecords.size(), 3u);
  EXPECT_EQ(normalRecords[0].text("userName"), text::utf8ToGbk("张伟"));

  struct Case {
    const char* mode;
    bool hasJson;
    bool readable;
  };
  for (const Case& c : std::vector<Case>{{"error", false, false},
                                         {"chunked", true, true},
                                         {"big", true, true},
                                         {"slow", true, true},
                                         {"close", true, false}}) {
    SCOPED_TRACE(c.mode);
    ASSERT_FALSE(devserver.control(std::string("mode?set=") + c.mode + "&count=1").empty());
    const std::string reply = fetch(target);
    const std::string json = Json_Func::ExtractJsonPart(reply);
    EXPECT_EQ(!json.empty(), c.hasJson) << reply.substr(0, 300);
    Json_Func::RecordList records;
    EXPECT_EQ(Json_Func::ReadDataRecords(json, records), c.readable);
    if (!c.readable) continue;
    ASSERT_GE(records.size(), 3u);
    // Names with multi-byte characters survive pieces and chunk framing.
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(records[i].text("userName"), normalRecords[i].text("userName"));
    if (std::string(c.mode) == "slow") {
      EXPECT_EQ(json, normalJson);
    }
    if (std::string(c.mode) == "big") {
      EXPECT_GT(reply.size(), 4u * 1024 * 1024);
    }
  }
}

// Peak and current resident memory of this process, in KiB.
long memoryKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// A server that ignores "Connection: Close" after a reply of known length,
// and one whose reply never ends.
TEST_F(GetClientDevServer, AHeldConnectionIsAnsweredAtOnceAndAnEndlessReplyEndsAtTheCap) {
  const std::string target = HttpUrl::GradesOfSchool("/edu/", "1001");
  // The time-out would deliver its own error; here it must not be what ends
  // either request.
  client.setTimeoutInterval(std::chrono::minutes(5));
  ASSERT_FALSE(devserver.control("mode?set=hold&count=1").empty());
  const std::string held = fetch(target);
  EXPECT_FALSE(Json_Func::ExtractJsonPart(held).empty()) << held.substr(0, 300);

  ASSERT_FALSE(devserver.control("mode?set=endless&count=1").empty());
  // The peak counts from here (writing 5 to clear_refs resets it).
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = memoryKiB("VmRSS");
  const long limit = before + (server::GetClient::kMaxReplyBytes >> 10) + 64 * 1024;
  replies.clear();
  client.startRequest(target);
  // Given up early when the memory runs past the limit, so that a client
  // without a cap does not take the machine with it.
  waitFor([&] { return !replies.empty() || memoryKiB("VmRSS") > limit; }, 120000);
  EXPECT_EQ(replies, std::vector<std::string>{"error:Reply larger than 32 MiB"});
  EXPECT_LT(memoryKiB("VmHWM"), limit);
  // The buffer is given back at once.
  EXPECT_LT(memoryKiB("VmRSS"), before + 16 * 1024);
  client.setServer("", 0);
  client.startRequest("");  // ends the request of a client without a cap
}

// A disk serial with a blank (as some drives report it) reaches the server
// intact: the lesson starts, and the running lesson is found by the same
// serial.
TEST_F(GetClientDevServer, ASerialWithABlankStartsAndResumesTheLesson) {
  const std::string serial = "WD-WCC 4N1234";
  const std::string started =
      fetch(HttpUrl::StartLesson("/edu/", "1001", "3001", "4001", "2001", "5001", serial, "0", ""));
  const std::string processID = Json_Func::ReadProcessID(Json_Func::ExtractJsonPart(started));
  ASSERT_FALSE(processID.empty()) << started;
  // The server holds the serial as the drive reports it.
  EXPECT_NE(devserver.control("lessons").find("\"" + serial + "\""), std::string::npos);

  const std::string running = fetch(HttpUrl::RunningLesson("/edu/", serial));
  Json_Func::RecordList records;
  ASSERT_TRUE(Json_Func::ReadDataRecords(Json_Func::ExtractJsonPart(running), records)) << running;
  ASSERT_FALSE(records.empty()) << running;
  EXPECT_EQ(records[0].text("processID"), processID);
  EXPECT_EQ(records[0].text("teacherID"), "2001");
}

}  // namespace
