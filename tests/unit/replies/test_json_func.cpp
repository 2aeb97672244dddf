#include <gtest/gtest.h>

#include <climits>

#include "replies/json_func.h"

namespace {

using namespace Json_Func;

// The GET client hands over the whole response; the object may sit inside a
// chunked body with its size line before it and the terminator after it.
const std::string kChunkedReply =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json;charset=UTF-8\r\nTransfer-Encoding: chunked\r\n\r\n"
    "2f\r\n{\"status\":\"ok\",\"processID\":\"88\",\"jsonData\":[]}\r\n0\r\n\r\n";

TEST(ExtractJsonPart, CutsFromTheFirstStatusObjectToTheEnd) {
  struct Case {
    const char* name;
    std::string reply;
    std::string expected;
  } cases[] = {
      {"chunked response", kChunkedReply,
       "{\"status\":\"ok\",\"processID\":\"88\",\"jsonData\":[]}\r\n0\r\n\r\n"},
      {"text before the object", "junk {\"status\"x {\"status\":1}", "{\"status\"x {\"status\":1}"},
      {"space after the brace", "HTTP/1.1 200 OK\r\n\r\n{ \"status\":1}", ""},
      {"status not the first member", "{\"code\":1,\"status\":1}", ""},
      {"GET client error text", "error:Host is nil", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractJsonPart(c.reply), c.expected) << c.name;
}

TEST(ReadProcessID, ReadsTheMemberAsText) {
  const std::string deep =
      "{\"status\":1,\"processID\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  struct Case {
    const char* name;
    std::string jsonPart;
    std::string expected;
  } cases[] = {
      {"status is not consulted", R"({"status":"error","processID":"17"})", "17"},
      {"number gives its JSON text", R"({"status":1,"processID":17})", "17"},
      {"true gives true", R"({"status":1,"processID":true})", "true"},
      {"array gives its JSON text", R"({"status":1,"processID":[1,"a"]})", "[1,\"a\"]"},
      {"null", R"({"status":1,"processID":null})", ""},
      {"missing", R"({"status":1})", ""},
      {"key case matters", R"({"status":1,"processid":"17"})", ""},
      {"trailing chunk terminator ignored", ExtractJsonPart(kChunkedReply), "88"},
      {"cut off inside the object", R"({"status":1,"processID":"17")", ""},
      {"cut off inside the string", R"({"status":1,"processID":"1)", ""},
      {"not JSON", "{\"status\" <html>", ""},
      {"empty part", "", ""},
      // GBK 中 comes back as the same two bytes.
      {"GBK text", "{\"status\":1,\"processID\":\"\xD6\xD0\"}", "\xD6\xD0"},
      // A GBK character whose second byte is a backslash must not escape the quote.
      {"GBK trail byte 0x5C", "{\"status\":1,\"processID\":\"\x95\x5C\"}", "\x95\x5C"},
      {"escaped character GBK lacks", R"({"status":1,"processID":"a\ud83d\ude00b"})", "a?b"},
      {"nesting far beyond any reply", deep, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadProcessID(c.jsonPart), c.expected) << c.name;
}

TEST(ReadInsertFlag, ReadsJsonDataInsertAsTruthValue) {
  struct Case {
    const char* name;
    std::string jsonPart;
    bool expected;
  } cases[] = {
      {"true", R"({"status":1,"jsonData":{"insert":true}})", true},
      {"false", R"({"status":1,"jsonData":{"insert":false}})", false},
      {"number 0", R"({"status":1,"jsonData":{"insert":0}})", false},
      {"number 2", R"({"status":1,"jsonData":{"insert":2}})", true},
      {"string false is a non-empty string", R"({"status":1,"jsonData":{"insert":"false"}})", true},
      {"empty string", R"({"status":1,"jsonData":{"insert":""}})", false},
      {"object", R"({"status":1,"jsonData":{"insert":{}}})", true},
      {"null", R"({"status":1,"jsonData":{"insert":null}})", false},
      {"top-level insert is not jsonData.insert", R"({"status":1,"insert":true})", false},
      {"jsonData is a list", R"({"status":1,"jsonData":[{"insert":true}]})", false},
      {"cut off", R"({"status":1,"jsonData":{"insert":true})", false},
      {"empty part", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadInsertFlag(c.jsonPart), c.expected) << c.name;
}

TEST(ReadKnownPath, GivesThePathOnlyWhenExistReadsTrue) {
  struct Case {
    const char* name;
    std::string jsonPart;
    std::string expected;
  } cases[] = {
      {"boolean true", R"({"status":1,"exist":true,"path":"/a/b.ppt"})", "/a/b.ppt"},
      {"string true", R"({"status":1,"exist":"true","path":"/a/b.ppt"})", "/a/b.ppt"},
      {"string TRUE", R"({"status":1,"exist":"TRUE","path":"/a/b.ppt"})", ""},
      {"number 1", R"({"status":1,"exist":1,"path":"/a/b.ppt"})", ""},
      {"false", R"({"status":1,"exist":false,"path":"/a/b.ppt"})", ""},
      {"exist missing", R"({"status":1,"path":"/a/b.ppt"})", ""},
      {"path missing", R"({"status":1,"exist":true})", ""},
      {"cut off", R"({"status":1,"exist":true,"path":"/a/b.ppt")", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadKnownPath(c.jsonPart), c.expected) << c.name;
}

TEST(ReadDataRecords, AppendsTheListAndReadsMembers) {
  RecordList records;
  records.emplace_back(nlohmann::json::object());  // the caller's list is appended to, not replaced
  const std::string reply =
      "{\"status\":1,\"jsonData\":[{\"id\":12,\"userName\":\"\xC0\xCF\xCA\xA6\",\"mobile\":null},"
      "{\"id\":\"13\",\"email\":\"a@b\"},7]}\r\n0\r\n\r\n";
  ASSERT_TRUE(ReadDataRecords(reply, records));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[1].text("id"), "12");
  EXPECT_EQ(records[1].text("userName"), "\xC0\xCF\xCA\xA6");  // 老师
  EXPECT_EQ(records[1].text("mobile"), "");
  EXPECT_EQ(records[2].text("id"), "13");
  EXPECT_EQ(records[2].text("userName"), "");  // a member the record lacks
  EXPECT_EQ(records[2].text("email"), "a@b");
  EXPECT_EQ(records[3].text("id"), "");  // an element that is no object
}

TEST(ReadDataRecords, WithoutAListNothingIsAppended) {
  struct Case {
    const char* name;
    std::string jsonPart;
    bool isList;
  } cases[] = {
      {"empty list", R"({"status":1,"jsonData":[]})", true},
      {"object", R"({"status":1,"jsonData":{"id":1}})", false},
      {"null", R"({"status":1,"jsonData":null})", false},
      {"missing", R"({"status":1})", false},
      {"cut off inside the list", R"({"status":1,"jsonData":[{"id":1},{"id":2)", false},
      {"empty part", "", false},
  };
  for (const auto& c : cases) {
    RecordList records;
    EXPECT_EQ(ReadDataRecords(c.jsonPart, records), c.isList) << c.name;
    EXPECT_TRUE(records.empty()) << c.name;
  }
}

TEST(ReadLessonRecords, TimeFalseMeansNoRunningLesson) {
  struct Case {
    const char* name;
    std::string jsonPart;
    size_t records;
  } cases[] = {
      {"string false", R"({"status":1,"time":"false","jsonData":[{"processID":"5"}]})", 0},
      {"boolean false", R"({"status":1,"time":false,"jsonData":[{"processID":"5"}]})", 0},
      {"string False", R"({"status":1,"time":"False","jsonData":[{"processID":"5"}]})", 1},
      {"time missing", R"({"status":1,"jsonData":[{"processID":"5"},{}]})", 2},
      {"a time", R"({"status":1,"time":"2024-05-06 09:05:00","jsonData":[{"processID":"5"}]})", 1},
      {"jsonData no list", R"({"status":1,"time":"x","jsonData":{"processID":"5"}})", 0},
      {"cut off", R"({"status":1,"time":"x","jsonData":[{"processID":"5"}])", 0},
  };
  for (const auto& c : cases) {
    RecordList records;
    ReadLessonRecords(c.jsonPart, records);
    EXPECT_EQ(records.size(), c.records) << c.name;
  }
}

TEST(JsonRecord, ReadsIntegers) {
  RecordList records;
  ReadLessonRecords(
      R"({"status":1,"jsonData":[{"a":125,"b":"125","c":null,"d":-3,"e":1.9,"f":1e300,"g":18446744073709551615,"h":true}]})",
      records);
  ASSERT_EQ(records.size(), 1u);
  const JsonRecord& r = records[0];
  EXPECT_EQ(r.integer("a"), 125);
  EXPECT_EQ(r.integer("b"), 0);  // only numbers carry a value
  EXPECT_EQ(r.integer("c"), 0);
  EXPECT_EQ(r.integer("missing"), 0);
  EXPECT_EQ(r.integer("d"), -3);
  EXPECT_EQ(r.integer("e"), 1);
  EXPECT_EQ(r.integer("f"), LLONG_MAX);
  EXPECT_EQ(r.integer("g"), LLONG_MAX);
  EXPECT_EQ(r.integer("h"), 0);
}

}  // namespace
