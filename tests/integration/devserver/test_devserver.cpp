// The development server as the client and the tests meet it: the reply
// shapes of every operation, the key check, lessons, uploads, the registry,
// the request log and the test switches, over real loopback connections.
#include <gtest/gtest.h>

#include <QTcpSocket>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"
#include "tools/devserver/multipart.h"
#include "tools/devserver/reply_writer.h"

namespace {

using nlohmann::json;
using testsupport::DevServerProcess;

const std::string kKey = DevServerProcess::kApplicationKey;

std::string target(const std::string& op, const std::string& params, const std::string& prefix = "/") {
  return prefix + "clientInterface-" + op + "?appKey=" + kKey + (params.empty() ? "" : "&" + params);
}

struct Response {
  int status = 0;
  std::string headers;
  std::string body;  // de-chunked when the reply was chunked
  std::string rawBody;

  std::string header(const std::string& name) const {
    const std::string key = "\r\n" + name + ": ";
    const size_t at = headers.find(key);
    if (at == std::string::npos) return {};
    const size_t start = at + key.size();
    return headers.substr(start, headers.find("\r\n", start) - start);
  }
  json parsed() const { return json::parse(body, nullptr, false); }
};

std::string dechunk(const std::string& raw) {
  std::string body;
  size_t pos = 0;
  while (pos < raw.size()) {
    const size_t lineEnd = raw.find("\r\n", pos);
    if (lineEnd == std::string::npos) break;
    const size_t size = std::stoul(raw.substr(pos, lineEnd - pos), nullptr, 16);
    if (size == 0) break;
    body += raw.substr(lineEnd + 2, size);
    pos = lineEnd + 2 + size + 2;
  }
  return body;
}

Response parse(const std::string& raw) {
  Response response;
  const size_t end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return response;
  response.status = std::stoi(raw.substr(9, 3));
  response.headers = raw.substr(0, end + 2);
  response.rawBody = raw.substr(end + 4);
  response.body =
      response.header("Transfer-Encoding") == "chunked" ? dechunk(response.rawBody) : response.rawBody;
  return response;
}

// A multipart body laid out the way the client's upload lays it out.
struct UploadPart {
  std::string name;
  std::string filename;  // empty: a plain field
  std::string data;
};

std::string formBody(const std::vector<UploadPart>& parts, const std::string& boundary) {
  std::string body;
  for (const UploadPart& part : parts) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
    if (!part.filename.empty()) body += "; filename=\"" + part.filename + "\"\r\nContent-Type: text/plain";
    body += "\r\n\r\n" + part.data + "\r\n";
  }
  return body + "--" + boundary + "--\r\n";
}

std::string post(const DevServerProcess& server, const std::string& path, const std::string& boundary,
                 const std::string& body) {
  return server.exchange("POST " + path +
                         " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=" +
                         boundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

class DevServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.running()); }

  Response get(const std::string& op, const std::string& params) {
    return parse(server.get(target(op, params)));
  }
  json control(const std::string& pathAndQuery) {
    return json::parse(server.control(pathAndQuery), nullptr, false);
  }

  DevServerProcess server;
};

