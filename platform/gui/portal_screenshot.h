// The screen of a Wayland desktop, asked of the desktop portal's Screenshot
// interface (org.freedesktop.portal.Screenshot) on the session bus, without
// a dialog (interactive false). The portal writes a PNG file and answers
// with its address; the picture is read and the file removed. GNOME and KDE
// answer only when the permission store allows it (see README); wlroots
// desktops (sway, labwc) answer through xdg-desktop-portal-wlr.
#pragma once

#include <QImage>
#include <memory>
#include <string>

#include "platform/gui/screen_capture.h"

namespace platform {

class PortalScreenshot {
 public:
  // `timeoutMs`: how long to wait for the portal's answer; the window keeps
  // handling events meanwhile (the wait is a nested event loop).
  explicit PortalScreenshot(int timeoutMs = 10000);

  // Asks for a picture of the screen; on success `frame` holds it (its
  // owner keeps the pixels). On failure `why` says why in plain words.
  bool grab(ScreenFrame& frame, std::string& why);

  // The portal's picture as read from its file, before it becomes a frame.
  QImage take(std::string& why);

 private:
  int timeoutMs_;
};

// A frame over a picture of any format, converted to four-byte pixels where
// needed; the frame keeps the picture alive.
ScreenFrame frameOfImage(QImage image);

}  // namespace platform
