// The picker's lists as plain data: the rows behind each combo and list, and
// the teacher list's layout (recent teachers, then all teachers, each under
// its heading). Kept apart from the window so the layout and the way a list
// position leads back to its row are plain functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/row_set.h"

// One row behind a combo or the school list: its id and the name shown.
struct PickerChoice {
  std::string id;
  std::string name;
};

struct PickerTeacher {
  std::string id;
  std::string name;
  std::string phone;  // as stored; shown masked
};

// The rows of a query, in its order (GBK, as the row set gives them).
std::vector<PickerChoice> choicesFrom(DB_Func::RowSet rows, std::string_view idColumn,
                                      std::string_view nameColumn);
std::vector<PickerTeacher> teachersFrom(DB_Func::RowSet rows);

// Item texts of the teacher list (GBK): "最近登录过的老师" and the recent
// rows as "  - name [phone]" when there are any, then "全部老师" and every
// teacher as "  ●name [phone]" when there are any.
std::vector<std::string> teacherListItems(const std::vector<PickerTeacher>& recent,
                                          const std::vector<PickerTeacher>& all);

// Which row an item of the teacher list stands for, from its position and
// text; nothing for a heading or a position that has no row.
struct TeacherListRow {
  bool recent = false;  // a row of the recent list, else of the full list
  size_t row = 0;
};
std::optional<TeacherListRow> teacherRowAt(int position, std::string_view itemText, size_t recentCount,
                                           size_t allCount);

// Position of the first choice named `name`; -1 when none is (or the name is
// empty).
int findChoiceByName(const std::vector<PickerChoice>& choices, std::string_view name);
