#include "panels/panel_widgets.h"

#include <QPainter>
#include <QResizeEvent>
#include <QToolButton>

#include "platform/ui_fonts.h"

namespace panels {

QFont pixelFont(int pixelSize, bool bold) {
  QFont font = platform::yaheiFont(10, bold);
  font.setPixelSize(pixelSize);
  return font;
}

QPixmap keyedPicture(const std::string& assetsDir, const char* name) {
  QPixmap picture(QString::fromStdString(assetsDir + "/" + name));
  if (!picture.isNull()) picture.setMask(picture.createMaskFromColor(QColor(0, 0, 255)));
  return picture;
}

TSkinButton::TSkinButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void TSkinButton::setPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed) {
  normal_ = normal;
  hover_ = hover.isNull() ? normal : hover;
  pressed_ = pressed.isNull() ? normal : pressed;
  update();
}

void TSkinButton::setCaptionColor(const QColor& color) {
  caption_ = color;
  update();
}

void TSkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPixmap& picture = isDown() ? pressed_ : underMouse() ? hover_ : normal_;
  if (picture.isNull()) {
    // Without its pictures the button is still a button.
    painter.fillRect(rect(), QColor(14, 112, 170));
  } else {
    painter.drawPixmap(rect(), picture);
  }
  if (text().isEmpty()) return;
  painter.setFont(font());
  painter.setPen(caption_);
  painter.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter, text());
}

void TSkinButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  update();
}

void TSkinButton::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  update();
}

TTabButton::TTabButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
}

void TTabButton::setCaptionColor(const QColor& color) {
  caption_ = color;
  update();
}

void TTabButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(caption_);
  painter.drawText(rect(), Qt::AlignCenter, text());
}

void TTabButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  emit mouseEntered();
}

void TTabButton::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  emit mouseLeft();
}

TBar::TBar(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBar::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), color_); }

TButtonEdit::TButtonEdit(const QString& name, QWidget* parent)
    : QLineEdit(parent), button_(new QToolButton(this)) {
  setObjectName(name);
  setReadOnly(true);
  button_->setObjectName(name + "_button");
  button_->setText(QStringLiteral("…"));
  button_->setCursor(Qt::PointingHandCursor);
  button_->setFocusPolicy(Qt::NoFocus);
  connect(button_, &QToolButton::clicked, this, &TButtonEdit::buttonClicked);
}

void TButtonEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  // The button fills the right end; the text stops short of it.
  const int side = height() - 4;
  button_->setGeometry(width() - side - 2, 2, side, side);
  setTextMargins(0, 0, side + 2, 0);
}

}  // namespace panels
