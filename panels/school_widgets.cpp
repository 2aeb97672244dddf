#include "panels/school_widgets.h"

#include <QMouseEvent>
#include <QPainter>

#include "panels/panel_widgets.h"

namespace {

const QColor kTabCaption(195, 229, 244);
constexpr int kItemHeight = 20;

}  // namespace

SchoolTabButton::SchoolTabButton(const QString& caption, QWidget* parent)
    : QWidget(parent), caption_(caption) {
  setFont(panels::pixelFont(16));
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
}

void SchoolTabButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(kTabCaption);
  painter.drawText(rect(), Qt::AlignCenter, caption_);
}

void SchoolTabButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  emit mouseEntered();
}

void SchoolTabButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  emit mouseLeft();
}

void SchoolTabButton::mousePressEvent(QMouseEvent* event) {
  // Taken here, so the press neither drags the window nor goes elsewhere.
  event->accept();
}

void SchoolTabButton::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  emit mouseReleased();
}

SchoolPanel::SchoolPanel(const QPixmap& picture, QWidget* parent) : QWidget(parent), picture_(picture) {
  setAttribute(Qt::WA_NoMousePropagation);
}

void SchoolPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!picture_.isNull()) {
    painter.drawPixmap(0, 0, picture_);
    return;
  }
  painter.fillRect(rect(), Qt::white);
}

SchoolList::SchoolList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void SchoolList::addLine(const QString& text) {
  auto* item = new QListWidgetItem(text, this);
  item->setSizeHint(QSize(0, kItemHeight));
}

void SchoolList::mouseDoubleClickEvent(QMouseEvent* event) {
  QListWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit doubleClickedAnywhere();
}
