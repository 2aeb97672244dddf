// Reading a disk serial number out of what the disk or the diskid tool
// answered. Pure byte handling; the requests themselves live in platform/.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Swaps the two bytes of each 16-bit word over the first `length` bytes of
// `block` (ATA stores text with the two characters of a word reversed); an
// odd last byte stays where it is. `length` is capped at the block's size.
void SwapAtaBytes(std::string& block, size_t length);

// The serial number in an IDENTIFY DEVICE block: words 10 to 19 swapped
// into reading order, up to the first NUL, trimmed. Empty for a short block.
std::string ParseIdentifySerial(std::string_view identifyBlock);

// The serial number in a returned unit serial number page: when the page
// code (byte 1) is 0x80, the length byte (byte 3) worth of bytes from byte 4,
// NULs included, capped at what was returned, then trimmed; else empty.
std::string ParseSerialPage(std::string_view page);

// The line that carries the serial number in diskid's output.
inline constexpr std::string_view kToolSerialLabel = "Hard Drive Serial Number__________:";

// What the tool-output parser keeps between chunks.
struct ToolOutputState {
  std::string pending;  // text after the last line feed seen
  std::string result;   // from the last line that carried the label
};

// Feeds one chunk of diskid's output, cut anywhere. Carriage returns count
// as spaces and NUL bytes are dropped; each complete line that starts with
// the label, followed by at least one byte, sets the result to the rest of
// the line. A last line without a line feed is never examined.
void ParseToolOutput(ToolOutputState& state, std::string_view chunk);
