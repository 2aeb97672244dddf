// A button drawn from three pictures: normal, under the mouse, pressed.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

class TImageButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit TImageButton(QWidget* parent = nullptr);
  void setPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap normal_, hover_, pressed_;
};
