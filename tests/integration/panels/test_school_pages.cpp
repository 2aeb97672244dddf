// The picker wired to the class-start and repair pages as the program wires
// it: the pages' school and teacher buttons open it over the main panel, and
// a chosen teacher shows on both pages.
#include <QListWidget>
#include <QTest>
#include <QToolButton>

#include "panels/panel_widgets.h"
#include "panels/school.h"
#include "tests/integration/panels/panels_fixture.h"

namespace {

class SchoolPagesTest : public PanelsTest {
 protected:
  void SetUp() override {
    PanelsTest::SetUp();
    picker = std::make_unique<Tform_school>(testsupport::sourcePath("assets"), client,
                                            tellPagesOfChoice(*classStart, *repair));
    classStart->setOpenPicker(picker->opener());
    repair->setOpenPicker(picker->opener());
    signIn();
    // The login also names the teacher's place.
    ClientState.provinceID = "110000";
    ClientState.provinceName = gbk("北京市");
    ClientState.cityID = "110100";
    ClientState.cityName = gbk("北京市");
    ClientState.areaID = "110101";
    ClientState.areaName = gbk("东城区");
    panel->move(300, 40);
    panel->show();
  }

  void TearDown() override {
    picker.reset();
    PanelsTest::TearDown();
  }

  void doubleClick(const char* listName, int row) {
    auto* list = picker->findChild<QListWidget*>(listName);
    ASSERT_NE(list, nullptr);
    ASSERT_LT(row, list->count());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
  }

  static std::string textOf(const QLineEdit* edit) { return text::fromQString(edit->text()); }

  std::unique_ptr<Tform_school> picker;
};

TEST_F(SchoolPagesTest, TeacherChosenFromTheFullListShowsOnBothPagesAndReloadsTheClassStartLists) {
  classStart->Edit_teacher->button()->click();
  ASSERT_TRUE(picker->isVisible());
  EXPECT_EQ(picker->pos(), panel->pos()) << "the picker covers the main panel";
  EXPECT_TRUE(picker->findChild<QWidget*>("suiImagePanel2")->isVisible());

  const size_t sentBefore = server.requests().size();
  doubleClick("LB_teacher", 6);  // "  ●王芳", the full list after three recent rows
  EXPECT_FALSE(picker->isVisible());
  EXPECT_EQ(ClientState.teacherID, "2002");
  EXPECT_EQ(textOf(classStart->Edit_teacher), gbk("王芳"));
  EXPECT_EQ(textOf(classStart->Edit_school), gbk("东城区第一实验小学"));
  EXPECT_EQ(textOf(repair->Edit_teacher), gbk("王芳"));
  EXPECT_EQ(textOf(repair->edit_teacher_phone), "138****2002");
  // The class-start page asks for the school's grades again.
  ASSERT_TRUE(testsupport::waitFor([&] {
    const auto sent = targets();
    return sent.size() > sentBefore && sent.back() == target("getGradeInfo", "&schoolID=1001");
  }));
}

TEST_F(SchoolPagesTest, SchoolChosenOnTheRepairPageMovesBothPagesToIt) {
  callHook(AppHooks.switchPage, std::string("suiImageButton4"));
  repair->Edit_school->button()->click();
  ASSERT_TRUE(picker->isVisible());
  EXPECT_EQ(picker->pos(), panel->pos());
  EXPECT_TRUE(picker->findChild<QWidget*>("suiImagePanel1")->isVisible());

  doubleClick("CL_school", 1);   // 东城区育英中学
  doubleClick("LB_teacher", 1);  // "  - 刘洋", a recent teacher of that school
  EXPECT_FALSE(picker->isVisible());
  EXPECT_EQ(ClientState.schoolID, "1002");
  EXPECT_EQ(ClientState.teacherID, "2004");
  EXPECT_EQ(textOf(repair->Edit_school), gbk("东城区育英中学"));
  EXPECT_EQ(textOf(repair->edit_teacher_phone), "139****2004");
  EXPECT_EQ(textOf(classStart->Edit_school), gbk("东城区育英中学"));
  // A new school: the class-start lists must be those of its grades.
  ASSERT_TRUE(testsupport::waitFor([&] {
    const auto sent = targets();
    return !sent.empty() && sent.back() == target("getGradeInfo", "&schoolID=1002");
  }));
}

TEST_F(SchoolPagesTest, DuringALessonOnlyTheRepairPageOpensThePicker) {
  lesson.start("70001", choice, "2026-03-02 08:05:00");
  classStart->Edit_school->button()->click();
  EXPECT_FALSE(picker->isVisible());
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), gbk("已经开始记时，不能再更换学校。"));

  callHook(AppHooks.switchPage, std::string("suiImageButton4"));
  repair->Edit_teacher->button()->click();
  EXPECT_TRUE(picker->isVisible());
}

}  // namespace
