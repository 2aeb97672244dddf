// Any bytes as a received reply: joining its chunks must neither crash nor
// read outside the reply, and never makes it longer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/chunked_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view response(reinterpret_cast<const char*>(data), size);
  if (server::joinChunkedBody(response).size() > size) __builtin_trap();
  return 0;
}
