// Dragging a borderless window by its surface: a left press anywhere on the
// window itself, except inside one small rectangle, moves the window. The
// window system moves it where it can; elsewhere the window follows the
// mouse by hand. The window forwards its three mouse events here.
#pragma once

#include <QPoint>
#include <QRect>
#include <optional>

class QMouseEvent;
class QWidget;

namespace platform {

class SurfaceDrag {
 public:
  // `exemption` is in window coordinates; a press inside it is no drag.
  explicit SurfaceDrag(const QRect& exemption) : exemption_(exemption) {}

  // Returns whether the press starts a drag; when it does not, the window
  // handles the press as usual.
  bool press(QWidget& window, QMouseEvent& event);
  void move(QWidget& window, QMouseEvent& event);
  void release() { offset_.reset(); }

 private:
  QRect exemption_;
  std::optional<QPoint> offset_;
};

}  // namespace platform
