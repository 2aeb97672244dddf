#include <gtest/gtest.h>

#include "sys/text_codec.h"

namespace {

struct CodecCase {
  const char* name;
  std::string gbk;
  std::string utf8;
};

TEST(TextCodec, RoundTripsBetweenGbkAndUtf8) {
  const CodecCase cases[] = {
      {"empty", "", ""},
      {"ascii", "abc 123|;'%", "abc 123|;'%"},
      {"chinese", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},  // 中文
      {"mixed", "a\xC0\xCF\xCA\xA6 b", "a\xE8\x80\x81\xE5\xB8\x88 b"},  // a老师 b
      {"embedded nul", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text::gbkToUtf8(c.gbk), c.utf8) << c.name;
    EXPECT_EQ(text::utf8ToGbk(c.utf8), c.gbk) << c.name;
  }
}

TEST(TextCodec, UnrepresentableOrBrokenCharactersBecomeQuestionMarks) {
  EXPECT_EQ(text::utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");  // an emoji has no GBK form
  EXPECT_EQ(text::utf8ToGbk("a\xE4\xB8"), "a?");            // cut off in the middle
  EXPECT_EQ(text::utf8ToGbk("\xFF\xFEok"), "??ok");          // stray bytes
  EXPECT_EQ(text::gbkToUtf8("x\xD6"), "x?");                 // lead byte without trail
}

}  // namespace
