// The main panel alone: its window, the page switch with every key, the
// tabs and their bars, the close button and the checks on dropped files.
// The pages are the real windows; nothing here reaches a server or edu.db
// (the panel stays hidden, so no page refreshes itself).
#include <gtest/gtest.h>

#include <QBitmap>
#include <QDropEvent>
#include <QEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QUrl>
#include <map>
#include <memory>

#include "panels/Unit10.h"
#include "panels/Unit9.h"
#include "panels/mainform.h"
#include "panels/panel_hooks.h"
#include "panels/panel_widgets.h"
#include "panels/sbbx.h"
#include "panels/school_widgets.h"
#include "panels/skjs.h"
#include "server/get_client.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/qt_text.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

using text::gbk;

class MainPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClientState = {};
    AppHooks = {};
    AppHooks.uploading = [this] { return uploading; };
    AppHooks.queuedCount = [this] { return queued; };
    AppHooks.copyAndAdd = [this](const std::string& path) {
      copied.push_back(path);
      ++queued;
    };
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });

    const std::string assets = testsupport::sourcePath("assets");
    panel = std::make_unique<TForm2>(lesson, assets);
    // Pages are made after the panel and go before it, as in the program.
    classStart = std::make_unique<Tform_skjs>(client, lesson, choice, assets);
    fileChoice = std::make_unique<QWidget>();
    repair =
        std::make_unique<Tform_sbbx>(client, lesson, choice, assets, panels::defaultDeploymentSettings());
    offline = std::make_unique<TForm10>(assets, [] {});
    uploadQueue = std::make_unique<QWidget>();
    history = std::make_unique<TForm9>();
    panel->setPages({.classStart = classStart.get(),
                     .fileChoice = fileChoice.get(),
                     .repair = repair.get(),
                     .offline = offline.get(),
                     .uploadQueue = uploadQueue.get(),
                     .repairHistory = history.get(),
                     .refreshQueueRows = [this] { ++queueRefreshes; }});
    installPanelHooks(*panel);
  }

  void TearDown() override {
    history.reset();
    uploadQueue.reset();
    offline.reset();
    repair.reset();
    fileChoice.reset();
    classStart.reset();
    panel.reset();
    ui::setMessageSink({});
    AppHooks = {};
  }

  // The page on top of the page area: the last shown child.
  QWidget* topPage() const {
    QWidget* top = nullptr;
    for (QObject* child : panel->suiImagePanel2->children()) {
      auto* widget = qobject_cast<QWidget*>(child);
      if (widget && !widget->isHidden()) top = widget;
    }
    return top;
  }

  SchoolTabButton* tab(const char* name) const { return panel->findChild<SchoolTabButton*>(name); }

  // A lesson runs while the teacher drops files.
  void setLessonRunning(bool running) {
    if (running && !lesson.running()) lesson.start("1", choice, "2026-03-02 08:05:00");
    if (!running) lesson.stop();
  }

  server::GetClient client;
  Lesson lesson;
  LessonChoice choice;
  std::unique_ptr<TForm2> panel;
  std::unique_ptr<Tform_skjs> classStart;
  std::unique_ptr<QWidget> fileChoice;
  std::unique_ptr<Tform_sbbx> repair;
  std::unique_ptr<TForm10> offline;
  std::unique_ptr<QWidget> uploadQueue;
  std::unique_ptr<TForm9> history;

  bool uploading = false;
  int queued = 0;
  int queueRefreshes = 0;
  std::vector<std::string> copied;
  std::vector<std::string> messages;
};

