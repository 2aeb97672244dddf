// The screen of a wlroots desktop (sway, labwc and those built on them) read
// straight from the compositor through its screencopy protocol
// (zwlr_screencopy_manager_v1) into shared memory: no portal, no PNG file,
// no dialog. The first output the compositor lists is taken (Wayland knows
// no primary monitor).
#pragma once

#include <memory>
#include <string>

#include "platform/gui/screen_capture.h"

namespace platform {

class WlrScreencopy {
 public:
  WlrScreencopy();
  ~WlrScreencopy();
  WlrScreencopy(const WlrScreencopy&) = delete;
  WlrScreencopy& operator=(const WlrScreencopy&) = delete;

  // Whether the compositor of $WAYLAND_DISPLAY offers screencopy (connects
  // once to ask).
  static bool offered();

  // Copies the output into `frame` (its owner keeps the pixels); false with
  // `why` in plain words otherwise. Call it from one thread at a time.
  bool grab(ScreenFrame& frame, std::string& why);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
