#include "platform/program_dir.h"

#include <unistd.h>

#include <vector>

namespace platform {

namespace {

std::string executablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);  // the link may have been cut short
  }
}

}  // namespace

std::string programDir() {
  const std::string path = executablePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace platform
