#include "platform/gui/desktop_session.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// XWayland names its outputs XWAYLAND0, XWAYLAND1...
bool hasXwaylandOutputs() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  bool found = false;
  int event = 0, error = 0;
  if (XRRQueryExtension(display, &event, &error)) {
    if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))) {
      for (int i = 0; i < resources->noutput && !found; ++i) {
        if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, resources->outputs[i])) {
          found = std::strncmp(output->name, "XWAYLAND", 8) == 0;
          XRRFreeOutputInfo(output);
        }
      }
      XRRFreeScreenResources(resources);
    }
  }
  XCloseDisplay(display);
  return found;
}

}  // namespace

DesktopSession decideDesktopSession(std::string_view waylandDisplay, std::string_view sessionType,
                                    bool xwaylandOutputs) {
  if (!waylandDisplay.empty()) return {true, "wayland", "WAYLAND_DISPLAY is " + std::string(waylandDisplay)};
  if (sessionType == "wayland") return {true, "wayland", "XDG_SESSION_TYPE is wayland"};
  if (xwaylandOutputs) return {true, "wayland", "the X display is XWayland (XWAYLAND outputs)"};
  if (sessionType.empty()) return {false, "x11", "no Wayland display, no session type"};
  return {false, std::string(sessionType), "XDG_SESSION_TYPE is " + std::string(sessionType)};
}

DesktopSession detectDesktopSession() {
  const std::string waylandDisplay = environment("WAYLAND_DISPLAY");
  const std::string sessionType = environment("XDG_SESSION_TYPE");
  // The X server is asked only when the environment does not already tell.
  const bool xwayland = waylandDisplay.empty() && sessionType != "wayland" && hasXwaylandOutputs();
  return decideDesktopSession(waylandDisplay, sessionType, xwayland);
}

std::string keepWindowsOnX11() {
  const std::string chosen = environment("QT_QPA_PLATFORM");
  if (!chosen.empty()) return "windows: QT_QPA_PLATFORM=" + chosen + " (set by the admin)";
  if (environment("DISPLAY").empty()) return "windows: no X display; Qt chooses the window system";
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  return "windows: X11 (QT_QPA_PLATFORM=xcb)";
}

}  // namespace platform
