// The teacher list's layout and how a double-clicked position leads back to
// its row: the positions shift by the headings, which is where a wrong row
// would be committed.
#include <gtest/gtest.h>

#include "panels/school_lists.h"
#include "sys/text_codec.h"

namespace {

using text::gbk;

std::vector<std::string> utf8Items(const std::vector<std::string>& items) {
  std::vector<std::string> out;
  for (const std::string& item : items) out.push_back(text::gbkToUtf8(item));
  return out;
}

const std::vector<PickerTeacher> kRecent = {{"2001", gbk("张伟"), "13810012001"},
                                            {"2002", gbk("王芳"), "1234"}};
const std::vector<PickerTeacher> kAll = {
    {"2003", gbk("李娜"), "13810012003"}, {"2001", gbk("张伟"), "13810012001"}, {"2009", gbk("赵敏"), ""}};

TEST(TeacherListItems, HeadingsOnlyAboveNonEmptyGroups) {
  EXPECT_EQ(
      utf8Items(teacherListItems(kRecent, kAll)),
      (std::vector<std::string>{"最近登录过的老师", "  - 张伟 [138****2001]", "  - 王芳 [1234]", "全部老师",
                                "  ●李娜 [138****2003]", "  ●张伟 [138****2001]", "  ●赵敏 []"}));
  EXPECT_EQ(
      utf8Items(teacherListItems({}, kAll)),
      (std::vector<std::string>{"全部老师", "  ●李娜 [138****2003]", "  ●张伟 [138****2001]", "  ●赵敏 []"}));
  EXPECT_EQ(utf8Items(teacherListItems(kRecent, {})),
            (std::vector<std::string>{"最近登录过的老师", "  - 张伟 [138****2001]", "  - 王芳 [1234]"}));
  EXPECT_TRUE(teacherListItems({}, {}).empty());
}

TEST(TeacherRowAt, EveryPositionOfBuiltListsLeadsToItsRow) {
  struct Case {
    std::vector<PickerTeacher> recent, all;
  };
  for (const Case& lists : {Case{kRecent, kAll}, Case{{}, kAll}, Case{kRecent, {}}}) {
    const std::vector<std::string> items = teacherListItems(lists.recent, lists.all);
    for (size_t position = 0; position < items.size(); ++position) {
      SCOPED_TRACE(text::gbkToUtf8(items[position]));
      const auto row =
          teacherRowAt(static_cast<int>(position), items[position], lists.recent.size(), lists.all.size());
      if (text::gbkToUtf8(items[position]).starts_with("  ")) {
        ASSERT_TRUE(row.has_value());
        const PickerTeacher& teacher = row->recent ? lists.recent.at(row->row) : lists.all.at(row->row);
        EXPECT_NE(items[position].find(teacher.name), std::string::npos);
        EXPECT_EQ(row->recent, text::gbkToUtf8(items[position]).starts_with("  -"));
      } else {
        EXPECT_FALSE(row.has_value()) << "a heading stands for no row";
      }
    }
  }
}

TEST(TeacherRowAt, PositionsOutsideTheRowsGiveNothing) {
  const std::string full = gbk("  ●某人 []");
  const std::string recent = "  - x []";
  struct Case {
    int position;
    const std::string& text;
    size_t recentCount, allCount;
  } cases[] = {
      {-1, full, 0, 3},   // nothing selected
      {0, full, 0, 3},    // a full row cannot stand before its heading
      {4, full, 0, 3},    // past the last full row
      {2, full, 2, 3},    // inside the recent block
      {3, recent, 2, 3},  // a recent row past the recent block
      {1, recent, 0, 3},  // a recent row with no recent rows
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(teacherRowAt(c.position, c.text, c.recentCount, c.allCount).has_value())
        << "position " << c.position;
  }
}

TEST(FindChoiceByName, FirstExactMatchAndNeverAnEmptyName) {
  const std::vector<PickerChoice> choices = {{"1", "a"}, {"2", ""}, {"3", "b"}, {"4", "b"}};
  EXPECT_EQ(findChoiceByName(choices, "b"), 2);
  EXPECT_EQ(findChoiceByName(choices, "a "), -1);
  EXPECT_EQ(findChoiceByName(choices, ""), -1);
}

}  // namespace
