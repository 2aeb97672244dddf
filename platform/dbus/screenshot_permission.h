// The desktop's permission store (org.freedesktop.impl.portal.PermissionStore
// on the session bus) decides on GNOME and KDE whether the Screenshot portal
// hands out a picture without asking: table "screenshot", entry
// "screenshot", and for a program that is not sandboxed the empty app id.
#pragma once

#include <string>

namespace platform {

// Stores "yes" for the empty app id in that entry, for the user whose
// session bus $DBUS_SESSION_BUS_ADDRESS names. False, with `why` in plain
// words, when no session bus or no permission store answers.
bool allowPortalScreenshots(std::string& why);

}  // namespace platform
