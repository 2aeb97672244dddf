#include "core/frame_check.h"

#include <cstring>

bool isBlankFrame(const platform::ScreenFrame& frame) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return true;
  const int size = frame.bytesPerPixel();
  const int colour = 3;  // the padding byte of Bgrx and Rgbx comes last
  const unsigned char* first = frame.pixels;
  const size_t stride = frame.bytesPerRow();
  for (int y = 0; y < frame.height; ++y) {
    const unsigned char* row = frame.pixels + static_cast<size_t>(y) * stride;
    for (int x = 0; x < frame.width; ++x) {
      // Most screens differ within the first row: the loop ends there.
      if (std::memcmp(row + static_cast<size_t>(x) * size, first, colour) != 0) return false;
    }
  }
  return true;
}