TEST_F(DevServerTest, ReferenceListsHaveTheShapesTheClientReads) {
  struct Case {
    std::string op, params;
    size_t count;
    json firstRecord;
  };
  const std::vector<Case> cases = {
      {"getAreaData",
       "type=5&id=1001",
       3,
       {{"id", "2001"},
        {"userName", "张伟"},
        {"mobile", "13810012001"},
        {"acronym", "zw"},
        {"email", "zhangwei@dcsy.edu.cn"}}},
      {"getAreaData",
       "type=4&id=110101",
       3,
       {{"id", "1001"}, {"className", "东城区第一实验小学"}, {"fatherID", "110101"}}},
      {"getAreaData", "type=5&id=", 0, nullptr},
      {"getGradeInfo", "schoolID=1001", 3, {{"id", "3001"}, {"gradeName", "一年级"}}},
      {"getGradeInfo", "schoolID=1001&gradeID=3001", 2, {{"id", "4001"}, {"classesName", "一年级（1）班"}}},
      {"getSubject", "gradeID=3003", 5, {{"subjectID", "5001"}, {"subjectName", "语文"}}},
      {"getCatalog",
       "schoolID=1001&gradeID=3003&subjectID=5003",
       2,
       {{"id", "6007"}, {"catalogName", "Unit 1 Hello!"}}},
      // The grade belongs to another school.
      {"getCatalog", "schoolID=1002&gradeID=3003&subjectID=5003", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op + "?" + c.params);
    const Response response = get(c.op, c.params);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("Content-Type"), "application/json;charset=UTF-8");
    EXPECT_EQ(response.body.rfind("{\"status\":", 0), 0u) << response.body;
    const json reply = response.parsed();
    ASSERT_TRUE(reply["jsonData"].is_array());
    ASSERT_EQ(reply["jsonData"].size(), c.count);
    if (c.count > 0) {
      EXPECT_EQ(reply["jsonData"][0], c.firstRecord);
    }
  }
  // An apostrophe in a name reaches the client as it is.
  EXPECT_EQ(
      get("getCatalog", "schoolID=1001&gradeID=3003&subjectID=5003").parsed()["jsonData"][1]["catalogName"],
      "Unit 2 Let's eat!");
}

TEST_F(DevServerTest, WrongKeyOrUnknownPathAnswersWithoutJson) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"/clientInterface-getSubject?appKey=00000000000000000000000000000000&gradeID=3001", 403},
      {"/clientInterface-getSubject?gradeID=3001", 403},
      {"/clientInterface-getSubject?appKey=" + kKey.substr(0, 31) + "&gradeID=3001", 403},
      {target("getNothing", ""), 404},
      {target("getSubject", "gradeID=3001", "/edu/"), 404},
      // The screenshot operation takes only the uploaded form.
      {target("postScreenShot", "processID=1"), 405},
  };
  for (const auto& [path, status] : cases) {
    SCOPED_TRACE(path);
    const Response response = parse(server.get(path));
    EXPECT_EQ(response.status, status);
    EXPECT_EQ(response.body.find("{\"status\""), std::string::npos);
  }
}

TEST(DevServerPrefix, OperationsAnswerBelowTheConfiguredPath) {
  DevServerProcess server({"--prefix", "/edu/"});
  ASSERT_TRUE(server.running());
  EXPECT_EQ(parse(server.get(target("getSubject", "gradeID=3001", "/edu/"))).status, 200);
  EXPECT_EQ(parse(server.get(target("getSubject", "gradeID=3001"))).status, 404);
}

TEST_F(DevServerTest, LessonStartsAndIsReportedAsRunningOnItsDevice) {
  const std::string start =
      "schoolID=1001&gradeID=3001&classesID=4001&teacherID=2001&subjectID=5001&deviceID=DISK-A&offLine=0&"
      "beginTime=";
  const json none = get("getCouterTime", "hardDiskID=DISK-A").parsed();
  EXPECT_EQ(none["time"], "false");
  EXPECT_EQ(none["jsonData"], json::array());

  const std::string first = get("getStartCountTime", start).parsed().value("processID", "");
  ASSERT_FALSE(first.empty());
  const json running = get("getCouterTime", "hardDiskID=DISK-A").parsed();
  EXPECT_NE(running["time"], "false");
  ASSERT_EQ(running["jsonData"].size(), 1u);
  const json lesson = running["jsonData"][0];
  EXPECT_EQ(lesson["teacherID"], "2001");
  EXPECT_EQ(lesson["userName"], "张伟");
  EXPECT_EQ(lesson["mobile"], "13810012001");
  EXPECT_EQ(lesson["schoolName"], "东城区第一实验小学");
  EXPECT_EQ(lesson["gradeName"], "一年级");
  EXPECT_EQ(lesson["classesID"], "4001");
  EXPECT_EQ(lesson["classesName"], "一年级（1）班");
  EXPECT_EQ(lesson["subjectName"], "语文");
  EXPECT_EQ(lesson["processID"], first);
  EXPECT_EQ(lesson["beginTime"].get<std::string>().size(), 19u);
  ASSERT_TRUE(lesson["timeDiff"].is_number_integer());
  EXPECT_GE(lesson["timeDiff"].get<int>(), 0);

  // A new lesson on the same computer replaces the old one; other computers
  // have none.
  const std::string second = get("getStartCountTime", start).parsed().value("processID", "");
  EXPECT_NE(second, first);
  EXPECT_EQ(get("getCouterTime", "hardDiskID=DISK-A").parsed()["jsonData"][0]["processID"], second);
  EXPECT_EQ(get("getCouterTime", "hardDiskID=DISK-B").parsed()["time"], "false");
}

