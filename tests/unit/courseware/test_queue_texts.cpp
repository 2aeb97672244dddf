#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "courseware/queue_texts.h"

namespace {

TEST(QueueTexts, SizeInMebibytesRoundedUp) {
  const std::pair<uint64_t, std::string> cases[] = {
      {0, "0M"},
      {1, "1M"},
      {1048576, "1M"},
      {1048577, "2M"},
      {10 * 1048576 - 1, "10M"},
      {uint64_t{5} << 30, "5120M"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(courseware::sizeText(bytes), text) << bytes;
}

TEST(QueueTexts, NameAndExtensionOfTheLocalCopy) {
  struct Case {
    std::string path, file, name, extension;
  };
  const Case cases[] = {
      {"/opt/edu/courseware/x/2024-05/lesson.v2.pptx", "lesson.v2.pptx", "lesson.v2", ".pptx"},
      {"C:\\Users\\t\\plan.doc", "plan.doc", "plan", ".doc"},
      {"/a.b/README", "README", "README", ""},
      {"/tmp/trailing.", "trailing.", "trailing", "."},
      {"\xbf\xce\xbc\xfe.ppt", "\xbf\xce\xbc\xfe.ppt", "\xbf\xce\xbc\xfe", ".ppt"},  // 课件.ppt in GBK
  };
  for (const Case& c : cases) {
    EXPECT_EQ(courseware::fileNamePart(c.path), c.file) << c.path;
    EXPECT_EQ(courseware::nameWithoutExtension(c.path), c.name) << c.path;
    EXPECT_EQ(courseware::extensionOf(c.path), c.extension) << c.path;
  }
}

TEST(QueueTexts, PercentRoundsHalvesToEven) {
  const struct {
    int64_t sent, total;
    int percent;
  } cases[] = {
      {0, 100, 0}, {1, 8, 12}, {3, 8, 38}, {5, 8, 62}, {7, 8, 88}, {999, 1000, 100}, {5, 5, 100}, {0, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(courseware::progressPercent(c.sent, c.total), c.percent) << c.sent;
}

}  // namespace
