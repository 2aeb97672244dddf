// The diskid output parser gives the same result wherever the pipe cuts the
// output, and its result never holds a line feed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sys/hd_serial_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view output(reinterpret_cast<const char*>(data + 2), size - 2);
  const size_t cutA = output.empty() ? 0 : data[0] % (output.size() + 1);
  const size_t cutB = output.empty() ? 0 : data[1] % (output.size() + 1);
  const size_t first = cutA < cutB ? cutA : cutB;
  const size_t second = cutA < cutB ? cutB : cutA;

  ToolOutputState whole;
  ParseToolOutput(whole, output);
  ToolOutputState pieces;
  ParseToolOutput(pieces, output.substr(0, first));
  ParseToolOutput(pieces, output.substr(first, second - first));
  ParseToolOutput(pieces, output.substr(second));
  if (whole.result != pieces.result || whole.pending != pieces.pending) std::abort();
  if (whole.result.find('\n') != std::string::npos || whole.pending.find('\n') != std::string::npos)
    std::abort();
  return 0;
}