TEST_F(DevServerTest, ComputersWithoutDiskSerialNeverShareALesson) {
  get("getStartCountTime",
      "schoolID=1001&gradeID=3001&classesID=4001&teacherID=2001&subjectID=5001&deviceID=&offLine=0&"
      "beginTime=");
  EXPECT_EQ(get("getCouterTime", "hardDiskID=").parsed()["time"], "false");
}

TEST_F(DevServerTest, PresetLessonReportsItsTimeDiffExactlyUntilEnded) {
  const json preset =
      control("lesson?hardDiskID=DISK-C&teacherID=2002&timeDiff=125&schoolID=1001&gradeID=3002");
  EXPECT_EQ(preset["lesson"]["timeDiff"], 125);
  const json lesson = get("getCouterTime", "hardDiskID=DISK-C").parsed()["jsonData"][0];
  EXPECT_EQ(lesson["teacherID"], "2002");
  EXPECT_EQ(lesson["userName"], "王芳");
  EXPECT_EQ(lesson["gradeName"], "二年级");
  EXPECT_EQ(lesson["timeDiff"], 125);
  EXPECT_EQ(lesson["processID"], preset["lesson"]["processID"]);

  EXPECT_EQ(control("lesson?hardDiskID=DISK-C&end=1")["ended"], true);
  EXPECT_EQ(get("getCouterTime", "hardDiskID=DISK-C").parsed()["time"], "false");
  EXPECT_EQ(server.requests().size(), 2u) << "control requests are not logged";
}

TEST_F(DevServerTest, ScreenshotIsStoredAndItsFormLoggedInOrder) {
  // A GBK path with backslashes, as the client names the file; data holding
  // line ends and a boundary-like line that is not the boundary.
  const std::string filename = text::utf8ToGbk("D:\\课堂\\screen_pic\\09.05__2.jpg");
  std::string picture = "\xff\xd8\xff\xe0 JPEG\r\n--------05061009050\r\n";
  for (int i = 0; i < 3000; ++i) picture.push_back(static_cast<char>(i * 7));
  const std::string boundary = "--------050624090500123";
  const std::vector<UploadPart> parts = {{"act", "", "upload"},
                                         {"upcount", "", "1"},
                                         {"filepath", "", "data"},
                                         {"Submit", "", "Submit"},
                                         {"screenFile", filename, picture}};
  const std::string body = formBody(parts, boundary);
  const std::string path = target("postScreenShot", "processID=70001&schoolID=1001&offLine=0&shotTime=");

  for (int n = 1; n <= 2; ++n) {
    const Response response = parse(post(server, path, boundary, body));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.parsed()["number"], n);
    EXPECT_EQ(testsupport::readFile(server.dataDir() + "/screens/70001/" + std::to_string(n) + ".jpg"),
              picture);
  }

  const auto logged = server.requests();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].method, "POST");
  EXPECT_EQ(logged[0].target, path);
  EXPECT_EQ(logged[0].bodySize, body.size());
  EXPECT_TRUE(logged[0].multipartComplete);
  EXPECT_EQ(logged[0].header("content-type"), "multipart/form-data; boundary=" + boundary);
  ASSERT_EQ(logged[0].parts.size(), 5u);
  for (size_t i = 0; i < parts.size(); ++i) EXPECT_EQ(logged[0].parts[i].name, parts[i].name);
  EXPECT_FALSE(logged[0].parts[0].hasFilename);
  EXPECT_TRUE(logged[0].parts[4].hasFilename);
  EXPECT_EQ(logged[0].parts[4].filename, filename);
  EXPECT_EQ(logged[0].parts[4].contentType, "text/plain");
  EXPECT_EQ(logged[0].parts[4].size, picture.size());
}

