// The two history views in the main panel, filled from a real edu.db: the
// offline view's waiting lessons and reports and the repair history's
// reports, newest first, page by page; "上传全部离线数据" against a server
// that is not there keeps everything and says so. Pictures of both views
// with real entries are kept in build/tests/artefacts.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "core/offline_delivery.h"
#include "panels/Unit10.h"
#include "panels/Unit9.h"
#include "panels/history_layout.h"
#include "panels/mainform.h"
#include "panels/panel_widgets.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/offline_store.h"
#include "sys/qt_text.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

using text::gbk;
QString shown(const std::string& text) { return text::toQString(text); }

DB_Func::LessonRecord lesson(int day, int hour, const char* className, const char* subject) {
  DB_Func::LessonRecord l;
  l.localId = "offline-202612" + std::to_string(day) + std::to_string(hour) + "0000";
  l.teacherID = "2001";
  l.schoolID = "1001";
  l.gradeName = gbk("一年级");
  l.className = gbk(className);
  l.subjectName = gbk(subject);
  char time[32];
  std::snprintf(time, sizeof time, "2026-12-%02d %02d:05:00", day, hour);
  l.beginTime = time;
  return l;
}

DB_Func::RepairRecord report(int day, const char* detail) {
  DB_Func::RepairRecord r;
  r.schoolID = "1001";
  r.teacherID = "2001";
  r.teacherName = gbk("张伟");
  r.gradeName = gbk("二年级");
  r.className = gbk("二年级（1）班");
  r.faultDetail = gbk(detail);
  char time[32];
  std::snprintf(time, sizeof time, "2026-12-%02d 10:30:00", day);
  r.reportTime = time;
  return r;
}

std::vector<QString> lines(const panels::HistoryList& list) {
  std::vector<QString> result;
  for (const panels::EntryTexts& entry : list.shownEntries()) result.push_back(shown(entry.line));
  return result;
}

class HistoryViews : public ::testing::Test {
 protected:
  void SetUp() override {
    DB_Func::EnsureOwnTables();
    AppHooks = {};
    const std::string assets = testsupport::sourcePath("assets");
    panel = std::make_unique<TForm2>(runningLesson, assets);
    offlineView = std::make_unique<TForm10>(assets, [this] {
      if (sendAll) sendAll();
    });
    repairHistory = std::make_unique<TForm9>();
    panel->setPages({.offline = offlineView.get(), .repairHistory = repairHistory.get()});
  }
  void TearDown() override {
    repairHistory.reset();
    offlineView.reset();
    panel.reset();
    AppHooks = {};
    ClientState = {};
  }

  // The panel as the screen shows it, kept under build/tests/artefacts.
  void keepPicture(const QString& name) {
    const QString file = QDir(QString::fromStdString(testsupport::programDir()))
                             .absoluteFilePath("../tests/artefacts/" + name);
    QDir().mkpath(QFileInfo(file).absolutePath());
    EXPECT_TRUE(panel->grab().save(file)) << file.toStdString();
  }

  storetest::EduDb db;
  Lesson runningLesson;
  std::unique_ptr<TForm2> panel;
  std::unique_ptr<TForm10> offlineView;
  std::function<void()> sendAll;  // what "上传全部离线数据" asks for
  std::unique_ptr<TForm9> repairHistory;
};

