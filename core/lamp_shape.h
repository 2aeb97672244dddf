// The lesson lamp: a filled circle in the middle of its box, lime when idle,
// blinking lime and red while a lesson runs.
#pragma once

#include <QColor>
#include <QWidget>

class TShape : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor brushColor READ brushColor WRITE setBrushColor)

 public:
  explicit TShape(QWidget* parent = nullptr);
  QColor brushColor() const { return brushColor_; }
  void setBrushColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor brushColor_{Qt::white};
};