TEST_F(DevServerTest, RegisteredCoursewareIsFoundByItsHash) {
  const std::string hash = "0123456789abcdef0123456789abcdef";
  const json unknown = get("findFileByHash", "hash=" + hash).parsed();
  EXPECT_EQ(unknown["exist"], false);
  EXPECT_EQ(unknown["path"], "");

  // "第一课 课件" in GBK, percent-encoded with "+" for the space.
  const std::string path = "/courseware/1001/2001/2024-05/{0B1A2C3D-0000-4000-8000-000000000001}.ppt";
  const json registered =
      get("postCourseware", "hash=" + hash +
                                "&processID=70001&schoolID=1001&gradeID=3001&classesID=4001"
                                "&subjectID=5001&catalogID=6001&teacherID=2001"
                                "&fileName=%b5%da%d2%bb%bf%ce+%bf%ce%bc%fe&path=" +
                                path)
          .parsed();
  EXPECT_EQ(registered["jsonData"]["insert"], true);

  const json known = get("findFileByHash", "hash=" + hash).parsed();
  EXPECT_EQ(known["exist"], true);
  EXPECT_EQ(known["path"], path);
  const json registry = control("registry")["jsonData"];
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0]["fileName"], "第一课 课件");
  EXPECT_EQ(registry[0]["fileNameGbkHex"], "b5dad2bbbfce20bfcebcfe");
  EXPECT_EQ(registry[0]["catalogID"], "6001");
  EXPECT_EQ(registry[0]["teacherID"], "2001");
}

TEST_F(DevServerTest, FaultReportIsRegisteredWithItsDecodedText) {
  const std::string report = "schoolID=1001&gradeID=3001&classID=4001&tel=13810012001&address=&faultDetail=";
  const json accepted =
      get("insertRepairs", report + "%e6%8a%95%e5%bd%b1%e4%bb%aa+%26+%e9%9f%b3%e5%93%8d%0d%0a&teacherID=2001")
          .parsed();
  EXPECT_EQ(accepted["jsonData"]["insert"], true);
  // Without a teacher nobody can be called back.
  EXPECT_EQ(get("insertRepairs", report + "x&teacherID=").parsed()["jsonData"]["insert"], false);

  const json repairs = control("repairs")["jsonData"];
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0]["faultDetail"], "投影仪 & 音响\r\n");
  EXPECT_EQ(repairs[0]["tel"], "13810012001");
  EXPECT_EQ(repairs[0]["classID"], "4001");
}

TEST_F(DevServerTest, LogHoldsEachRequestAsSent) {
  const std::string path = target("getGradeInfo", "schoolID=1001&gradeID=") + "&x=%e4%b8%ad";
  server.exchange("GET " + path +
                  " HTTP/1.1\r\nAccept: */*\r\nConnection: Close\r\nHost: school.example\r\n\r\n");
  control("mode?set=normal");
  const auto logged = server.requests();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].method, "GET");
  EXPECT_EQ(logged[0].target, path);
  EXPECT_EQ(logged[0].version, "HTTP/1.1");
  const std::vector<std::pair<std::string, std::string>> headers = {
      {"Accept", "*/*"}, {"Connection", "Close"}, {"Host", "school.example"}};
  EXPECT_EQ(logged[0].headers, headers);
  EXPECT_EQ(logged[0].bodySize, 0u);
  EXPECT_EQ(logged[0].mode, "");
}

