// The session kind decided at start-up from the environment and the X
// server's outputs: anything that says Wayland means the screen is asked of
// the compositor; only a plain X11 session reads it from the X server.
#include <gtest/gtest.h>

#include "platform/gui/desktop_session.h"

namespace {

TEST(DesktopSession, AnySignOfWaylandMeansWayland) {
  const struct {
    const char* waylandDisplay;
    const char* sessionType;
    bool xwaylandOutputs;
    bool wayland;
    const char* type;
  } cases[] = {
      {"wayland-0", "", false, true, "wayland"},
      {"wayland-1", "x11", false, true, "wayland"},  // a nested compositor in an X11 login
      {"", "wayland", false, true, "wayland"},
      {"", "", true, true, "wayland"},  // only DISPLAY passed on, as a user unit may
      {"", "x11", true, true, "wayland"},
      {"", "x11", false, false, "x11"},
      {"", "", false, false, "x11"},
      {"", "tty", false, false, "tty"},
  };
  for (const auto& c : cases) {
    const platform::DesktopSession session =
        platform::decideDesktopSession(c.waylandDisplay, c.sessionType, c.xwaylandOutputs);
    SCOPED_TRACE(std::string(c.waylandDisplay) + "|" + c.sessionType + "|" + (c.xwaylandOutputs ? "xw" : ""));
    EXPECT_EQ(session.wayland, c.wayland);
    EXPECT_EQ(session.type, c.type);
    EXPECT_FALSE(session.reason.empty());
  }
}

}  // namespace
