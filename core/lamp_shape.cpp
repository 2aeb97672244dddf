#include "core/lamp_shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);  // a press on the lamp drags the window
}

void TShape::setBrushColor(const QColor& color) {
  brushColor_ = color;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int diameter = std::min(width(), height()) - 1;
  const QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter, diameter);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(brushColor_);
  painter.drawEllipse(circle);
}
