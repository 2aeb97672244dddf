#include "panels/Unit10.h"

#include "panels/history_layout.h"
#include "panels/page_controls.h"
#include "panels/panel_widgets.h"
#include "sys/text_codec.h"

TForm10::TForm10(const std::string& assetsDir, QWidget* parent) : QWidget(parent) {
  setObjectName("Form10");
  QWidget* surface = panels::pageSurface(this, QSize(389, 575), QSize(373, 537));
  panels::addDateRange(surface);
  panels::addDivider(surface, 61, 2);
  const std::string line = text::utf8ToGbk("2014-13-13  15:30 周三   一年级 三班    数字 ");
  for (int entry = 0; entry < 5; ++entry) {
    panels::addEntry(surface, 70 + entry * 70, 70, 12, line, text::utf8ToGbk("时长：45：00（分钟）"),
                     text::utf8ToGbk("上传课件：3"), 210);
  }
  panels::addPaging(surface, 254, 291, 310, 419);
  suiImageButton6 = panels::pageButton(surface, "suiImageButton6", QRect(98, 462, 171, 39), assetsDir,
                                       text::utf8ToGbk("上传全部离线数据"));
}
