#include "platform/gui/portal_screenshot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <atomic>

namespace platform {

namespace {

const char kPortal[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";

// Receives the one Response signal of the request.
class ResponseWaiter : public QObject {
  Q_OBJECT
 public:
  uint code = 2;  // 0 done, 1 cancelled, 2 other
  QVariantMap results;
  bool answered = false;
  QEventLoop loop;

 public slots:
  void response(uint responseCode, const QVariantMap& responseResults) {
    code = responseCode;
    results = responseResults;
    answered = true;
    loop.quit();
  }
};

// The request's object path is known before the call (from our bus name and
// a token of ours), so that the answer cannot come before we listen.
QString requestPath(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService().mid(1);
  sender.replace('.', '_');
  return QString("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

}  // namespace

ScreenFrame frameOfImage(QImage image) {
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
    image = image.convertToFormat(QImage::Format_RGB32);
  auto kept = std::make_shared<QImage>(std::move(image));
  ScreenFrame frame;
  frame.width = kept->width();
  frame.height = kept->height();
  // 0xffRRGGBB held in little-endian order: blue, green, red, padding; the
  // rows of a 32-bit QImage have no padding.
  frame.layout = PixelLayout::Bgrx;
  frame.pixels = kept->constBits();
  frame.owner = std::move(kept);
  return frame;
}

PortalScreenshot::PortalScreenshot(int timeoutMs) : timeoutMs_(timeoutMs) {}

QImage PortalScreenshot::take(std::string& why) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    why = "no D-Bus session bus";
    return {};
  }
  static std::atomic<int> serial{0};
  const QString token = QString("edu_client_%1").arg(++serial);
  const QString path = requestPath(bus, token);
  ResponseWaiter waiter;
  if (!bus.connect(kPortal, path, "org.freedesktop.portal.Request", "Response", &waiter,
                   SLOT(response(uint, QVariantMap)))) {
    why = "cannot listen for the portal's answer: " + bus.lastError().message().toStdString();
    return {};
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(kPortal, kPortalPath, "org.freedesktop.portal.Screenshot", "Screenshot");
  call << QString() << QVariantMap{{"handle_token", token}, {"interactive", false}, {"modal", false}};
  const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs_);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    why = "the Screenshot portal did not answer: " + reply.errorMessage().toStdString();
    bus.disconnect(kPortal, path, "org.freedesktop.portal.Request", "Response", &waiter,
                   SLOT(response(uint, QVariantMap)));
    return {};
  }
  if (!waiter.answered) {
    QTimer::singleShot(timeoutMs_, &waiter.loop, &QEventLoop::quit);
    waiter.loop.exec();
  }
  bus.disconnect(kPortal, path, "org.freedesktop.portal.Request", "Response", &waiter,
                 SLOT(response(uint, QVariantMap)));
  if (!waiter.answered) {
    why = "the Screenshot portal gave no picture within " + std::to_string(timeoutMs_ / 1000) + " s";
    return {};
  }
  if (waiter.code != 0) {
    why = waiter.code == 1 ? "the Screenshot portal refused (not allowed for this program)"
                           : "the Screenshot portal failed (answer " + std::to_string(waiter.code) + ")";
    return {};
  }
  const QString file = QUrl(waiter.results.value("uri").toString()).toLocalFile();
  QImage image(file);
  // The portal leaves its file in the user's pictures folder: one a minute
  // would fill it.
  if (!file.isEmpty()) QFile::remove(file);
  if (image.isNull()) why = "the Screenshot portal's picture cannot be read: " + file.toStdString();
  return image;
}

bool PortalScreenshot::grab(ScreenFrame& frame, std::string& why) {
  QImage image = take(why);
  if (image.isNull()) return false;
  frame = frameOfImage(std::move(image));
  return true;
}

}  // namespace platform

#include "portal_screenshot.moc"
