#include "panels/Unit9.h"

#include <QPushButton>
#include <QRegularExpression>

#include "panels/history_layout.h"
#include "panels/page_controls.h"
#include "store/offline_store.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"

namespace {

using text::gbk;

// The first line of the report, cut to what the entry has room for.
std::string summary(const std::string& detail) {
  const QString first = text::toQString(detail).section(QRegularExpression("[\r\n]"), 0, 0);
  return text::fromQString(first.size() > 11 ? first.left(10) + QStringLiteral("…") : first);
}

}  // namespace

TForm9::TForm9(QWidget* parent) : QWidget(parent) {
  setObjectName("Form9");
  QWidget* surface = panels::pageSurface(this, QSize(389, 575), QSize(373, 537));
  // The window shows the system's button face around the white list.
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  setPalette(palette);
  surface->setAutoFillBackground(true);
  surface->setPalette(palette);

  FlatButton4 = panels::flatButton(surface, "FlatButton4", QPoint(19, 15), QSize(27, 25), "<<");
  connect(FlatButton4, &QPushButton::clicked, this, ui::guarded(this, &TForm9::FlatButton4Click));
  panels::HistoryGeometry geometry;
  geometry.entries = 6;
  geometry.firstTop = 70;
  geometry.height = 66;
  geometry.textLeft = 40;
  geometry.secondLeft = 250;
  geometry.markers = true;
  geometry.previous = {256, 491};
  geometry.number = {293, 491};
  geometry.next = {312, 491};
  list = new panels::HistoryList(surface, geometry);
}

void TForm9::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ui::runGuarded(this, [this] { Refresh(); });
}

void TForm9::Refresh() {
  DB_Func::RowSet rows = DB_Func::QueryRepairHistory();
  std::vector<std::pair<QDate, panels::EntryTexts>> entries;
  for (rows.moveTo(0); !rows.end(); rows.next()) {
    const std::string time = rows.text("report_time");
    const std::string state = rows.text("state");
    panels::EntryTexts texts;
    texts.line = panels::entryDateText(time) + "   " + rows.text("grade_name") + " " +
                 rows.text("class_name") + "    " + rows.text("teacher_name") + gbk("老师");
    texts.firstNote = gbk("报修情况：") + summary(rows.text("fault_detail"));
    // Sky blue: waiting for the server; lime: the server has it.
    if (state == DB_Func::kDelivered) {
      texts.secondNote = gbk("处理情况：已上报");
      texts.marker = QColor(0, 255, 0);
    } else if (state == DB_Func::kRefused) {
      texts.secondNote = gbk("处理情况：未受理");
      texts.marker = QColor(255, 0, 0);
    } else {
      texts.secondNote = gbk("处理情况：待上报");
      texts.marker = QColor(135, 206, 235);
    }
    entries.emplace_back(panels::entryDate(time), std::move(texts));
  }
  list->setEntries(std::move(entries));
}

void TForm9::FlatButton4Click() { hide(); }
