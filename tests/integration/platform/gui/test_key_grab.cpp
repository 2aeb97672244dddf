// The F4 swallow on a real X server of its own (Xvfb): F4, alone or with
// Alt, never reaches the focused window, other keys do, a second swallow is
// turned away while the first holds the key, and combinations a window
// manager holds are left to it.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/gui/key_grab.h"
#include "tests/support/test_support.h"
// Last: it brings Xlib.
#include "tests/integration/core/xvfb_display.h"

// clang-format off
#include <X11/keysym.h>
// clang-format on

namespace {

using platform::F4Swallow;

class KeyGrabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xvfb_.running() || QStandardPaths::findExecutable("xdotool").isEmpty())
      SKIP_WITHOUT_TOOL("Xvfb or xdotool missing (packages xvfb, xdotool)");
    display_ = xvfb_.name();
    setenv("DISPLAY", display_.c_str(), 1);

    // A window of another program, holding the focus.
    other_ = XOpenDisplay(display_.c_str());
    ASSERT_NE(other_, nullptr);
    window_ = XCreateSimpleWindow(other_, DefaultRootWindow(other_), 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(other_, window_, KeyPressMask | StructureNotifyMask);
    XMapWindow(other_, window_);
    for (XEvent event;;) {
      XNextEvent(other_, &event);
      if (event.type == MapNotify) break;
    }
    XSetInputFocus(other_, window_, RevertToParent, CurrentTime);
    XSync(other_, False);
  }

  void TearDown() override {
    if (other_ != nullptr) XCloseDisplay(other_);
    if (previousDisplay_.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", previousDisplay_.c_str(), 1);
    }
  }

  void press(const char* keys) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(display_));
    QProcess xdotool;
    xdotool.setProcessEnvironment(environment);
    xdotool.start("xdotool", {"key", keys});
    ASSERT_TRUE(xdotool.waitForFinished(10000));
  }

  // The keys the other program's window received, until it got `last`.
  std::vector<KeySym> keysUntil(KeySym last) {
    std::vector<KeySym> received;
    testsupport::waitFor([&] {
      while (XPending(other_) > 0) {
        XEvent event;
        XNextEvent(other_, &event);
        if (event.type == KeyPress) received.push_back(XLookupKeysym(&event.xkey, 0));
      }
      return !received.empty() && received.back() == last;
    });
    return received;
  }

  // Presses each of `keys`, then "a": the window gets the "a" and no F4.
  void expectF4NeverArrives(const std::vector<const char*>& keys) {
    for (const char* key : keys) press(key);
    press("a");
    const std::vector<KeySym> received = keysUntil(XK_a);
    for (KeySym key : received) EXPECT_NE(key, XK_F4);
    EXPECT_FALSE(received.empty());
  }

  xvfbtest::XvfbDisplay xvfb_{320, 240};
  std::string display_;
  std::string previousDisplay_ = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  Display* other_ = nullptr;
  Window window_ = 0;
};

TEST_F(KeyGrabTest, F4NeverReachesOtherProgramsOtherKeysDo) {
  press("F4");
  EXPECT_EQ(keysUntil(XK_F4), std::vector<KeySym>{XK_F4});  // the window does get F4 before the grab

  F4Swallow swallow;
  ASSERT_EQ(swallow.install(), F4Swallow::Result::Grabbed);
  ASSERT_EQ(swallow.install(), F4Swallow::Result::Grabbed);  // a second login's install changes nothing
  EXPECT_TRUE(swallow.installed());
  expectF4NeverArrives({"F4", "alt+F4", "ctrl+shift+F4"});

  F4Swallow second;
  EXPECT_EQ(second.install(), F4Swallow::Result::Refused);
}

// A stand-in window manager holds Alt+F4 (with and without NumLock, as
// window managers grab it) before the client: those stay with it and are
// named in the log, plain F4 and every other combination are swallowed.
TEST_F(KeyGrabTest, CombinationsAWindowManagerHoldsAreLeftToItTheRestAreSwallowed) {
  Display* windowManager = XOpenDisplay(display_.c_str());
  ASSERT_NE(windowManager, nullptr);
  const KeyCode f4 = XKeysymToKeycode(windowManager, XK_F4);
  for (unsigned modifiers : {Mod1Mask, Mod1Mask | Mod2Mask})
    XGrabKey(windowManager, f4, modifiers, DefaultRootWindow(windowManager), False, GrabModeAsync,
             GrabModeAsync);
  XSync(windowManager, False);

  F4Swallow swallow;
  std::vector<std::string> notices;
  swallow.setNotice([&](const std::string& what) { notices.push_back(what); });
  ASSERT_EQ(swallow.install(), F4Swallow::Result::Grabbed);
  EXPECT_EQ(swallow.heldElsewhere(), "Mod1+F4, Mod1+Mod2+F4");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("Mod1+F4, Mod1+Mod2+F4"), std::string::npos) << notices[0];
  ASSERT_EQ(swallow.install(), F4Swallow::Result::Grabbed);
  EXPECT_EQ(notices.size(), 1u);  // nothing new to tell

  expectF4NeverArrives({"F4", "ctrl+F4", "shift+F4", "alt+F4"});
  bool windowManagerGotAltF4 = false;
  testsupport::waitFor([&] {
    while (XPending(windowManager) > 0) {
      XEvent event;
      XNextEvent(windowManager, &event);
      if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_F4 && (event.xkey.state & Mod1Mask))
        windowManagerGotAltF4 = true;
    }
    return windowManagerGotAltF4;
  });
  EXPECT_TRUE(windowManagerGotAltF4);
  XCloseDisplay(windowManager);
}

TEST(KeyGrab, WithoutADisplayItSaysSo) {
  const char* display = std::getenv("DISPLAY");
  const std::string previous = display ? display : "";
  setenv("DISPLAY", ":65000", 1);
  F4Swallow swallow;
  EXPECT_EQ(swallow.install(), F4Swallow::Result::NoDisplay);
  EXPECT_FALSE(swallow.installed());
  if (previous.empty()) {
    unsetenv("DISPLAY");
  } else {
    setenv("DISPLAY", previous.c_str(), 1);
  }
}

}  // namespace
