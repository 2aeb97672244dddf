#include "platform/key_grab.h"

// Qt's headers go before Xlib's, whose macros (Bool, Status, None) they
// would trip over.
// clang-format off
#include <QObject>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on

namespace platform {

namespace {

// Xlib reports a refused grab through the error handler, which is one for
// the whole process; it is swapped in only around our own requests.
bool grabRefused = false;

int noteError(Display*, XErrorEvent* error) {
  if (error->error_code == BadAccess) grabRefused = true;
  return 0;
}

}  // namespace

struct F4Swallow::Impl {
  Display* display = nullptr;
  std::unique_ptr<QSocketNotifier> events;
  bool grabbed = false;

  ~Impl() {
    events.reset();
    if (display != nullptr) XCloseDisplay(display);
  }

  // The swallowed key presses arrive on our connection; read and drop them.
  void drain() {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
    }
  }
};

F4Swallow::F4Swallow() : impl_(std::make_unique<Impl>()) {}
F4Swallow::~F4Swallow() = default;

bool F4Swallow::installed() const { return impl_->grabbed; }

F4Swallow::Result F4Swallow::install() {
  if (impl_->display == nullptr) {
    impl_->display = XOpenDisplay(nullptr);
    if (impl_->display == nullptr) return Result::NoDisplay;
    impl_->events =
        std::make_unique<QSocketNotifier>(ConnectionNumber(impl_->display), QSocketNotifier::Read);
    QObject::connect(impl_->events.get(), &QSocketNotifier::activated,
                     [impl = impl_.get()] { impl->drain(); });
  }
  Display* display = impl_->display;
  const KeyCode f4 = XKeysymToKeycode(display, XK_F4);
  if (f4 == 0) return Result::Refused;

  XSync(display, False);
  grabRefused = false;
  XErrorHandler previous = XSetErrorHandler(noteError);
  XGrabKey(display, f4, AnyModifier, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync);
  XSync(display, False);
  XSetErrorHandler(previous);
  impl_->drain();
  if (grabRefused) return Result::Refused;
  impl_->grabbed = true;
  return Result::Grabbed;
}

}  // namespace platform
