#include "platform/surface_drag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace platform {

bool SurfaceDrag::press(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || exemption_.contains(event->position().toPoint())) return false;
  QWindow* handle = window_.windowHandle();
  if (handle != nullptr && handle->startSystemMove()) return true;
  offset_ = event->globalPosition().toPoint() - window_.pos();
  return true;
}

void SurfaceDrag::move(QMouseEvent* event) {
  if (offset_ && (event->buttons() & Qt::LeftButton))
    window_.move(event->globalPosition().toPoint() - *offset_);
}

}  // namespace platform