TEST_F(MainPanelTest, WindowIsABorderlessToolWindowShapedByItsPicture) {
  const Qt::WindowFlags flags = panel->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::Tool));
  EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(panel->size(), QSize(360, 600));
  // The rounded corners are key colour and cut away; the body stays.
  EXPECT_FALSE(panel->mask().contains(QPoint(0, 0)));
  EXPECT_FALSE(panel->mask().contains(QPoint(359, 599)));
  EXPECT_TRUE(panel->mask().contains(QPoint(180, 300)));
  EXPECT_TRUE(panel->mask().contains(QPoint(0, 300)));

  EXPECT_EQ(panel->Label1->text(), QStringLiteral("教学设备管理客户端 v5.0.33"));
  EXPECT_EQ(panel->Label1->pos(), QPoint(8, 3));
  const struct {
    const char* name;
    QRect geometry;
    const char* caption;
  } tabs[] = {{"suiImageButton2", QRect(26, 28, 73, 25), "设备计时"},
              {"suiImageButton3", QRect(108, 28, 79, 25), "课件上传"},
              {"suiImageButton4", QRect(188, 28, 79, 25), "设备报修"},
              {"suiImageButton5", QRect(266, 28, 79, 25), "离线上传"}};
  for (const auto& expected : tabs) {
    SCOPED_TRACE(expected.name);
    ASSERT_NE(tab(expected.name), nullptr);
    EXPECT_EQ(tab(expected.name)->geometry(), expected.geometry);
    EXPECT_EQ(tab(expected.name)->text(), QString::fromUtf8(expected.caption));
  }
  EXPECT_TRUE(tab("suiImageButton5")->isHidden());
  EXPECT_EQ(panel->suiImageButton1->geometry(), QRect(336, 4, 16, 15));
  EXPECT_EQ(panel->Shape1->geometry(), QRect(32, 54, 65, 5));
  EXPECT_EQ(panel->Shape1->color(), QColor(99, 196, 238));
  EXPECT_TRUE(panel->Shape2->isHidden());
  EXPECT_EQ(panel->Shape2->height(), 3);
  EXPECT_EQ(panel->suiImagePanel2->geometry(), QRect(2, 61, 355, 536));
}

TEST_F(MainPanelTest, SwitchPageHostsEachKeysPageAndMovesTheBar) {
  const struct {
    const char* from;
    const char* key;
    int queued;
    const char* expectedKey;
    int expectedBarX;  // -1: the bar stays where `from` put it
  } cases[] = {
      {"suiImageButton4", "suiImageButton2", 0, "suiImageButton2", 32},
      {"suiImageButton2", "suiImageButton3", 0, "suiImageButton3", 114},
      {"suiImageButton2", "suiImageButton3", 2, "suiImageButton6", 114},
      {"suiImageButton2", "suiImageButton4", 0, "suiImageButton4", 194},
      {"suiImageButton2", "suiImageButton5", 0, "suiImageButton5", 272},
      {"suiImageButton2", "suiImageButton6", 0, "suiImageButton6", 114},
      {"suiImageButton4", "suiImageButton7", 0, "suiImageButton7", -1},
      {"suiImageButton4", "suiImageButton9", 0, "suiImageButton9", -1},
      {"suiImageButton4", "suiImageButton8", 0, "suiImageButton4", -1},
  };
  const std::map<std::string, QWidget*> pageOfKey = {
      {"suiImageButton2", classStart.get()},  {"suiImageButton3", fileChoice.get()},
      {"suiImageButton4", repair.get()},      {"suiImageButton5", offline.get()},
      {"suiImageButton6", uploadQueue.get()}, {"suiImageButton9", history.get()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.key + " with " + std::to_string(c.queued) + " queued");
    queued = 0;
    panel->switchPage(c.from);
    const int barBefore = panel->Shape1->x();
    QWidget* pageBefore = topPage();
    queued = c.queued;
    const int refreshesBefore = queueRefreshes;

    panel->switchPage(c.key);

    EXPECT_EQ(panel->currentPageKey(), c.expectedKey);
    EXPECT_EQ(callHook(AppHooks.currentPageKey), c.expectedKey);
    EXPECT_EQ(panel->Shape1->x(), c.expectedBarX < 0 ? barBefore : c.expectedBarX);
    const auto page = pageOfKey.find(c.expectedKey);
    QWidget* expectedTop = page == pageOfKey.end() ? pageBefore : page->second;
    EXPECT_EQ(topPage(), expectedTop);
    if (page != pageOfKey.end()) {
      EXPECT_FALSE(expectedTop->isWindow());
      EXPECT_EQ(expectedTop->geometry(), panel->suiImagePanel2->rect());
    }
    EXPECT_EQ(queueRefreshes - refreshesBefore, std::string(c.expectedKey) == "suiImageButton6" ? 1 : 0);
  }
  // Pages shown earlier stay in the page area beneath the current one.
  EXPECT_FALSE(classStart->isHidden());
  EXPECT_FALSE(repair->isHidden());
}

