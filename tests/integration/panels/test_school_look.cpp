// The picker as the teacher sees it: each tab grabbed to a PNG (kept in
// $EDU_SHOT_DIR when set, for a person to look at) and checked at the
// places the window's design fixes: its size and key-colour corners, the
// header band, the tab bar under the current tab and the white pages.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>

#include "panels/school.h"
#include "server/get_client.h"
#include "state/client_state.h"
#include "store/db_func.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

class SchoolLookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The demo's edu.db, copied into a folder of the test's own.
    ASSERT_TRUE(testsupport::seedDemoDatabase(folder_.path().toStdString()));
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(folder_.path().toStdString()));
    ClientState = ClientStateRecord();
    ClientState.provinceID = "110000";
    ClientState.provinceName = text::utf8ToGbk("北京市");
    ClientState.cityID = "110100";
    ClientState.cityName = text::utf8ToGbk("北京市");
    ClientState.areaID = "110101";
    ClientState.areaName = text::utf8ToGbk("东城区");
    ClientState.schoolID = "1001";
    ClientState.schoolName = text::utf8ToGbk("东城区第一实验小学");
    // No server host: the requests end at once and the lists keep the cache.
  }

  void TearDown() override {
    ClientState = ClientStateRecord();
    DB_Func::LocateDatabaseIn(folder_.path().toStdString() + "/none");
  }

  QImage shot(const char* name) {
    // Lists lay their items out on the event loop, as they do on screen.
    QCoreApplication::processEvents();
    const QImage image = picker_.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (const char* keep = std::getenv("EDU_SHOT_DIR")) image.save(QString(keep) + "/" + name);
    return image;
  }

  QTemporaryDir folder_;
  server::GetClient client_;
  Tform_school picker_{testsupport::programDir() + "/assets", client_, [](bool) {}};
};

QColor at(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

TEST_F(SchoolLookTest, BothTabsAtTheirPlacesAndColours) {
  picker_.openAt(1, QPoint(0, 0));
  const QImage school = shot("picker_school_tab.png");
  ASSERT_EQ(school.size(), QSize(360, 600));
  EXPECT_EQ(at(school, 0, 0), QColor(0, 0, 255)) << "corners are cut by the key colour";
  EXPECT_EQ(at(school, 359, 599), QColor(0, 0, 255));
  EXPECT_LT(at(school, 200, 10).blue() - at(school, 200, 50).blue(), 60) << "a gradient, not a jump";
  EXPECT_GT(at(school, 200, 30).blue(), at(school, 200, 30).red()) << "the header is blue";
  EXPECT_EQ(at(school, 40, 56), QColor(99, 196, 238)) << "Shape1 under 学校";
  EXPECT_NE(at(school, 130, 56), QColor(99, 196, 238));
  EXPECT_EQ(at(school, 200, 580), QColor(Qt::white)) << "white page";
  EXPECT_EQ(picker_.findChild<QListWidget*>("CL_school")->count(), 3);

  picker_.findChild<QListWidget*>("CL_school")->setCurrentRow(0);
  picker_.ShowTeacherTab();
  const QImage teacher = shot("picker_teacher_tab.png");
  EXPECT_EQ(at(teacher, 126, 56), QColor(99, 196, 238)) << "Shape1 under 老师";
  EXPECT_NE(at(teacher, 40, 56), QColor(99, 196, 238));
  EXPECT_GT(picker_.findChild<QListWidget*>("LB_teacher")->count(), 1);
}

}  // namespace
