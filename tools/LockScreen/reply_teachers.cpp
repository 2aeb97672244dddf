#include "tools/LockScreen/reply_teachers.h"

#include <algorithm>

#include "replies/json_func.h"
#include "sys/trim.h"

std::optional<std::vector<PickerTeacher>> teachersOfReply(const std::string& jsonPart) {
  Json_Func::RecordList records;
  if (!Json_Func::ReadDataRecords(jsonPart, records)) return std::nullopt;
  struct Entry {
    std::string acronym;
    PickerTeacher teacher;
  };
  std::vector<Entry> entries;
  entries.reserve(records.size());
  // Trimmed like the cached values, so both lists show the same text.
  for (const Json_Func::JsonRecord& record : records)
    entries.push_back(
        {trimText(record.text("acronym")),
         {trimText(record.text("id")), trimText(record.text("userName")), trimText(record.text("mobile"))}});
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.acronym < b.acronym; });
  std::vector<PickerTeacher> teachers;
  teachers.reserve(entries.size());
  for (Entry& entry : entries) teachers.push_back(std::move(entry.teacher));
  return teachers;
}
