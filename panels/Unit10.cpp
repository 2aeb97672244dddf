#include "panels/Unit10.h"

#include <QLabel>
#include <QPushButton>

#include "panels/history_layout.h"
#include "panels/page_controls.h"
#include "panels/panel_widgets.h"
#include "store/offline_store.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"

namespace {

using text::gbk;
std::string number(int n) { return std::to_string(n); }

std::string stateText(const DB_Func::RowSet& row) {
  const std::string state = row.text("state");
  if (state == DB_Func::kRefused) return gbk("服务器未接受");
  if (state == DB_Func::kPending) return gbk("课程待上传");
  return gbk("截图待上传");
}

}  // namespace

TForm10::TForm10(const std::string& assetsDir, std::function<void()> sendAll, QWidget* parent)
    : QWidget(parent), sendAll_(std::move(sendAll)) {
  setObjectName("Form10");
  QWidget* surface = panels::pageSurface(this, QSize(389, 575), QSize(373, 537));
  panels::HistoryGeometry geometry;
  geometry.entries = 5;
  geometry.firstTop = 70;
  geometry.height = 70;
  geometry.textLeft = 12;
  geometry.secondLeft = 210;
  geometry.previous = {254, 419};
  geometry.number = {291, 419};
  geometry.next = {310, 419};
  list = new panels::HistoryList(surface, geometry);

  Label_upload = new QLabel(surface);
  Label_upload->setObjectName("Label_upload");
  Label_upload->setFont(panels::pixelFont(12));
  Label_upload->setStyleSheet("color: rgb(4,104,147);");
  Label_upload->setGeometry(12, 442, 349, 18);
  suiImageButton6 = panels::pageButton(surface, "suiImageButton6", QRect(98, 462, 171, 39), assetsDir,
                                       gbk("上传全部离线数据"));
  connect(suiImageButton6, &QAbstractButton::clicked, this,
          ui::guarded(this, &TForm10::suiImageButton6Click));
}

void TForm10::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ui::runGuarded(this, [this] { Refresh(); });
}

void TForm10::Refresh() {
  DB_Func::RowSet rows = DB_Func::QueryOfflineEntries();
  std::vector<std::pair<QDate, panels::EntryTexts>> entries;
  std::vector<std::string> times;  // of the entries, to place the reports
  for (rows.moveTo(0); !rows.end(); rows.next()) {
    const std::string begin = rows.text("begin_time");
    panels::EntryTexts texts;
    texts.line = panels::entryDateText(begin) + "   " + rows.text("grade_name") + " " +
                 rows.text("class_name") + "    " + rows.text("subject_name");
    texts.firstNote = (rows.text("offline") == "1" ? gbk("离线上课，") : gbk("网络中断，")) + gbk("截图 ") +
                      rows.text("shots") + gbk(" 张，待上传 ") + rows.text("waiting") + gbk(" 张");
    texts.secondNote = stateText(rows);
    entries.emplace_back(panels::entryDate(begin), std::move(texts));
    times.push_back(begin);
  }
  // Fault reports that wait go out with the rest.
  DB_Func::RowSet reports = DB_Func::QueryRepairHistory();
  for (reports.moveTo(0); !reports.end(); reports.next()) {
    if (reports.text("state") != DB_Func::kPending && reports.text("state") != DB_Func::kSending) continue;
    const std::string time = reports.text("report_time");
    panels::EntryTexts texts;
    texts.line = panels::entryDateText(time) + "   " + reports.text("grade_name") + " " +
                 reports.text("class_name") + "    " + gbk("设备报修");
    texts.firstNote = gbk("故障报告 1 份");
    texts.secondNote = gbk("报修待上传");
    // Newest first, among the lessons.
    size_t at = 0;
    while (at < times.size() && times[at] >= time) ++at;
    entries.insert(entries.begin() + static_cast<long>(at), {panels::entryDate(time), std::move(texts)});
    times.insert(times.begin() + static_cast<long>(at), time);
  }
  list->setEntries(std::move(entries));
}

void TForm10::say(const std::string& text) { Label_upload->setText(text::toQString(text)); }

void TForm10::suiImageButton6Click() {
  uploadAsked_ = true;
  say(gbk("正在上传离线数据……"));
  sendAll_();
}

void TForm10::showProgress(int delivered, int waiting) {
  if (!uploadAsked_) return;
  say(gbk("正在上传离线数据……已上传 ") + number(delivered) + gbk(" 项，还剩 ") + number(waiting) +
      gbk(" 项"));
}

void TForm10::showOutcome(bool reachable, int delivered, int refused, int waiting) {
  Refresh();
  if (!uploadAsked_) return;
  uploadAsked_ = false;
  if (!reachable) {
    say(gbk("无法连接服务器，离线数据已保留，网络恢复后将自动上传。"));
  } else if (waiting > 0) {
    say(gbk("已上传 ") + number(delivered) + gbk(" 项，还有 ") + number(waiting) + gbk(" 项等待上传。"));
  } else if (refused > 0) {
    say(gbk("离线数据已上传，其中 ") + number(refused) + gbk(" 项未被服务器接受。"));
  } else {
    say(gbk("全部离线数据已上传。"));
  }
}