TEST_F(DevServerTest, SwitchesShapeTheNextRepliesOnly) {
  const std::string subjects = target("getSubject", "gradeID=3003");
  const std::string normal = parse(server.get(subjects)).body;
  ASSERT_FALSE(normal.empty());

  control("mode?set=slow&count=2");
  control("mode?set=chunked&count=1");  // replaces what was pending
  const Response chunked = parse(server.get(subjects));
  EXPECT_EQ(chunked.header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(chunked.header("Content-Length"), "");
  EXPECT_EQ(chunked.body, normal);
  EXPECT_EQ(parse(server.get(subjects)).rawBody, normal);

  // Aimed at one operation, a switch passes the others by.
  control("mode?set=chunked&count=1&only=getSubject");
  EXPECT_EQ(parse(server.get(target("getGradeInfo", "schoolID=1001"))).header("Transfer-Encoding"), "");
  EXPECT_EQ(parse(server.get(subjects)).header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(parse(server.get(subjects)).header("Transfer-Encoding"), "");

  // Slow and chunked together show where the pieces are cut: the first ends
  // inside a multi-byte character.
  control("mode?set=slow,chunked");
  const Response slow = parse(server.get(subjects));
  EXPECT_EQ(slow.body, normal);
  const size_t firstSize = std::stoul(slow.rawBody.substr(0, slow.rawBody.find("\r\n")), nullptr, 16);
  const unsigned char lastOfFirst = static_cast<unsigned char>(slow.body[firstSize - 1]);
  EXPECT_EQ(lastOfFirst & 0xC0, 0xC0) << "first piece ends after a lead byte";

  control("mode?set=close");
  const Response cut = parse(server.get(subjects));
  EXPECT_EQ(cut.header("Content-Length"), std::to_string(normal.size()));
  EXPECT_LT(cut.body.size(), normal.size());
  EXPECT_EQ(normal.rfind(cut.body, 0), 0u);
  EXPECT_TRUE(cut.parsed().is_discarded());

  control("mode?set=error");
  const Response error = parse(server.get(subjects));
  EXPECT_EQ(error.status, 500);
  EXPECT_EQ(error.body.find("{\"status\""), std::string::npos);

  control("mode?set=big");
  const Response big = parse(server.get(subjects));
  EXPECT_GE(big.body.size(), 5u * 1024 * 1024);
  const json bigReply = big.parsed();
  ASSERT_TRUE(bigReply["jsonData"].is_array());
  const json normalList = json::parse(normal)["jsonData"];
  for (size_t i = 0; i < normalList.size(); ++i) EXPECT_EQ(bigReply["jsonData"][i], normalList[i]);

  const std::vector<std::string> modes = {"", "chunked",      "",      "",      "chunked",
                                          "", "slow,chunked", "close", "error", "big"};
  const auto logged = server.requests();
  ASSERT_EQ(logged.size(), modes.size());
  for (size_t i = 0; i < modes.size(); ++i) EXPECT_EQ(logged[i].mode, modes[i]) << i;
}

// The switches for the client's limits: a redirect, a reply that never
// ends, and a whole reply after which the connection stays open.
TEST_F(DevServerTest, RedirectEndlessAndHoldSwitchesMisbehaveAsTheySay) {
  const std::string subjects = target("getSubject", "gradeID=3003");
  const std::string normal = parse(server.get(subjects)).body;

  control("mode?set=redirect:307");
  const Response moved = parse(server.get(subjects));
  EXPECT_EQ(moved.status, 307);
  EXPECT_EQ(moved.header("Location"), subjects);

  const std::string request = "GET " + subjects + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Close\r\n\r\n";
  for (const char* mode : {"endless", "hold"}) {
    SCOPED_TRACE(mode);
    control(std::string("mode?set=") + mode);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(server.port()));
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write(request.data(), static_cast<qint64>(request.size()));
    std::string received;
    const auto readSome = [&] {
      socket.waitForReadyRead(100);
      received += socket.readAll().toStdString();
    };
    if (std::string(mode) == "endless") {
      // Far more than any reply, still coming, and still a list.
      ASSERT_TRUE(testsupport::waitFor(
          [&] {
            readSome();
            return received.size() > 20u * 1024 * 1024;
          },
          60000));
      EXPECT_EQ(parse(received).header("Content-Length"), "");
      EXPECT_EQ(parse(received).body.rfind(normal.substr(0, normal.find('[') + 1), 0), 0u);
    } else {
      ASSERT_TRUE(testsupport::waitFor([&] {
        readSome();
        return parse(received).body.size() >= normal.size();
      }));
      EXPECT_EQ(parse(received).body, normal);
      EXPECT_EQ(parse(received).header("Content-Length"), std::to_string(normal.size()));
      EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
    }
    socket.abort();
  }
  const auto logged = server.requests();
  ASSERT_EQ(logged.size(), 4u);
  EXPECT_EQ(logged[1].mode, "redirect:307");
  EXPECT_EQ(logged[2].mode, "endless");
  EXPECT_EQ(logged[3].mode, "hold");
}

TEST(DevServerDefaults, CommandLineModeAppliesToEveryRequest) {
  DevServerProcess server({"--mode", "error"});
  ASSERT_TRUE(server.running());
  for (int i = 0; i < 2; ++i) EXPECT_EQ(parse(server.get(target("getSubject", "gradeID=3001"))).status, 500);
  EXPECT_EQ(json::parse(server.control("mode"))["mode"], "error");
}

TEST_F(DevServerTest, SilentRequestIsHeldWhileOthersAreAnsweredAndStopEndsIt) {
  control("mode?set=silent");
  QTcpSocket held;
  held.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(server.port()));
  ASSERT_TRUE(held.waitForConnected(5000));
  const std::string request =
      "GET " + target("getSubject", "gradeID=3001") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  held.write(request.data(), static_cast<qint64>(request.size()));
  ASSERT_TRUE(held.waitForBytesWritten(5000));
  ASSERT_TRUE(server.waitForRequests(1));

  EXPECT_EQ(parse(server.get(target("getSubject", "gradeID=3001"))).status, 200);
  EXPECT_EQ(held.bytesAvailable(), 0);
  EXPECT_EQ(held.state(), QAbstractSocket::ConnectedState);

  EXPECT_EQ(server.stop(), 0);
  held.waitForDisconnected(5000);
  EXPECT_EQ(held.state(), QAbstractSocket::UnconnectedState);
  EXPECT_EQ(held.readAll().size(), 0) << "a silent request is never answered";
}

