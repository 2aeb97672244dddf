#include <gtest/gtest.h>

#include "core/server_address.h"

namespace {

TEST(ServerAddress, TypedOrStoredAddressesSplitTheSameWithOrWithoutScheme) {
  struct Case {
    const char* typed;
    const char* host;
    int port;
    const char* path;
  } cases[] = {
      {"192.168.1.10:8080/edu", "192.168.1.10", 8080, "/edu/"},
      {"192.168.1.10", "192.168.1.10", 80, "/"},
      {"http://192.168.1.10:8080/edu", "192.168.1.10", 8080, "/edu/"},
      {"HTTP://edu.school.cn", "edu.school.cn", 80, "/"},
      {"http://edu.school.cn/", "edu.school.cn", 80, "/"},
      {"  edu.school.cn:81/a/b/  ", "edu.school.cn", 81, "/a/b/"},
      {"", "", 80, "/"},
  };
  for (const auto& c : cases) {
    const ServerAddress address = splitServerAddress(c.typed);
    EXPECT_EQ(address.host, c.host) << c.typed;
    EXPECT_EQ(address.port, c.port) << c.typed;
    EXPECT_EQ(address.path, c.path) << c.typed;
  }
}

}  // namespace
