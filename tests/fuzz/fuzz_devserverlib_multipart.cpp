// The development server reads whatever a client posts: any body, with a
// boundary and a Content-Type taken from the input as well.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/devserver/multipart.h"
#include "tools/devserver/reply_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the Content-Type; the rest is the body.
  const size_t lineEnd = input.find('\n');
  const std::string_view type = lineEnd == std::string_view::npos ? input : input.substr(0, lineEnd);
  const std::string_view body =
      lineEnd == std::string_view::npos ? std::string_view() : input.substr(lineEnd + 1);
  const std::string boundary = devserver::multipartBoundary(type);
  const devserver::Form form = devserver::parseMultipart(body, boundary.empty() ? "b" : boundary);
  size_t total = 0;
  for (const auto& part : form.parts) total += part.data.size() + part.name.size();
  // Every part is a piece of the body.
  if (total > body.size()) __builtin_trap();

  size_t sum = 0;
  for (size_t piece : devserver::pieceSizes(body, 1 + size % 12)) {
    if (piece == 0) __builtin_trap();
    sum += piece;
  }
  if (sum != body.size()) __builtin_trap();
  return 0;
}
