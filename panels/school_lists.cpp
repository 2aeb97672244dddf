#include "panels/school_lists.h"

#include "sys/mask_phone.h"
#include "sys/text_codec.h"

namespace {

// The two kinds of teacher rows are told apart by how their text begins.
const std::string& recentPrefix() {
  static const std::string prefix = "  -";
  return prefix;
}
const std::string& fullPrefix() {
  static const std::string prefix = text::utf8ToGbk("  ●");
  return prefix;
}

std::string teacherText(const std::string& prefix, const PickerTeacher& teacher) {
  return prefix + teacher.name + " [" + maskPhone(teacher.phone) + "]";
}

}  // namespace

std::vector<PickerChoice> choicesFrom(DB_Func::RowSet rows, std::string_view idColumn,
                                      std::string_view nameColumn) {
  std::vector<PickerChoice> choices;
  choices.reserve(rows.rowCount());
  for (rows.moveTo(0); !rows.end(); rows.next())
    choices.push_back({rows.text(idColumn), rows.text(nameColumn)});
  return choices;
}

std::vector<PickerTeacher> teachersFrom(DB_Func::RowSet rows) {
  std::vector<PickerTeacher> teachers;
  teachers.reserve(rows.rowCount());
  for (rows.moveTo(0); !rows.end(); rows.next())
    teachers.push_back({rows.text("teacher_id"), rows.text("teacher_name"), rows.text("phone")});
  return teachers;
}

std::vector<std::string> teacherListItems(const std::vector<PickerTeacher>& recent,
                                          const std::vector<PickerTeacher>& all) {
  std::vector<std::string> items;
  items.reserve(recent.size() + all.size() + 2);
  if (!recent.empty()) {
    items.push_back(text::utf8ToGbk("最近登录过的老师"));
    for (const PickerTeacher& teacher : recent) items.push_back(teacherText(recentPrefix() + " ", teacher));
  }
  if (!all.empty()) {
    items.push_back(text::utf8ToGbk("全部老师"));
    for (const PickerTeacher& teacher : all) items.push_back(teacherText(fullPrefix(), teacher));
  }
  return items;
}

std::optional<TeacherListRow> teacherRowAt(int position, std::string_view itemText, size_t recentCount,
                                           size_t allCount) {
  if (position < 1) return std::nullopt;
  const size_t at = static_cast<size_t>(position);
  if (itemText.starts_with(fullPrefix())) {
    // The full list follows the recent rows and both headings.
    const size_t first = recentCount == 0 ? 1 : recentCount + 2;
    if (at < first || at - first >= allCount) return std::nullopt;
    return TeacherListRow{false, at - first};
  }
  if (itemText.starts_with(recentPrefix())) {
    if (at - 1 >= recentCount) return std::nullopt;
    return TeacherListRow{true, at - 1};
  }
  return std::nullopt;
}

int findChoiceByName(const std::vector<PickerChoice>& choices, std::string_view name) {
  if (name.empty()) return -1;
  for (size_t i = 0; i < choices.size(); ++i)
    if (choices[i].name == name) return static_cast<int>(i);
  return -1;
}
