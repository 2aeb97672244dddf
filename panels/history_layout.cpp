#include "panels/history_layout.h"

#include <QDateEdit>
#include <QDateTime>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "panels/panel_widgets.h"
#include "sys/qt_text.h"

namespace panels {
namespace {

// The round marker in front of a repair entry.
class Marker : public QWidget {
 public:
  explicit Marker(QWidget* parent) : QWidget(parent) {}
  void setColor(const QColor& color) {
    color_ = color;
    update();
  }

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

QLabel* entryText(QWidget* surface, const QPoint& at, int width) {
  auto* label = new QLabel(surface);
  label->setFont(pixelFont(12));
  label->setStyleSheet("color: rgb(128,128,128);");
  label->setGeometry(QRect(at, QSize(width, 18)));
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
      "QPushButton:hover { border-color: rgb(99,196,238); }"
      "QPushButton:disabled { color: rgb(200,200,200); border-color: rgb(225,225,225); }");
  return button;
}

HistoryList::HistoryList(QWidget* surface, const HistoryGeometry& geometry)
    : QObject(surface), geometry_(geometry) {
  fromPicker = datePicker(surface, "DateTimePicker1", QRect(56, 14, 103, 28));
  auto* to = new QLabel(QStringLiteral("至"), surface);
  to->setObjectName("Label7");
  to->setFont(pixelFont(14));
  to->move(168, 19);
  to->adjustSize();
  toPicker = datePicker(surface, "DateTimePicker2", QRect(191, 14, 105, 28));
  rangeButton = flatButton(surface, "FlatButton3", QPoint(305, 13), QSize(25, 25), ">>");
  connect(rangeButton, &QPushButton::clicked, this,
          [this] { setDateRange(fromPicker->date(), toPicker->date()); });
  addDivider(surface, 61, 2);

  const int width = surface->width() - geometry.textLeft - 4;
  for (int n = 0; n < geometry.entries; ++n) {
    const int top = geometry.firstTop + n * geometry.height;
    Row row;
    if (geometry.markers) {
      row.marker = new Marker(surface);
      row.marker->setGeometry(10, top + 2, 23, 15);
    }
    row.line = entryText(surface, QPoint(geometry.textLeft, top), width);
    row.firstNote =
        entryText(surface, QPoint(geometry.textLeft, top + 26), geometry.secondLeft - geometry.textLeft - 6);
    row.secondNote =
        entryText(surface, QPoint(geometry.secondLeft, top + 26), surface->width() - geometry.secondLeft - 4);
    addDivider(surface, top + geometry.height - 8, 1);
    rows_.push_back(row);
  }

  previousButton = flatButton(surface, "FlatButton1", geometry.previous, QSize(21, 21), "<");
  pageNumber = new QLabel(surface);
  pageNumber->setObjectName("Label18");
  pageNumber->setFont(pixelFont(14, true));
  pageNumber->setStyleSheet("color: rgb(0,128,128);");
  pageNumber->setAlignment(Qt::AlignCenter);
  pageNumber->setGeometry(geometry.number.x() - 4, geometry.number.y() + 2,
                          geometry.next.x() - geometry.number.x() + 2, 18);
  nextButton = flatButton(surface, "FlatButton2", geometry.next, QSize(21, 21), ">");
  connect(previousButton, &QPushButton::clicked, this, [this] { showPage(page_ - 1); });
  connect(nextButton, &QPushButton::clicked, this, [this] { showPage(page_ + 1); });
  showPage(0);
}

std::vector<const EntryTexts*> HistoryList::visible() const {
  std::vector<const EntryTexts*> shown;
  for (const auto& [date, texts] : entries_) {
    if (from_.isValid() && (date < from_ || date > to_)) continue;
    shown.push_back(&texts);
  }
  return shown;
}

void HistoryList::setEntries(std::vector<std::pair<QDate, EntryTexts>> entries) {
  entries_ = std::move(entries);
  // Until a range is chosen, the pickers span every entry.
  if (!from_.isValid()) {
    QDate oldest = QDate::currentDate();
    QDate newest = oldest;
    for (const auto& [date, texts] : entries_) {
      if (!date.isValid()) continue;
      oldest = std::min(oldest, date);
      newest = std::max(newest, date);
    }
    fromPicker->setDate(oldest);
    toPicker->setDate(newest);
  }
  showPage(page_);
}

void HistoryList::setDateRange(const QDate& from, const QDate& to) {
  from_ = std::min(from, to);
  to_ = std::max(from, to);
  showPage(0);
}

int HistoryList::pageCount() const {
  const int count = static_cast<int>(visible().size());
  return std::max(1, (count + geometry_.entries - 1) / geometry_.entries);
}

void HistoryList::showPage(int page) {
  const std::vector<const EntryTexts*> shown = visible();
  page_ = std::clamp(page, 0, pageCount() - 1);
  for (size_t n = 0; n < rows_.size(); ++n) {
    const size_t index = static_cast<size_t>(page_ * geometry_.entries) + n;
    Row& row = rows_[n];
    const EntryTexts* texts = index < shown.size() ? shown[index] : nullptr;
    row.line->setText(texts ? text::toQString(texts->line) : QString());
    row.firstNote->setText(texts ? text::toQString(texts->firstNote) : QString());
    row.secondNote->setText(texts ? text::toQString(texts->secondNote) : QString());
    if (row.marker) {
      static_cast<Marker*>(row.marker)->setColor(texts ? texts->marker : QColor());
      row.marker->setVisible(texts != nullptr && texts->marker.isValid());
    }
  }
  pageNumber->setText(QString::number(page_ + 1));
  previousButton->setEnabled(page_ > 0);
  nextButton->setEnabled(page_ + 1 < pageCount());
}

std::vector<EntryTexts> HistoryList::shownEntries() const {
  std::vector<EntryTexts> shown;
  const std::vector<const EntryTexts*> all = visible();
  for (size_t index = static_cast<size_t>(page_ * geometry_.entries);
       index < all.size() && index < static_cast<size_t>((page_ + 1) * geometry_.entries); ++index)
    shown.push_back(*all[index]);
  return shown;
}

QDate entryDate(const std::string& localTime) {
  return QDate::fromString(QString::fromStdString(localTime.substr(0, 10)), "yyyy-MM-dd");
}

std::string entryDateText(const std::string& localTime) {
  static const char* const kWeekdays[] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};
  const QDateTime when = QDateTime::fromString(QString::fromStdString(localTime), "yyyy-MM-dd HH:mm:ss");
  if (!when.isValid()) return localTime;
  return text::fromQString(when.toString("yyyy-MM-dd  HH:mm ") +
                           QString::fromUtf8(kWeekdays[when.date().dayOfWeek() - 1]));
}

}  // namespace panels
