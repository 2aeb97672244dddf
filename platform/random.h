// Random bytes from the kernel.
#pragma once

#include <array>
#include <cstdint>

namespace platform {

std::array<uint8_t, 16> randomBytes16();

}  // namespace platform
