// The screenshot's JPEG file: baseline, colour, the library's default
// settings apart from the quality, encoded straight from the captured rows.
#pragma once

#include <string>

#include "platform/gui/screen_capture.h"

// Writes `frame` to the file `diskPath` (the name on disk, UTF-8), replacing
// any file of that name: first under the name with ".part" added, renamed
// once complete. Returns false when anything fails (no room, no right, a bad
// frame), with errno saying why; then neither name is left behind.
bool writeJpeg(const platform::ScreenFrame& frame, const std::string& diskPath, int quality = 80);
