#include "panels/panel_widgets.h"

#include <QPainter>
#include <QResizeEvent>
#include <QToolButton>

#include "platform/gui/ui_fonts.h"
#include "ui/pictures.h"

namespace panels {

QFont pixelFont(int pixelSize, bool bold) {
  QFont font = platform::yaheiFont(10, bold);
  font.setPixelSize(pixelSize);
  return font;
}

QPixmap keyedPicture(const std::string& assetsDir, const char* name) {
  QPixmap picture = ui::scaledPicture(QString::fromStdString(assetsDir + "/" + name));
  if (!picture.isNull()) picture.setMask(picture.createMaskFromColor(QColor(0, 0, 255)));
  return picture;
}

void TSkinButton::setStretchedPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed) {
  // A sharp picture (scale 2) is stretched to twice the button's size so
  // that it stays sharp.
  const auto stretched = [this](const QPixmap& picture) {
    if (picture.isNull()) return picture;
    const qreal ratio = picture.devicePixelRatio();
    QPixmap sized = picture.scaled(size() * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    sized.setDevicePixelRatio(ratio);
    return sized;
  };
  hasPictures_ = !normal.isNull();
  setPictures(stretched(normal), stretched(hover), stretched(pressed));
}

void TSkinButton::paintEvent(QPaintEvent* event) {
  TImageButton::paintEvent(event);
  // Without pictures the plain button already shows its words.
  if (!hasPictures_ || text().isEmpty()) return;
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(Qt::white);
  painter.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter, text());
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
