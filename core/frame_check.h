// What a captured frame shows before it becomes a lesson picture: a screen
// whose every pixel has one colour is what a capture that could not see the
// desktop returns (a Wayland session read through X11 gives all black).
#pragma once

#include "platform/gui/screen_capture.h"

// Whether every pixel of `frame` has the same colour (the fourth byte of a
// four-byte pixel is padding and does not count). An empty frame is blank.
bool isBlankFrame(const platform::ScreenFrame& frame);
