#include "platform/random.h"

#include <sys/random.h>

#include <random>

namespace platform {

std::array<uint8_t, 16> randomBytes16() {
  std::array<uint8_t, 16> bytes{};
  size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  if (filled < bytes.size()) {
    // getrandom is missing or was interrupted for good: fall back to the C++
    // library's device, which still asks the kernel.
    std::random_device device;
    for (auto& b : bytes) b = static_cast<uint8_t>(device());
  }
  return bytes;
}

}  // namespace platform
