// splitItems with the separator sets the client uses: whatever the text,
// items are never empty, never hold NUL, hold CR or LF only inside a quote,
// and never add bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sys/split_items.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  struct Sets {
    std::string_view separators;
    std::string_view whiteSpace;
  };
  static constexpr Sets kSets[] = {{"|", " "},     {"&", "&"},  {"=", "="},
                                   {"|&=", " \t"}, {",; ", ""}, {"", " "}};
  if (size == 0) return 0;
  const Sets& sets = kSets[data[0] % std::size(kSets)];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  size_t total = 0;
  for (const std::string& item : splitItems(text, sets.separators, sets.whiteSpace)) {
    if (item.empty() || item.find('\0') != std::string::npos) std::abort();
    if (item.find_first_of("\r\n") != std::string::npos && item.find_first_of("'\"") == std::string::npos)
      std::abort();
    total += item.size();
  }
  if (total > text.size()) std::abort();
  return 0;
}