TEST(DevServerPieces, BodyIsCutInsideTheFirstMultiByteCharacter) {
  const std::vector<std::string> bodies = {"{\"msg\":\"操作成功\",\"a\":1}",
                                           "plain ascii body of some length", "中", "x",
                                           std::string(1000, 'a') + "语"};
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body.substr(0, 30));
    const auto sizes = devserver::pieceSizes(body, 10);
    ASSERT_FALSE(sizes.empty());
    EXPECT_LE(sizes.size(), 10u);
    size_t total = 0;
    for (size_t size : sizes) {
      EXPECT_GT(size, 0u);
      total += size;
    }
    EXPECT_EQ(total, body.size());
    const size_t lead = body.find_first_of("\xe4\xe8\xe6");
    if (lead != std::string::npos && lead + 1 < body.size()) {
      EXPECT_EQ(sizes[0], lead + 1);
    }
    if (body.size() > 1) {
      EXPECT_GE(sizes.size(), 2u);
    }
  }
}

TEST(DevServerMultipart, BrokenOrOddBodiesKeepWhatCanBeRead) {
  struct Case {
    std::string body;
    std::vector<std::string> names;
    bool complete;
  };
  const std::string b = "XyZ";
  const std::vector<Case> cases = {
      {"preamble\r\n--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--XyZ--\r\n",
       {"a"},
       true},
      {"--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--XyZ\r\nContent-Disposition: "
       "form-data; "
       "name=\"b\"\r\n\r\n2",
       {"a"},
       false},
      {"--XyZ\r\nContent-Disposition: form-data; name=\"a\"", {}, false},
      {"no delimiter at all", {}, false},
      {"--XyZ\r\nContent-Disposition: form-data; filename=\"a;b.jpg\"; name=\"f\"\r\n\r\n\r\n--XyZ--",
       {"f"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const devserver::Form form = devserver::parseMultipart(c.body, b);
    std::vector<std::string> names;
    for (const auto& part : form.parts) names.push_back(part.name);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(form.complete, c.complete);
  }
  EXPECT_EQ(devserver::parseMultipart(cases[4].body, b).parts[0].filename, "a;b.jpg");
  EXPECT_EQ(devserver::multipartBoundary("multipart/form-data; boundary=\"q b\""), "q b");
  EXPECT_EQ(devserver::multipartBoundary("text/plain; boundary=x"), "");
}

}  // namespace

// Records a client kept while it could not reach the server arrive with
// offLine=1 and the local time they happened, percent-encoded.
TEST(DevServerOffline, LessonAndScreenshotSentLaterKeepTheirOwnTimes) {
  DevServerProcess server;
  ASSERT_TRUE(server.running());
  const std::string began = "2026-12-10 09:05:00";
  const Response started = parse(server.get(
      target("getStartCountTime",
             "schoolID=1001&gradeID=3001&classesID=4001&teacherID=2001&subjectID=5001&deviceID=DISK-O&"
             "offLine=1&beginTime=2026-12-10+09%3a05%3a00")));
  const std::string processID = started.parsed().value("processID", "");
  ASSERT_FALSE(processID.empty()) << started.body;
  const json lessons = json::parse(server.control("lessons"))["jsonData"];
  ASSERT_EQ(lessons.size(), 1u);
  EXPECT_EQ(lessons[0]["beginTime"], began);
  EXPECT_EQ(lessons[0]["offLine"], "1");

  const std::string boundary = "--------0612100905";
  const std::string body = formBody({{"screenFile", "09.05__2.jpg", "picture bytes"}}, boundary);
  const std::string shot =
      target("postScreenShot",
             "processID=" + processID + "&schoolID=1001&offLine=1&shotTime=2026-12-10+09%3a06%3a00");
  EXPECT_EQ(parse(post(server, shot, boundary, body)).parsed()["status"], "success");
  const json screenshots = json::parse(server.control("screenshots"))["jsonData"];
  ASSERT_EQ(screenshots.size(), 1u);
  EXPECT_EQ(screenshots[0]["time"], "2026-12-10 09:06:00");
  EXPECT_EQ(screenshots[0]["processID"], processID);

  const auto logged = server.requests();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_TRUE(logged[0].offLine);
  EXPECT_EQ(logged[0].beginTime, began);
  EXPECT_TRUE(logged[1].offLine);
  EXPECT_EQ(logged[1].shotTime, "2026-12-10 09:06:00");

  // Without a readable time the record is refused, not stored with "now".
  EXPECT_EQ(parse(server.get(target("getStartCountTime",
                                    "schoolID=1001&teacherID=2001&deviceID=DISK-O&offLine=1&beginTime=")))
                .parsed()["status"],
            "error");
}

TEST(DevServerOffline, RefuseSwitchAnswersRecordsSentLaterWithAFailure) {
  DevServerProcess server({"--refuse-offline"});
  ASSERT_TRUE(server.running());
  const std::string ids =
      "schoolID=1001&gradeID=3001&classesID=4001&teacherID=2001&subjectID=5001&deviceID=D";
  const json refused =
      parse(server.get(target("getStartCountTime", ids + "&offLine=1&beginTime=2026-12-10+09%3a05%3a00")))
          .parsed();
  EXPECT_EQ(refused["status"], "error");
  EXPECT_FALSE(refused.contains("processID"));
  const std::string boundary = "--------0612100906";
  const std::string body = formBody({{"screenFile", "a.jpg", "x"}}, boundary);
  EXPECT_EQ(parse(post(server,
                       target("postScreenShot", "processID=70001&offLine=1&shotTime=2026-12-10+09%3a06%3a00"),
                       boundary, body))
                .parsed()["status"],
            "error");
  // Live records are taken as always.
  EXPECT_FALSE(parse(server.get(target("getStartCountTime", ids + "&offLine=0&beginTime=")))
                   .parsed()
                   .value("processID", "")
                   .empty());
}
