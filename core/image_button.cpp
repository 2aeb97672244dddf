#include "core/image_button.h"

#include <QPainter>

TImageButton::TImageButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void TImageButton::setPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed) {
  normal_ = normal;
  hover_ = hover.isNull() ? normal : hover;
  pressed_ = pressed.isNull() ? normal : pressed;
  update();
}

void TImageButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPixmap& picture = isDown() ? pressed_ : underMouse() ? hover_ : normal_;
  if (!picture.isNull()) {
    painter.drawPixmap(0, 0, picture);
    return;
  }
  // Without its pictures the button still shows its words.
  painter.fillRect(rect(), QColor(64, 70, 77));
  painter.setPen(QColor(200, 200, 200));
  painter.drawText(rect(), Qt::AlignCenter, text());
}

void TImageButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  update();
}

void TImageButton::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  update();
}
