// Any reply text, however broken, must leave every reader with a plain
// outcome: no crash, no exception, no hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "replies/json_func.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  // The raw text too: the readers may be handed a part that does not begin
  // at the marker.
  for (const std::string& part : {Json_Func::ExtractJsonPart(reply), reply}) {
    Json_Func::RecordList records;
    Json_Func::ReadDataRecords(part, records);
    Json_Func::ReadLessonRecords(part, records);
    for (const auto& record : records) {
      record.text("id");
      record.text("userName");
      record.integer("timeDiff");
    }
    Json_Func::ReadInsertFlag(part);
    Json_Func::ReadProcessID(part);
    Json_Func::ReadKnownPath(part);
  }
  return 0;
}
