#include <gtest/gtest.h>

#include "sys/mask_phone.h"
#include "sys/protected_text.h"

namespace {

struct DecodeCase {
  const char* name;
  std::string protectedText;
  std::string key;
  std::string plain;
};

TEST(DecodeProtectedText, FollowsTheCipherRules) {
  const std::string key(kProtectedTextKey);
  const DecodeCase cases[] = {
      {"4 digits give one byte", "1039", key, "A"},
      {"lower-case digits", "f05a", key, "A"},
      {"b below the offset wraps modulo 255", "F05A", key, "A"},
      {"b equal to the offset gives 255", "1078", key, "\xFF"},
      {"NUL only from b 0 after offset 255", std::string("FF68"), key, std::string("\0", 1)},
      {"offset follows the cipher byte, not the plain byte", "00091D", key, "ab"},
      {"short key runs round from its first character", "0019F00A", "ab", "xyz"},
      {"longer than the key", "5CAA69AB7598967EDA60EA71C77AB34ACF20EA2EF8001B", key,
       "ftpUser-2024:classroom"},
      {"single trailing digit ignored", "10391", key, "A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decodeProtectedText(c.protectedText, c.key), c.plain) << c.name;
  }
}

TEST(DecodeProtectedText, MalformedInputGivesEmptyText) {
  const std::string cases[] = {"",
                               "1",
                               "10",
                               "103",
                               "10G9",
                               "zz39",
                               "10 39",
                               "1039G",
                               "10-39",
                               std::string("10\0"
                                           "39",
                                           5)};
  for (const auto& text : cases) {
    // Copy into an exact-size buffer so that reading past the end shows up under ASan.
    const std::string exact(text);
    EXPECT_EQ(decodeProtectedText(exact, kProtectedTextKey), "") << '"' << text << '"';
  }
  EXPECT_EQ(decodeProtectedText("1039", ""), "");
}

TEST(EncodeProtectedText, IsTheExactInverse) {
  std::string everyByte;
  for (int b = 1; b <= 255; ++b) everyByte.push_back(static_cast<char>(b));
  for (int seed = 0; seed <= 255; ++seed) {
    const std::string cipher = encodeProtectedText(everyByte, kProtectedTextKey, static_cast<uint8_t>(seed));
    ASSERT_EQ(cipher.size(), 2 * (everyByte.size() + 1));
    ASSERT_EQ(decodeProtectedText(cipher, kProtectedTextKey), everyByte) << "seed " << seed;
  }
  EXPECT_EQ(encodeProtectedText("ftpUser-2024:classroom", kProtectedTextKey, 0x5C),
            "5CAA69AB7598967EDA60EA71C77AB34ACF20EA2EF8001B");
}

TEST(EncodeProtectedText, RefusesWhatCannotRoundTrip) {
  EXPECT_EQ(encodeProtectedText(std::string("a\0b", 3), kProtectedTextKey, 7), "");
  EXPECT_EQ(encodeProtectedText("abc", "", 7), "");
}

TEST(MaskPhone, HidesTheMiddleDigitsOfLongNumbers) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"12345678", "12345678"},
      {"123456789", "123****89"},
      {"13812345678", "138****5678"},
  };
  for (const auto& [phone, shown] : cases) EXPECT_EQ(maskPhone(phone), shown) << phone;
}

}  // namespace