TEST_F(HistoryViews, OfflineViewPagesTheWaitingLessonsAndReports) {
  DB_Func::ShotRecord picture;
  picture.filePath = "p.jpg";
  picture.shotTime = "2026-12-01 09:00:00";
  const char* const subjects[] = {"语文", "数学", "科学", "英语", "音乐", "美术", "体育"};
  for (int n = 0; n < 7; ++n) {
    const long long row = DB_Func::AddOfflineLesson(lesson(1 + n, 8 + n, "一年级（1）班", subjects[n]));
    for (int shot = 0; shot < (n == 6 ? 1 : n % 3); ++shot) DB_Func::AddPendingShot(row, picture);
    if (n == 6) DB_Func::LessonDelivered(row, "70010");  // the server has it; its picture still waits
  }
  DB_Func::AddRepairReport(report(5, "投影仪不亮"), DB_Func::kPending);
  DB_Func::AddRepairReport(report(6, "已送达的报修"), DB_Func::kDelivered);  // not waiting: not listed
  panel->setOfflineTabVisible(true);
  panel->switchPage("suiImageButton5");
  panel->show();

  panels::HistoryList& list = *offlineView->list;
  EXPECT_EQ(list.pageCount(), 2);
  EXPECT_EQ(list.pageNumber->text(), "1");
  EXPECT_FALSE(list.previousButton->isEnabled());
  ASSERT_TRUE(list.nextButton->isEnabled());
  const std::vector<panels::EntryTexts> first = list.shownEntries();
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(shown(first[0].line), QStringLiteral("2026-12-07  14:05 周一   一年级 一年级（1）班    体育"));
  EXPECT_EQ(shown(first[0].firstNote), QStringLiteral("离线上课，截图 1 张，待上传 1 张"));
  EXPECT_EQ(shown(first[0].secondNote), QStringLiteral("截图待上传"));
  EXPECT_EQ(shown(first[1].firstNote), QStringLiteral("离线上课，截图 2 张，待上传 2 张"));
  EXPECT_EQ(shown(first[1].secondNote), QStringLiteral("课程待上传"));
  // The report of the 5th stands between that day's lesson and the 4th's.
  EXPECT_EQ(shown(first[2].line), QStringLiteral("2026-12-05  12:05 周六   一年级 一年级（1）班    音乐"));
  EXPECT_EQ(shown(first[3].line),
            QStringLiteral("2026-12-05  10:30 周六   二年级 二年级（1）班    设备报修"));
  EXPECT_EQ(shown(first[3].secondNote), QStringLiteral("报修待上传"));
  EXPECT_EQ(shown(first[4].firstNote), QStringLiteral("离线上课，截图 0 张，待上传 0 张"));
  keepPicture("offline_view_page1.png");

  QTest::mouseClick(list.nextButton, Qt::LeftButton);
  EXPECT_EQ(list.pageNumber->text(), "2");
  EXPECT_EQ(list.shownEntries().size(), 3u);
  EXPECT_TRUE(list.previousButton->isEnabled());
  EXPECT_FALSE(list.nextButton->isEnabled());
  QTest::mouseClick(list.previousButton, Qt::LeftButton);
  EXPECT_EQ(list.pageNumber->text(), "1");

  // The date range keeps only the entries of those days.
  list.fromPicker->setDate(QDate(2026, 12, 2));
  list.toPicker->setDate(QDate(2026, 12, 3));
  QTest::mouseClick(list.rangeButton, Qt::LeftButton);
  EXPECT_EQ(lines(list),
            (std::vector<QString>{QStringLiteral("2026-12-03  10:05 周四   一年级 一年级（1）班    科学"),
                                  QStringLiteral("2026-12-02  09:05 周三   一年级 一年级（1）班    数学")}));
  EXPECT_EQ(list.pageCount(), 1);
}

