#include "sys/hd_serial.h"

#include <QCoreApplication>

#include "platform/child_output.h"
#include "platform/disk.h"
#include "platform/process.h"
#include "sys/hd_serial_parse.h"
#include "sys/trim.h"

namespace {

constexpr size_t kReadSize = 4096;
constexpr int kPollMs = 200;
// A tool that floods its pipe is not a disk-id tool; stop reading it.
constexpr size_t kMaxToolOutput = 1 << 20;

}  // namespace

std::string ReadDiskSerial() {
  std::string serial = ParseIdentifySerial(platform::readFirstDiskIdentify());
  if (serial.empty()) serial = ParseSerialPage(platform::readRootDiskSerialPage());
  return serial;
}

std::string ReadToolSerial(const std::string& toolPath, std::chrono::milliseconds timeLimit) {
  platform::ChildOutput tool;
  if (toolPath.empty() || !tool.start(toolPath)) return {};
  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  ToolOutputState state;
  std::string chunk;
  size_t total = 0;
  for (;;) {
    const auto read = tool.read(chunk, kReadSize);
    if (read == platform::ChildOutput::Read::Ended) break;
    if (read == platform::ChildOutput::Read::Bytes) {
      ParseToolOutput(state, chunk);
      total += chunk.size();
    } else if (tool.hasExited()) {
      break;
    }
    // A tool that never ends must not hold start-up for ever.
    if (std::chrono::steady_clock::now() >= deadline || total >= kMaxToolOutput) {
      tool.stop();
      break;
    }
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
    tool.waitForOutput(kPollMs);
  }
  return trimText(state.result);
}

std::string ReadToolSerial() { return ReadToolSerial(platform::findCompanion("diskid")); }

std::string ReadDiskIdentity() { return ReadDiskIdentityAndSource().serial; }

DiskIdentity ReadDiskIdentityAndSource() {
  if (std::string serial = ReadDiskSerial(); !serial.empty()) return {serial, "disk"};
  if (std::string serial = ReadToolSerial(); !serial.empty()) return {serial, "diskid tool"};
  return {"", "none"};
}
