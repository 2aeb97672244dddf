#include <gtest/gtest.h>

#include "courseware/ftp_reply.h"

namespace {

TEST(FtpPassivePort, TakesTheLastTwoNumbersBeforeTheLastParenthesis) {
  struct Case {
    const char* reply;
    std::optional<uint16_t> port;
  };
  const Case cases[] = {
      {"227 Entering Passive Mode (10,0,0,5,19,137).\r\n", 5001},
      {"227 Entering Passive Mode (127,0,0,1,255,255)\r\n", 65535},
      {"227 ok (1,2,3,4, 4 , 1 )\r\n", 1025},
      // The address is never used, only the last two fields count.
      {"227 =(garbage,7,1)\r\n", 1793},
      {"227 (1,2,3,4,300,1)\r\n", (300 * 256 + 1) % 65536},
      {"227 (1,2,3,4,99999999999999999999,1)\r\n", std::nullopt},
      {"227 (1,2,3,4,5,6) (1,2,3,4,0,21)\r\n", 21},
      {"227 (1,2,3,4,a,b)\r\n", std::nullopt},
      {"227 (1,2,3,4,,7)\r\n", std::nullopt},
      {"227 (1,2,3,4,-1,7)\r\n", std::nullopt},
      {"227 (1,2,3,4,0,0)\r\n", std::nullopt},
      {"227 (19137)\r\n", std::nullopt},
      {"227 Entering Passive Mode 10,0,0,5,19,137\r\n", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ftp::parsePassivePort(c.reply), c.port) << c.reply;
}

TEST(FtpSizeReply, ReadsSixtyFourBitSizes) {
  struct Case {
    const char* reply;
    std::optional<int64_t> size;
  };
  const Case cases[] = {
      {"213 10\r\n", 10},
      {"213 0\r\n", 0},
      {"213 2147483647\r\n", 2147483647},
      {"213 2147483648\r\n", int64_t{1} << 31},
      {"213 5368709120\r\n", int64_t{5} << 30},
      {"213 10", 10},
      {"213 abc\r\n", std::nullopt},
      {"213 12abc\r\n", std::nullopt},
      {"213 -5\r\n", std::nullopt},
      {"213 \r\n", std::nullopt},
      {"213\r\n", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ftp::parseSizeReply(c.reply), c.size) << c.reply;
}

TEST(FtpReplyReader, HandsOutEachWholeReplyOnce) {
  ftp::ReplyReader reader;
  reader.feed("22");
  EXPECT_FALSE(reader.next());
  reader.feed("0-Welcome\r\n220-second line\r\n 220 not the end\r\n220 ready\r\n331 Pass");
  auto greeting = reader.next();
  ASSERT_TRUE(greeting);
  EXPECT_EQ(greeting->code, 220);
  EXPECT_EQ(greeting->text, "220-Welcome\r\n220-second line\r\n 220 not the end\r\n220 ready\r\n");
  EXPECT_FALSE(reader.next());
  reader.feed("word required.\r\nnot a reply\n");
  auto password = reader.next();
  ASSERT_TRUE(password);
  EXPECT_EQ(password->code, 331);
  EXPECT_EQ(password->text, "331 Password required.\r\n");
  auto junk = reader.next();
  ASSERT_TRUE(junk);
  EXPECT_EQ(junk->code, 0);
  EXPECT_FALSE(reader.next());
}

}  // namespace
