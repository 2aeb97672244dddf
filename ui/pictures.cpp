#include "ui/pictures.h"

#include <QGuiApplication>

namespace ui {

QPixmap scaledPicture(const QString& path) {
  if (qGuiApp != nullptr && qGuiApp->devicePixelRatio() > 1.0) {
    QString doubled = path;
    const qsizetype dot = doubled.lastIndexOf('.');
    doubled.insert(dot < 0 ? doubled.size() : dot, "@2x");
    QPixmap sharp(doubled);
    if (!sharp.isNull()) {
      sharp.setDevicePixelRatio(2.0);
      return sharp;
    }
  }
  return QPixmap(path);
}

QPixmap pictureAtScaleOne(const QPixmap& picture, const QString& path) {
  return picture.devicePixelRatio() > 1.0 ? QPixmap(path) : picture;
}

}  // namespace ui
