// Taking any typed server address apart.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/http_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  const ServerAddress split = splitServerUrl(address);
  // Host and path are pieces of the address; the port is always usable.
  if (split.host.size() + split.path.size() > address.size()) __builtin_trap();
  if (split.port < 1 || split.port > 65535) __builtin_trap();
  if (!split.host.empty() && split.path.empty()) __builtin_trap();
  return 0;
}
