#include "platform/dbus/screenshot_permission.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>

namespace platform {

bool allowPortalScreenshots(std::string& why) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    why = "no D-Bus session bus (run it inside the user's desktop session)";
    return false;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      "org.freedesktop.impl.portal.PermissionStore", "/org/freedesktop/impl/portal/PermissionStore",
      "org.freedesktop.impl.portal.PermissionStore", "SetPermission");
  call << QString("screenshot") << true << QString("screenshot") << QString() << QStringList{"yes"};
  const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  why = "the permission store did not answer: " + reply.errorMessage().toStdString();
  return false;
}

}  // namespace platform
