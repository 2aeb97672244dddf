#include "platform/gui/key_grab.h"

// Qt's headers go before Xlib's, whose macros (Bool, Status, None) they
// would trip over.
// clang-format off
#include <QObject>
#include <QSocketNotifier>

#include <array>
#include <set>

#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on

namespace platform {

namespace {

// Every combination of Shift, Lock, Control and Mod1..Mod5.
constexpr unsigned kCombinations = 256;

// Xlib reports a refused grab through the error handler, which is one for
// the whole process; it is swapped in only around our own requests, and
// notes which of them (by sequence number) were refused.
std::set<unsigned long>* refusedRequests = nullptr;

int noteError(Display*, XErrorEvent* error) {
  if (refusedRequests != nullptr && error->error_code == BadAccess) refusedRequests->insert(error->serial);
  return 0;
}

std::string combinationName(unsigned mask) {
  static constexpr std::array<const char*, 8> kNames = {"Shift", "Lock", "Control", "Mod1",
                                                        "Mod2",  "Mod3", "Mod4",    "Mod5"};
  std::string name;
  for (unsigned bit = 0; bit < kNames.size(); ++bit) {
    if ((mask & (1u << bit)) != 0) name += std::string(kNames[bit]) + "+";
  }
  return name + "F4";
}

}  // namespace

struct F4Swallow::Impl {
  Display* display = nullptr;
  std::unique_ptr<QSocketNotifier> events;
  std::array<bool, kCombinations> ours{};
  Notice notice;
  std::string toldHeldElsewhere;

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

  bool anyOurs() const {
    for (bool held : ours) {
      if (held) return true;
    }
    return false;
  }

  std::string heldElsewhere() const {
    std::string list;
    unsigned count = 0;
    for (unsigned mask = 0; mask < kCombinations; ++mask) {
      if (ours[mask]) continue;
      list += (count++ == 0 ? "" : ", ") + combinationName(mask);
    }
    return list;
  }

  // One request per combination still missing, then a single round trip:
  // the refused ones come back as errors carrying their request's number.
  void grabMissing(KeyCode f4) {
    std::array<unsigned long, kCombinations> request{};
    std::set<unsigned long> refused;
    XSync(display, False);
    refusedRequests = &refused;
    XErrorHandler previous = XSetErrorHandler(noteError);
    for (unsigned mask = 0; mask < kCombinations; ++mask) {
      if (ours[mask]) continue;
      request[mask] = NextRequest(display);
      XGrabKey(display, f4, mask, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    refusedRequests = nullptr;
    for (unsigned mask = 0; mask < kCombinations; ++mask) {
      if (!ours[mask]) ours[mask] = refused.count(request[mask]) == 0;
    }
  }
};

F4Swallow::F4Swallow() : impl_(std::make_unique<Impl>()) {}
F4Swallow::~F4Swallow() = default;

void F4Swallow::setNotice(Notice notice) { impl_->notice = std::move(notice); }

bool F4Swallow::installed() const { return impl_->anyOurs(); }

std::string F4Swallow::heldElsewhere() const {
  return impl_->display ? impl_->heldElsewhere() : std::string();
}

F4Swallow::Result F4Swallow::install() {
  if (impl_->display == nullptr) {
    impl_->display = XOpenDisplay(nullptr);
    if (impl_->display == nullptr) return Result::NoDisplay;
    impl_->events =
        std::make_unique<QSocketNotifier>(ConnectionNumber(impl_->display), QSocketNotifier::Read);
    QObject::connect(impl_->events.get(), &QSocketNotifier::activated,
                     [impl = impl_.get()] { impl->drain(); });
  }
  const KeyCode f4 = XKeysymToKeycode(impl_->display, XK_F4);
  if (f4 == 0) return Result::Refused;
  impl_->grabMissing(f4);
  impl_->drain();
  if (!impl_->anyOurs()) return Result::Refused;

  const std::string held = impl_->heldElsewhere();
  if (held != impl_->toldHeldElsewhere) {
    impl_->toldHeldElsewhere = held;
    if (impl_->notice && !held.empty())
      impl_->notice("F4 key hook: held by another program and left to it: " + held);
  }
  return Result::Grabbed;
}

}  // namespace platform
