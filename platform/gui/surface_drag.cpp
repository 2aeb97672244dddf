#include "platform/gui/surface_drag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace platform {

bool SurfaceDrag::press(QWidget& window, QMouseEvent& event) {
  if (event.button() != Qt::LeftButton || exemption_.contains(event.position().toPoint())) return false;
  if (window.windowHandle() != nullptr && window.windowHandle()->startSystemMove()) return true;
  offset_ = event.globalPosition().toPoint() - window.pos();
  return true;
}

void SurfaceDrag::move(QWidget& window, QMouseEvent& event) {
  if (offset_ && (event.buttons() & Qt::LeftButton)) window.move(event.globalPosition().toPoint() - *offset_);
}

}  // namespace platform
