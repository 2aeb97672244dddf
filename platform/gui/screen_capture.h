// The screen picture taken at each screenshot tick: the primary monitor's
// part of the X server's root window (XRandR's primary monitor, where the
// server lists several and marks one; the whole root window otherwise),
// copied through the shared-memory extension where the server offers it (no
// copy through the socket) and with a plain image request otherwise.
#pragma once

#include <memory>
#include <string>

namespace platform {

// How the bytes of one pixel lie in memory. The four-byte layouts are the
// server's own pixels handed on untouched; anything else is converted to Rgb.
enum class PixelLayout { Bgrx, Rgbx, Rgb };

// A picture of the screen: `height` rows of `width` pixels, without padding
// between rows. The pixels belong to the ScreenCapture that made the picture
// and stay valid until its next grab or its end.
struct ScreenFrame {
  ScreenFrame() = default;
  ScreenFrame(int frameWidth, int frameHeight, PixelLayout frameLayout, const unsigned char* framePixels)
      : width(frameWidth), height(frameHeight), layout(frameLayout), pixels(framePixels) {}

  int width = 0;
  int height = 0;
  PixelLayout layout = PixelLayout::Rgb;
  const unsigned char* pixels = nullptr;
  // Keeps the pixels alive while the frame is handed on (to the encoder's
  // worker); empty when whoever made the frame keeps them long enough.
  std::shared_ptr<const void> owner;

  int bytesPerPixel() const { return layout == PixelLayout::Rgb ? 3 : 4; }
  size_t bytesPerRow() const { return static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel()); }
};

// The capture runs on the encoder's worker while the F4 grab and the session
// check use Xlib on the UI thread: Xlib is made safe for threads before its
// first use. Call it first thing in main.
void prepareX11ForThreads();

class ScreenCapture {
 public:
  // `displayName` such as ":1"; empty means $DISPLAY. The display is opened
  // at the first grab (and again at a later one when that failed), so a
  // capture made before the desktop is up starts working once it is.
  // `useSharedMemory` false always takes the plain request.
  explicit ScreenCapture(std::string displayName = {}, bool useSharedMemory = true);
  ~ScreenCapture();
  ScreenCapture(const ScreenCapture&) = delete;
  ScreenCapture& operator=(const ScreenCapture&) = delete;

  // Copies the screen (the primary monitor) into `frame`; false when there
  // is no display or the copy failed. Call it from one thread only.
  bool grab(ScreenFrame& frame);

  // Whether the last successful grab went through shared memory.
  bool lastGrabSharedMemory() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
