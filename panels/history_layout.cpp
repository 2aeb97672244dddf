#include "panels/history_layout.h"

#include <QDateEdit>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "panels/panel_widgets.h"
#include "sys/qt_text.h"

namespace panels {
namespace {

// The round marker in front of a repair entry.
class Marker : public QWidget {
 public:
  Marker(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color_);
    painter.drawEllipse(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QColor color_;
};

QLabel* entryText(QWidget* surface, const std::string& text, const QPoint& at) {
  auto* label = new QLabel(text::toQString(text), surface);
  label->setFont(pixelFont(12));
  label->setStyleSheet("color: rgb(128,128,128);");
  label->move(at);
  label->adjustSize();
  return label;
}

QDateEdit* datePicker(QWidget* surface, const char* name, const QRect& geometry) {
  auto* picker = new QDateEdit(QDate::currentDate(), surface);
  picker->setObjectName(name);
  picker->setGeometry(geometry);
  picker->setFont(pixelFont(12));
  picker->setCalendarPopup(true);
  picker->setDisplayFormat("yyyy-MM-dd");
  return picker;
}

}  // namespace

void addDateRange(QWidget* surface) {
  datePicker(surface, "DateTimePicker1", QRect(56, 14, 103, 28));
  auto* to = new QLabel(QStringLiteral("至"), surface);
  to->setObjectName("Label7");
  to->setFont(pixelFont(14));
  to->move(168, 19);
  to->adjustSize();
  datePicker(surface, "DateTimePicker2", QRect(191, 14, 105, 28));
  flatButton(surface, "FlatButton3", QPoint(305, 13), QSize(25, 25), ">>");
}

void addDivider(QWidget* surface, int top, int thickness) {
  auto* line = new TBar(QColor(210, 210, 210), surface);
  line->setGeometry(0, top, surface->width(), thickness);
}

QPushButton* flatButton(QWidget* parent, const char* name, const QPoint& at, const QSize& size,
                        const std::string& text) {
  auto* button = new QPushButton(text::toQString(text), parent);
  button->setObjectName(name);
  button->setGeometry(QRect(at, size));
  button->setFont(pixelFont(12));
  button->setCursor(Qt::PointingHandCursor);
  button->setStyleSheet(
      "QPushButton { border: 1px solid rgb(180,180,180); background: white; color: rgb(4,104,147); }"
      "QPushButton:hover { border-color: rgb(99,196,238); }");
  return button;
}

void addEntry(QWidget* surface, int top, int height, int textLeft, const std::string& line,
              const std::string& firstNote, const std::string& secondNote, int secondLeft,
              const QColor& marker) {
  if (marker.isValid()) (new Marker(marker, surface))->setGeometry(10, top + 2, 23, 15);
  entryText(surface, line, QPoint(textLeft, top));
  entryText(surface, firstNote, QPoint(textLeft, top + 26));
  entryText(surface, secondNote, QPoint(secondLeft, top + 26));
  addDivider(surface, top + height - 8, 1);
}

void addPaging(QWidget* surface, int previousX, int numberX, int nextX, int top) {
  flatButton(surface, "FlatButton1", QPoint(previousX, top), QSize(21, 21), "<");
  auto* number = new QLabel(QStringLiteral("3"), surface);
  number->setObjectName("Label18");
  number->setFont(pixelFont(14, true));
  number->setStyleSheet("color: rgb(0,128,128);");
  number->move(numberX, top + 2);
  number->adjustSize();
  flatButton(surface, "FlatButton2", QPoint(nextX, top), QSize(21, 21), ">");
}

}  // namespace panels
