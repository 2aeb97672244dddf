#include "platform/gui/screen_capture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace platform {

namespace {

// Xlib reports protocol errors through one process-wide handler whose default
// ends the process; around the requests that may fail (a shared-memory attach
// to a server on another machine, an image of a vanishing screen) the errors
// are only counted.
int trappedErrors = 0;

int countError(Display*, XErrorEvent*) {
  ++trappedErrors;
  return 0;
}

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    trappedErrors = 0;
    previous_ = XSetErrorHandler(countError);
  }
  ~ErrorTrap() { XSetErrorHandler(previous_); }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Waits until the server has answered everything sent so far.
  bool failed() {
    XSync(display_, False);
    return trappedErrors != 0;
  }

 private:
  Display* display_;
  XErrorHandler previous_;
};

// One colour channel of a pixel value scaled to 0..255.
unsigned char channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const unsigned long value = (pixel & mask) >> shift;
  const unsigned long top = (1UL << bits) - 1;
  return static_cast<unsigned char>(bits >= 8 ? value >> (bits - 8) : value * 255 / top);
}

}  // namespace

struct ScreenCapture::State {
  std::string displayName;
  bool wantSharedMemory = true;

  Display* display = nullptr;
  // The shared-memory image is kept from grab to grab and only made again
  // when the screen changes size.
  XImage* sharedImage = nullptr;
  XShmSegmentInfo segment{};
  bool sharedMemoryUnusable = false;
  XImage* plainImage = nullptr;
  int monitorsKnown = -1;  // whether the server lists monitors (RandR 1.5); -1: not asked yet
  std::vector<unsigned char> converted;
  bool lastShared = false;

  ~State() {
    dropSharedImage();
    dropPlainImage();
    if (display != nullptr) XCloseDisplay(display);
  }

  void dropSharedImage() {
    if (sharedImage == nullptr) return;
    XShmDetach(display, &segment);
    XSync(display, False);
    XDestroyImage(sharedImage);  // frees the XImage, not the shared data
    shmdt(segment.shmaddr);
    sharedImage = nullptr;
    segment = {};
  }

  void dropPlainImage() {
    if (plainImage != nullptr) XDestroyImage(plainImage);
    plainImage = nullptr;
  }

