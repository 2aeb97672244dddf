// Dragging a borderless window by its surface: a left press outside an
// exempt rectangle hands the move to the window system, or, where it offers
// none (offscreen, some X11 window managers), moves the window with the
// mouse until the button is released.
#pragma once

#include <QPoint>
#include <QRect>
#include <optional>

class QMouseEvent;
class QWidget;

namespace platform {

class SurfaceDrag {
 public:
  // `exemption`, in the window's coordinates, is where a press does not drag.
  SurfaceDrag(QWidget& window, QRect exemption) : window_(window), exemption_(exemption) {}

  // From the window's mousePressEvent; false when the press is no drag and
  // belongs to the window's default handling.
  bool press(QMouseEvent* event);
  // From mouseMoveEvent and mouseReleaseEvent.
  void move(QMouseEvent* event);
  void release() { offset_.reset(); }

 private:
  QWidget& window_;
  QRect exemption_;
  std::optional<QPoint> offset_;
};

}  // namespace platform