// "上传全部离线数据" while the server cannot be reached: the view says so
// and every record stays.
TEST_F(HistoryViews, UploadAllWithTheServerDownSaysSoAndKeepsEverything) {
  DB_Func::AddOfflineLesson(lesson(10, 9, "一年级（2）班", "数学"));
  DB_Func::AddRepairReport(report(10, "白板无法触控"), DB_Func::kPending);
  ClientState.serverHost = "127.0.0.1";
  ClientState.serverPort = testsupport::freePort();
  ClientState.serverPath = "/";
  OfflineDelivery delivery;
  sendAll = [&] { delivery.sendAllNow(); };
  QObject::connect(&delivery, &OfflineDelivery::progress, offlineView.get(),
                   [&](int delivered, int waiting) { offlineView->showProgress(delivered, waiting); });
  QObject::connect(&delivery, &OfflineDelivery::roundEnded, offlineView.get(),
                   [&](bool reachable, int delivered, int refused, int waiting) {
                     offlineView->showOutcome(reachable, delivered, refused, waiting);
                   });
  panel->setOfflineTabVisible(true);
  panel->switchPage("suiImageButton5");
  panel->show();
  EXPECT_EQ(offlineView->list->shownEntries().size(), 2u);

  QTest::mouseClick(offlineView->suiImageButton6, Qt::LeftButton);
  const QString outcome = QStringLiteral("无法连接服务器，离线数据已保留，网络恢复后将自动上传。");
  ASSERT_TRUE(testsupport::waitFor([&] { return offlineView->Label_upload->text() == outcome; }));
  EXPECT_EQ(DB_Func::CountPending().lessons, 1);
  EXPECT_EQ(DB_Func::CountPending().repairs, 1);
  EXPECT_EQ(offlineView->list->shownEntries().size(), 2u);
  keepPicture("offline_view_server_down.png");

  // A round that delivers everything reads so.
  offlineView->suiImageButton6Click();
  offlineView->showProgress(1, 1);
  EXPECT_EQ(offlineView->Label_upload->text(), QStringLiteral("正在上传离线数据……已上传 1 项，还剩 1 项"));
  offlineView->showOutcome(true, 2, 0, 0);
  EXPECT_EQ(offlineView->Label_upload->text(), QStringLiteral("全部离线数据已上传。"));
}

TEST_F(HistoryViews, RepairHistoryListsEveryReportNewestFirstWithItsState) {
  const char* const details[] = {"投影仪不亮",
                                 "电脑无法开机",
                                 "音响有杂音\r\n第二行",
                                 "白板无法触控",
                                 "网络时断时续，上课无法打开课件",
                                 "空调漏水",
                                 "话筒没有声音",
                                 "窗帘坏了"};
  for (int n = 0; n < 8; ++n) {
    const long long id = DB_Func::AddRepairReport(report(1 + n, details[n]), DB_Func::kPending);
    if (n < 5) DB_Func::RepairAnswered(id, n == 1 ? DB_Func::kRefused : DB_Func::kDelivered);
  }
  panel->switchPage("suiImageButton9");
  panel->show();
  panels::HistoryList& list = *repairHistory->list;
  EXPECT_EQ(list.pageCount(), 2);
  const std::vector<panels::EntryTexts> first = list.shownEntries();
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(shown(first[0].line),
            QStringLiteral("2026-12-08  10:30 周二   二年级 二年级（1）班    张伟老师"));
  EXPECT_EQ(shown(first[0].firstNote), QStringLiteral("报修情况：窗帘坏了"));
  EXPECT_EQ(shown(first[0].secondNote), QStringLiteral("处理情况：待上报"));
  EXPECT_EQ(first[0].marker, QColor(135, 206, 235));
  EXPECT_EQ(shown(first[3].firstNote), QStringLiteral("报修情况：网络时断时续，上课无…"));
  EXPECT_EQ(shown(first[3].secondNote), QStringLiteral("处理情况：已上报"));
  EXPECT_EQ(first[3].marker, QColor(0, 255, 0));
  EXPECT_EQ(shown(first[5].firstNote), QStringLiteral("报修情况：音响有杂音"));
  keepPicture("repair_history_page1.png");

  QTest::mouseClick(list.nextButton, Qt::LeftButton);
  const std::vector<panels::EntryTexts> second = list.shownEntries();
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(shown(second[0].secondNote), QStringLiteral("处理情况：未受理"));
  keepPicture("repair_history_page2.png");

  QTest::mouseClick(repairHistory->FlatButton4, Qt::LeftButton);
  EXPECT_TRUE(repairHistory->isHidden());
}

}  // namespace
