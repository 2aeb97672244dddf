// Which kind of desktop session the client runs in, decided once at start-up:
// an X11 session, whose screen the X server hands out, or a Wayland one,
// whose compositor shows the X server (XWayland) only the X programs' own
// windows, so that the screen must be asked of the compositor instead.
#pragma once

#include <string>
#include <string_view>

namespace platform {

struct DesktopSession {
  bool wayland = false;
  // What the log calls it: "wayland", "x11" or the session's own type.
  std::string type;
  // Why, in plain words for the log (ASCII).
  std::string reason;
};

// The decision from what the environment and the X server say: a Wayland
// display named, a session type "wayland", or an X server whose outputs are
// XWayland's ("XWAYLAND0"...) all mean Wayland.
DesktopSession decideDesktopSession(std::string_view waylandDisplay, std::string_view sessionType,
                                    bool xwaylandOutputs);

// Reads $WAYLAND_DISPLAY, $XDG_SESSION_TYPE and the outputs of $DISPLAY.
DesktopSession detectDesktopSession();

// The windows stay X11 windows (on XWayland in a Wayland session), where
// their shape, their place and staying on top work: QT_QPA_PLATFORM=xcb is
// set unless the admin set the variable or there is no X display. Call it
// before the application object is made; returns a line for the log.
std::string keepWindowsOnX11();

}  // namespace platform
