// Reading the server's replies. A reply handler takes the JSON part of the
// reply text (from the first {"status" to the end) and hands it to the
// readers below. Readers never fail: with a missing, broken or cut-off reply
// they return empty text, false or no records.
//
// The JSON part is GBK text like everything else inside the client (the GET
// client has already decoded the reply from UTF-8); the readers turn it back
// into UTF-8 to parse it and return member values in GBK again.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace Json_Func {

// One element of a reply's list: a JSON value whose members are read by
// name. A member that is missing (or an element that is no object) reads as
// empty text and 0.
class JsonRecord {
 public:
  explicit JsonRecord(nlohmann::json value);
  // Strings give their characters (in GBK), numbers their JSON text,
  // true/false "true"/"false", objects and arrays their JSON text.
  std::string text(std::string_view key) const;
  // Numbers give their value; anything else 0.
  long long integer(std::string_view key) const;

 private:
  nlohmann::json value_;
};

using RecordList = std::vector<JsonRecord>;

std::string ExtractJsonPart(std::string_view replyText);

// Appends the records of `jsonData`; returns whether `jsonData` was a list.
bool ReadDataRecords(const std::string& jsonPart, RecordList& records);
// `jsonData.insert` as a truth value.
bool ReadInsertFlag(const std::string& jsonPart);
// Top-level `processID` as text.
std::string ReadProcessID(const std::string& jsonPart);
// Top-level `status` as text ("success" when the server did what was asked).
std::string ReadStatus(const std::string& jsonPart);
// Appends the records of `jsonData` unless `time` reads as "false".
void ReadLessonRecords(const std::string& jsonPart, RecordList& records);
// `path` as text when `exist` reads as "true", otherwise empty.
std::string ReadKnownPath(const std::string& jsonPart);

}  // namespace Json_Func
