#include <gtest/gtest.h>

#include "sys/hd_serial_parse.h"
#include "sys/trim.h"

namespace {

using namespace std::string_literals;

TEST(SwapAtaBytes, SwapsWordsOverTheLength) {
  const struct {
    std::string block;
    size_t length;
    std::string expected;
  } cases[] = {
      {"badc", 4, "abcd"},
      {"badce", 5, "abcde"},    // odd last byte stays
      {"badcfe", 4, "abcdfe"},  // only the first length bytes
      {"ba", 100, "ab"},        // length capped at the block
      {"", 4, ""},
  };
  for (auto c : cases) {
    SwapAtaBytes(c.block, c.length);
    EXPECT_EQ(c.block, c.expected);
  }
}

// An identify block with `serial` (20 bytes, reading order) stored as the
// drive stores it: the two characters of each word swapped.
std::string identifyBlockWith(std::string serial) {
  EXPECT_EQ(serial.size(), 20u);
  std::string block(512, '\x5A');
  for (size_t i = 0; i + 1 < serial.size(); i += 2) std::swap(serial[i], serial[i + 1]);
  block.replace(20, 20, serial);
  return block;
}

TEST(ParseIdentifySerial, ReadsWordsTenToNineteen) {
  EXPECT_EQ(ParseIdentifySerial(identifyBlockWith("        WD-WCC4E1234")), "WD-WCC4E1234");
  EXPECT_EQ(ParseIdentifySerial(identifyBlockWith(std::string(20, '\0'))), "");
  EXPECT_EQ(ParseIdentifySerial(identifyBlockWith("AB12\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"s)), "AB12");
  EXPECT_EQ(ParseIdentifySerial(identifyBlockWith("X1\0Y2               "s)),
            "X1");  // stops at the first NUL
  EXPECT_EQ(ParseIdentifySerial(""), "");
  EXPECT_EQ(ParseIdentifySerial(std::string(39, 'A')), "");
}

std::string page(uint8_t code, uint8_t length, const std::string& serial) {
  return "\x00"s + static_cast<char>(code) + '\x00' + static_cast<char>(length) + serial;
}

TEST(ParseSerialPage, TakesTheLengthByteWorthOfBytes) {
  const std::string longSerial = std::string(4, ' ') + std::string(200, 'S');
  const struct {
    const char* name;
    std::string page;
    std::string expected;
  } cases[] = {
      {"padded serial", page(0x80, 11, "  ABCD1234\0"s), "ABCD1234"},
      {"inner NUL kept", page(0x80, 5, "A\0B  "s), "A\0B"s},
      {"length byte shorter than the data", page(0x80, 3, "XYZ-tail"), "XYZ"},
      {"other page code", page(0x83, 11, "  ABCD1234\0"s), ""},
      {"claims more than was returned", page(0x80, 50, "QWERTY"), "QWERTY"},
      {"never more than 188 bytes", page(0x80, 255, longSerial), std::string(184, 'S')},
      {"header only", page(0x80, 0, ""), ""},
      {"short reply", "\x00\x80\x00"s, ""},
      {"nothing", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseSerialPage(c.page), c.expected) << c.name;
}

const std::string kLabel(kToolSerialLabel);

// Every output is fed whole, split at each position in two, and byte by
// byte: the result must not depend on where the pipe cut it.
TEST(ParseToolOutput, SameResultWhereverTheOutputIsCut) {
  const struct {
    const char* name;
    std::string output;
    std::string expected;
  } cases[] = {
      {"label, six characters, CR LF", kLabel + "ABC123\r\n", "ABC123 "},
      {"other lines around", "diskid v1\n" + kLabel + " 9XK0AB\nModel: X\n", " 9XK0AB"},
      {"second matching line wins", kLabel + "FIRST\n" + kLabel + "SECOND\n", "SECOND"},
      {"exactly the label", kLabel + "\n", ""},
      {"label in other letter case", "hard drive serial number__________:ABC\n", ""},
      {"label not at the line start", " " + kLabel + "ABC\n", ""},
      {"last line without line feed", kLabel + "ABC", ""},
      {"CR alone does not end a line", kLabel + "AB\rCD\n", "AB CD"},
      {"NUL bytes dropped", kLabel + "AB\0CD\n"s, "ABCD"},
      {"no output", "", ""},
  };
  for (const auto& c : cases) {
    ToolOutputState whole;
    ParseToolOutput(whole, c.output);
    EXPECT_EQ(whole.result, c.expected) << c.name;
    for (size_t cut = 0; cut <= c.output.size(); ++cut) {
      ToolOutputState split;
      ParseToolOutput(split, std::string_view(c.output).substr(0, cut));
      ParseToolOutput(split, std::string_view(c.output).substr(cut));
      ASSERT_EQ(split.result, c.expected) << c.name << ", cut at " << cut;
    }
    ToolOutputState bytewise;
    for (char byte : c.output) ParseToolOutput(bytewise, std::string_view(&byte, 1));
    EXPECT_EQ(bytewise.result, c.expected) << c.name << ", byte by byte";
  }
}

TEST(TrimText, DropsSpacesAndControlsAtBothEndsOnly) {
  EXPECT_EQ(trimText(" \t\0\r\nA B\x01 "s), "A B");
  EXPECT_EQ(trimText("\xC0\xCF\xCA\xA6"), "\xC0\xCF\xCA\xA6");  // GBK bytes are text
  EXPECT_EQ(trimText("\x1F\x20"), "");
  EXPECT_EQ(trimText(""), "");
}

}  // namespace