  bool makeSharedImage(Window root, unsigned width, unsigned height) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, root, &attributes)) return false;
    XImage* image = XShmCreateImage(display, attributes.visual, static_cast<unsigned>(attributes.depth),
                                    ZPixmap, nullptr, &segment, width, height);
    if (image == nullptr) return false;
    const size_t size = static_cast<size_t>(image->bytes_per_line) * height;
    segment.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (segment.shmid < 0) {
      XDestroyImage(image);
      return false;
    }
    segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
    segment.readOnly = False;
    bool attached = false;
    if (segment.shmaddr != reinterpret_cast<char*>(-1)) {
      ErrorTrap trap(display);
      attached = XShmAttach(display, &segment) && !trap.failed();
    }
    // Marked for removal at once: the segment then goes away with its last
    // user, even when this process is killed.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (!attached) {
      if (segment.shmaddr != reinterpret_cast<char*>(-1)) shmdt(segment.shmaddr);
      image->data = nullptr;
      XDestroyImage(image);
      segment = {};
      return false;
    }
    sharedImage = image;
    return true;
  }

  // The part of the root window to copy: the primary monitor where the
  // server marks one among several (a projector beside the desk screen),
  // else the whole screen.
  struct Area {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
  };

  Area areaToCopy(Window root, unsigned rootWidth, unsigned rootHeight) {
    const Area whole{0, 0, rootWidth, rootHeight};
    if (monitorsKnown < 0) {
      int event, error, major = 0, minor = 0;
      monitorsKnown = XRRQueryExtension(display, &event, &error) &&
                      XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
    }
    if (monitorsKnown == 0) return whole;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    if (monitors == nullptr) return whole;
    Area area = whole;
    for (int i = 0; count > 1 && i < count; ++i) {
      const XRRMonitorInfo& m = monitors[i];
      if (!m.primary) continue;
      // Only what lies on the root window can be copied.
      const int left = std::max(m.x, 0), top = std::max(m.y, 0);
      const int right = std::min(m.x + m.width, static_cast<int>(rootWidth));
      const int bottom = std::min(m.y + m.height, static_cast<int>(rootHeight));
      if (right > left && bottom > top)
        area = {left, top, static_cast<unsigned>(right - left), static_cast<unsigned>(bottom - top)};
      break;
    }
    XRRFreeMonitors(monitors);
    return area;
  }

  XImage* grabShared(Window root, int x, int y, unsigned width, unsigned height) {
    if (!wantSharedMemory || sharedMemoryUnusable) return nullptr;
    if (sharedImage != nullptr && (static_cast<unsigned>(sharedImage->width) != width ||
                                   static_cast<unsigned>(sharedImage->height) != height))
      dropSharedImage();
    if (sharedImage == nullptr && (!XShmQueryExtension(display) || !makeSharedImage(root, width, height))) {
      sharedMemoryUnusable = true;
      return nullptr;
    }
    ErrorTrap trap(display);
    if (!XShmGetImage(display, root, sharedImage, x, y, AllPlanes) || trap.failed()) return nullptr;
    return sharedImage;
  }

  XImage* grabPlain(Window root, int x, int y, unsigned width, unsigned height) {
    dropPlainImage();
    ErrorTrap trap(display);
    plainImage = XGetImage(display, root, x, y, width, height, AllPlanes, ZPixmap);
    if (trap.failed()) dropPlainImage();
    return plainImage;
  }

  // The server's pixels as they are when they already have a layout the
  // encoder reads; otherwise a converted copy.
  void describe(XImage* image, ScreenFrame& frame) {
    frame.width = image->width;
    frame.height = image->height;
    const bool fourBytes = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                           image->bytes_per_line == image->width * 4;
    if (fourBytes && image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF) {
      frame.layout = PixelLayout::Bgrx;
      frame.pixels = reinterpret_cast<const unsigned char*>(image->data);
      return;
    }
    if (fourBytes && image->red_mask == 0xFF && image->green_mask == 0xFF00 && image->blue_mask == 0xFF0000) {
      frame.layout = PixelLayout::Rgbx;
      frame.pixels = reinterpret_cast<const unsigned char*>(image->data);
      return;
    }
    // 16-bit screens, other byte orders: rare enough for the general path.
    converted.resize(static_cast<size_t>(image->width) * static_cast<size_t>(image->height) * 3);
    unsigned char* out = converted.data();
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x) {
        const unsigned long pixel = XGetPixel(image, x, y);
        *out++ = channel(pixel, image->red_mask);
        *out++ = channel(pixel, image->green_mask);
        *out++ = channel(pixel, image->blue_mask);
      }
    }
    frame.layout = PixelLayout::Rgb;
    frame.pixels = converted.data();
  }
};

void prepareX11ForThreads() { XInitThreads(); }

ScreenCapture::ScreenCapture(std::string displayName, bool useSharedMemory)
    : state_(std::make_unique<State>()) {
  state_->displayName = std::move(displayName);
  state_->wantSharedMemory = useSharedMemory;
}

ScreenCapture::~ScreenCapture() = default;

bool ScreenCapture::lastGrabSharedMemory() const { return state_->lastShared; }

bool ScreenCapture::grab(ScreenFrame& frame) {
  State& s = *state_;
  if (s.display == nullptr) {
    s.display = XOpenDisplay(s.displayName.empty() ? nullptr : s.displayName.c_str());
    if (s.display == nullptr) return false;
  }
  // The root's present size, not the one known at opening: the screen may
  // have been resized since.
  const Window root = DefaultRootWindow(s.display);
  Window rootOfRoot;
  int x, y;
  unsigned width, height, border, depth;
  if (!XGetGeometry(s.display, root, &rootOfRoot, &x, &y, &width, &height, &border, &depth)) return false;

  const State::Area area = s.areaToCopy(root, width, height);
  XImage* image = s.grabShared(root, area.x, area.y, area.width, area.height);
  s.lastShared = image != nullptr;
  if (image == nullptr) image = s.grabPlain(root, area.x, area.y, area.width, area.height);
  if (image == nullptr || image->data == nullptr) return false;
  s.describe(image, frame);
  return true;
}

}  // namespace platform
