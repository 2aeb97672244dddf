// diskid: prints "Hard Drive Serial Number__________: " and this machine's
// disk serial number, the way the client's tool-output reader expects it.
// The serial comes from what the kernel already read off the first disk
// (no special rights needed); a machine without one (a container, most
// virtual machines) gives its machine id instead, which is just as stable.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sys/hd_serial_parse.h"
#include "sys/trim.h"

namespace fs = std::filesystem;

namespace {

std::string readSmallFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(4096, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// Real disks only (they have a device link), in the kernel's naming order.
std::vector<std::string> physicalDisks() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/block", error)) {
    if (fs::exists(entry.path() / "device")) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

std::string diskSerial(const std::string& name) {
  const fs::path block = fs::path("/sys/block") / name;
  for (const fs::path& file : {block / "device" / "serial", block / "serial"}) {
    const std::string serial = trimText(readSmallFile(file));
    if (!serial.empty()) return serial;
  }
  return ParseSerialPage(readSmallFile(block / "device" / "vpd_pg80"));
}

std::string machineSerial() {
  for (const std::string& name : physicalDisks()) {
    const std::string serial = diskSerial(name);
    if (!serial.empty()) return serial;
  }
  for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    const std::string id = trimText(readSmallFile(file));
    if (!id.empty()) return id;
  }
  return {};
}

}  // namespace

int main() {
  std::string serial = machineSerial();
  if (serial.empty()) {
    std::fputs("diskid: no disk serial number found\n", stderr);
    return 1;
  }
  // The value must stay on its one line.
  std::replace_if(
      serial.begin(), serial.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, '_');
  std::printf("%s %s\n", kToolSerialLabel.data(), serial.c_str());
  return 0;
}
