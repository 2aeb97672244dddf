// Picture folders named after any teacher and lesson id the login message or
// the server may send: no level, as GBK or as its name on disk, may be empty,
// climb out of its parent or hold a separator.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/screenshot_naming.h"
#include "sys/text_codec.h"

namespace {

bool safe(const std::string& level) {
  return !level.empty() && level != "." && level != ".." && level.find('/') == std::string::npos &&
         level.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t bar = input.find('|');
  const std::string name = input.substr(0, bar);
  const std::string processID = bar == std::string::npos ? std::string() : input.substr(bar + 1);
  std::tm date{};
  date.tm_year = 124;
  for (const std::string& level : screenshotFolderLevels(date, name, "", processID)) {
    if (!safe(level) || !safe(text::gbkToUtf8(level))) __builtin_trap();
  }
  return 0;
}
