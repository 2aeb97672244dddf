#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "sys/guid.h"
#include "sys/split_items.h"

namespace {

using Items = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string text;
  const char* separators;
  const char* whiteSpace;
  Items expected;
};

TEST(SplitItems, FollowsTheSplitterRules) {
  const SplitCase cases[] = {
      {"empty", "", "|", " ", {}},
      {"plain", "a|b|c", "|", " ", {"a", "b", "c"}},
      {"adjacent separators vanish", "a||b", "|", " ", {"a", "b"}},
      {"space-only field vanishes", "a| |b|", "|", " ", {"a", "b"}},
      {"leading spaces skipped, trailing kept", "  online |x ", "|", " ", {"online ", "x "}},
      {"CR and LF always separate", "a\r\nb\nc", "|", " ", {"a", "b", "c"}},
      {"single quotes group", "a|'b|c'|d", "|", " ", {"a", "'b|c'", "d"}},
      {"double quotes group, other quote is text", "\"x'|y\"|z", "|", " ", {"\"x'|y\"", "z"}},
      {"unclosed quote runs to the end", "a|'b|c", "|", " ", {"a", "'b|c"}},
      {"text ends at NUL", std::string("a|b\0|c", 6), "|", " ", {"a", "b"}},
      {"query keeps empty-valued item whole", "/p?appKey=k&gradeID=&x=1", "&", "&", {"/p?appKey=k", "gradeID=", "x=1"}},
      {"empty value gives one piece", "gradeID=", "=", "=", {"gradeID"}},
      {"only separators", "|||", "|", " ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(splitItems(c.text, c.separators, c.whiteSpace), c.expected) << c.name;
  }
}

TEST(NewGuidText, HasRegistryFormAndIsUnique) {
  const std::regex form(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string guid = newGuidText();
    ASSERT_EQ(guid.size(), 38u);
    ASSERT_TRUE(std::regex_match(guid, form)) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
