#include <gtest/gtest.h>

#include "server/http_helpers.h"

namespace {

TEST(SplitServerUrl, TakesTheAddressApart) {
  struct Case {
    const char* address;
    std::string host;
    int port;
    std::string path;
    bool secure = false;
  } cases[] = {
      {"https://10.0.0.5/edu/", "10.0.0.5", 443, "/edu/", true},
      {"HTTPS://10.0.0.5:8443/", "10.0.0.5", 8443, "/", true},
      {"https://10.0.0.5:x/", "10.0.0.5", 443, "/", true},
      {"http://10.0.0.5:8080/edu/", "10.0.0.5", 8080, "/edu/"},
      {"http://10.0.0.5/", "10.0.0.5", 80, "/"},
      {"http://10.0.0.5:abc/", "10.0.0.5", 80, "/"},
      {"HTTP://Edu.School.cn:81/a/b/", "Edu.School.cn", 81, "/a/b/"},
      {" \t\r\nhttp://host/x/ \r\n", "host", 80, "/x/"},
      {"host:8080/", "host", 8080, "/"},
      {"http://host:/", "host", 80, "/"},
      {"http://host:8080x/", "host", 80, "/"},
      {"http://host:70000/", "host", 80, "/"},
      {"http://host:0/", "host", 80, "/"},
      {"http://host:8080", "", 80, "host:8080"},
      {"", "", 80, ""},
  };
  for (const auto& c : cases) {
    const ServerAddress a = splitServerUrl(c.address);
    EXPECT_EQ(a.host, c.host) << c.address;
    EXPECT_EQ(a.port, c.port) << c.address;
    EXPECT_EQ(a.path, c.path) << c.address;
    EXPECT_EQ(a.secure, c.secure) << c.address;
  }
}

TEST(QueryParam, TheLastMatchingOrValuelessItemDecides) {
  const std::string target = "/clientInterface-getCatalog?appKey=k&schoolID=12&gradeID=3";
  struct Case {
    const char* name;
    std::string pathAndQuery;
    const char* param;
    std::string expected;
  } cases[] = {
      {"plain", target, "gradeID", "3"},
      {"another", target, "schoolID", "12"},
      {"first parameter shares the path's item", target, "appKey", ""},
      {"missing", target, "subjectID", ""},
      {"name case matters", target, "gradeid", ""},
      {"empty parameter after it empties it", target + "&subjectID=", "gradeID", ""},
      {"empty parameter before it does not", "/p?appKey=k&subjectID=&gradeID=3", "gradeID", "3"},
      {"later duplicate wins", target + "&gradeID=4", "gradeID", "4"},
      {"text between first and second =", "/p?appKey=k&a=1=2", "a", "1"},
      {"empty text", "", "a", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(queryParam(c.pathAndQuery, c.param), c.expected) << c.name;
}

}  // namespace