TEST_F(MainPanelTest, SwitchingToAPageWritesOnlyTheKnownSchoolAndTeacher) {
  ClientState.schoolName = gbk("东城区第一实验小学");
  for (const char* key : {"suiImageButton2", "suiImageButton4"}) panel->switchPage(key);
  EXPECT_EQ(classStart->Edit_school->text(), QStringLiteral("东城区第一实验小学"));
  EXPECT_EQ(classStart->Edit_teacher->text(), QStringLiteral("请选择老师"));
  EXPECT_EQ(repair->Edit_school->text(), QStringLiteral("东城区第一实验小学"));
  EXPECT_EQ(repair->Edit_teacher->text(), QStringLiteral("请选择老师"));

  ClientState.teacherName = gbk("张伟");
  panel->switchPage("suiImageButton2");
  EXPECT_EQ(classStart->Edit_teacher->text(), QStringLiteral("张伟"));
  EXPECT_EQ(repair->Edit_teacher->text(), QStringLiteral("请选择老师"));
}

TEST_F(MainPanelTest, HoverBarFollowsTheMouseAndAClickSwitches) {
  panel->switchPage("suiImageButton2");
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(tab("suiImageButton4"), &enter);
  EXPECT_FALSE(panel->Shape2->isHidden());
  EXPECT_EQ(panel->Shape2->geometry(), QRect(194, 56, 65, 3));
  EXPECT_EQ(panel->Shape1->x(), 32);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(tab("suiImageButton4"), &leave);
  EXPECT_TRUE(panel->Shape2->isHidden());

  QTest::mouseClick(tab("suiImageButton4"), Qt::LeftButton);
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton4");
  EXPECT_EQ(panel->Shape1->x(), 194);

  // With files queued the courseware tab shows the queue, under its own tab.
  queued = 1;
  QTest::mouseClick(tab("suiImageButton3"), Qt::LeftButton);
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton6");
  EXPECT_EQ(panel->Shape1->x(), 114);
  EXPECT_EQ(topPage(), uploadQueue.get());
}

TEST_F(MainPanelTest, FirstActivationSelectsTheClassStartPageAndLaterOnesDoNot) {
  panel->FormActivate();
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton2");
  EXPECT_EQ(topPage(), classStart.get());
  EXPECT_EQ(panel->Label1->text(), QStringLiteral("教学设备管理客户端 v5.0.33"));

  panel->switchPage("suiImageButton4");
  panel->FormActivate();
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton4");
}

TEST_F(MainPanelTest, CloseButtonHidesThePanelAndKeepsItsPage) {
  // A page that does not refresh itself on showing: no edu.db here.
  callHook(AppHooks.switchPage, std::string("suiImageButton9"));
  panel->show();
  ASSERT_TRUE(panel->isVisible());
  QTest::mouseClick(panel->suiImageButton1, Qt::LeftButton);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton9");
  EXPECT_FALSE(history->isHidden());
}

