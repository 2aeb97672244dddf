// Reading a parameter back from any request target, with a name taken from
// the input as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/http_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first byte tells how long the name is; the rest is the target.
  const size_t nameLength = size == 0 ? 0 : std::min<size_t>(data[0] % 16, size - 1);
  const std::string_view name = size == 0 ? std::string_view() : input.substr(1, nameLength);
  const std::string_view target = size == 0 ? input : input.substr(1 + nameLength);
  const std::string value = queryParam(target, name);
  // A value is always a piece of the target.
  if (value.size() > target.size()) __builtin_trap();
  queryParam(target, "gradeID");
  return 0;
}
