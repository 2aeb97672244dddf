#include "panels/Unit9.h"

#include <QPushButton>

#include "panels/history_layout.h"
#include "panels/page_controls.h"
#include "sys/text_codec.h"

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
  connect(FlatButton4, &QPushButton::clicked, this, &TForm9::FlatButton4Click);
  panels::addDateRange(surface);
  panels::addDivider(surface, 61, 2);
  const std::string line = text::utf8ToGbk("2014-13-13  15:30 周三   一年级 三班    王老师");
  for (int entry = 0; entry < 6; ++entry) {
    const QColor marker = entry < 3 ? QColor(135, 206, 235) : QColor(0, 255, 0);
    panels::addEntry(surface, 70 + entry * 66, 66, 40, line, text::utf8ToGbk("报修情况"),
                     text::utf8ToGbk("处理情况"), 250, marker);
  }
  panels::addPaging(surface, 256, 293, 312, 491);
}

void TForm9::FlatButton4Click() { hide(); }