TEST_F(MainPanelTest, DraggingFromTheSurfaceMovesThePanelExceptInTheSmallRectangle) {
  auto drag = [this](QPoint at, QPoint by) {
    const QPoint start = panel->pos();
    QMouseEvent press(QEvent::MouseButtonPress, at, panel->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &press);
    QMouseEvent move(QEvent::MouseMove, at + by, panel->mapToGlobal(at) + by, Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &move);
    QMouseEvent release(QEvent::MouseButtonRelease, at + by, panel->mapToGlobal(at) + by, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(panel.get(), &release);
    return panel->pos() - start;
  };
  panel->move(300, 200);
  EXPECT_EQ(drag(QPoint(200, 10), QPoint(40, 25)), QPoint(40, 25));
  EXPECT_EQ(drag(QPoint(240, 58), QPoint(-20, 5)), QPoint(-20, 5));
  EXPECT_EQ(drag(QPoint(241, 55), QPoint(30, 30)), QPoint(0, 0));
  EXPECT_EQ(drag(QPoint(250, 68), QPoint(30, 30)), QPoint(0, 0));
  EXPECT_EQ(drag(QPoint(251, 60), QPoint(30, 30)), QPoint(30, 30));
}

TEST_F(MainPanelTest, DroppedFilesAreCheckedInOrderBeforeAnyIsQueued) {
  const std::string noLesson = gbk("请先开始记时后，再上传课件！！！");
  const std::string busy = gbk("正在上传课件，请稍等！！！");
  const std::string tooMany = gbk("一次最多上传5个文件！！！");
  const struct {
    const char* name;
    bool lesson;
    bool uploading;
    const char* key;
    int queued;
    int files;
    std::string message;  // empty: none
    int copied;
    const char* keyAfter;
  } cases[] = {
      {"no lesson, even on the repair tab", false, false, "suiImageButton4", 0, 1, noLesson, 0,
       "suiImageButton4"},
      {"no lesson comes before uploading", false, true, "suiImageButton3", 0, 1, noLesson, 0,
       "suiImageButton3"},
      {"uploading", true, true, "suiImageButton6", 1, 1, busy, 0, "suiImageButton6"},
      {"repair tab ignores the drop", true, false, "suiImageButton4", 0, 1, "", 0, "suiImageButton4"},
      {"three queued and three more", true, false, "suiImageButton6", 3, 3, tooMany, 0, "suiImageButton6"},
      {"three queued and two more", true, false, "suiImageButton6", 3, 2, "", 2, "suiImageButton6"},
      {"file-choice page moves on to the queue", true, false, "suiImageButton3", 0, 2, "", 2,
       "suiImageButton6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    queued = 0;
    panel->switchPage(c.key);
    setLessonRunning(c.lesson);
    uploading = c.uploading;
    queued = c.queued;
    messages.clear();
    copied.clear();
    std::vector<std::string> paths;
    for (int i = 0; i < c.files; ++i) paths.push_back("/tmp/file" + std::to_string(i) + ".ppt");

    panel->dropFiles(paths);

    EXPECT_EQ(messages, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    EXPECT_EQ(copied, c.copied ? paths : std::vector<std::string>{});
    EXPECT_EQ(panel->currentPageKey(), c.keyAfter);
  }
}

// The desktop hands dropped files only to a window that takes drops (what
// the message filter opens elsewhere), and only a drag that carries a local
// file is taken.
TEST_F(MainPanelTest, ADesktopDropHandsOverLocalFilesAsClientText) {
  setLessonRunning(true);
  panel->switchPage("suiImageButton3");
  EXPECT_TRUE(panel->acceptDrops());
  QMimeData webOnly;
  webOnly.setUrls({QUrl("https://example.org/page.html")});
  QDragEnterEvent refused(QPoint(100, 300), Qt::CopyAction, &webOnly, Qt::LeftButton, Qt::NoModifier);
  refused.ignore();
  QApplication::sendEvent(panel.get(), &refused);
  EXPECT_FALSE(refused.isAccepted());
  QTemporaryDir dir;
  const QString first = dir.filePath(QStringLiteral("第一课 课件.pptx"));
  const QString second = dir.filePath(QStringLiteral("练习.docx"));
  auto data = std::make_unique<QMimeData>();
  data->setUrls(
      {QUrl::fromLocalFile(first), QUrl("https://example.org/page.html"), QUrl::fromLocalFile(second)});

  QDragEnterEvent enter(QPoint(100, 300), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(panel.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 300), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(panel.get(), &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(testsupport::waitFor([&] { return copied.size() == 2; }, 5000));
  EXPECT_EQ(copied, (std::vector<std::string>{text::fromQString(first), text::fromQString(second)}));
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton6");
}

}  // namespace
