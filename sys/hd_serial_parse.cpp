#include "sys/hd_serial_parse.h"

#include <algorithm>
#include <utility>

#include "sys/trim.h"

namespace {

constexpr size_t kSerialOffset = 20;  // words 10 to 19 of the identify block
constexpr size_t kSerialLength = 20;
constexpr size_t kPageHeader = 4;
constexpr size_t kPageMaxSerial = 188;  // 192 bytes asked for, less the header

}  // namespace

void SwapAtaBytes(std::string& block, size_t length) {
  length = std::min(length, block.size());
  for (size_t i = 0; i + 1 < length; i += 2) std::swap(block[i], block[i + 1]);
}

std::string ParseIdentifySerial(std::string_view identifyBlock) {
  if (identifyBlock.size() < kSerialOffset + kSerialLength) return {};
  std::string serial(identifyBlock.substr(kSerialOffset, kSerialLength));
  SwapAtaBytes(serial, serial.size());
  const size_t nul = serial.find('\0');
  if (nul != std::string::npos) serial.resize(nul);
  return trimText(serial);
}

std::string ParseSerialPage(std::string_view page) {
  if (page.size() < kPageHeader || static_cast<uint8_t>(page[1]) != 0x80) return {};
  const size_t claimed = static_cast<uint8_t>(page[3]);
  const size_t count = std::min({claimed, page.size() - kPageHeader, kPageMaxSerial});
  return trimText(page.substr(kPageHeader, count));
}

void ParseToolOutput(ToolOutputState& state, std::string_view chunk) {
  const size_t scanFrom = state.pending.size();
  for (char c : chunk) {
    if (c == '\0') continue;
    state.pending.push_back(c == '\r' ? ' ' : c);
  }
  // Only the new bytes can complete a line; cut all complete lines at once.
  size_t lineStart = 0;
  for (size_t feed = state.pending.find('\n', scanFrom); feed != std::string::npos;
       feed = state.pending.find('\n', lineStart)) {
    const std::string_view line(state.pending.data() + lineStart, feed - lineStart);
    if (line.size() > kToolSerialLabel.size() && line.starts_with(kToolSerialLabel)) {
      state.result = line.substr(kToolSerialLabel.size());
    }
    lineStart = feed + 1;
  }
  state.pending.erase(0, lineStart);
}
