// The school and teacher picker driven by objectName against a real edu.db
// in a temporary folder and the development server: the lists come from the
// cache at once and again after the server's answer, a double-clicked
// teacher commits the whole choice, and without edu.db or without a
// selection nothing happens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QProcess>
#include <QTest>

#include "panels/school.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/db_func.h"
#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::waitFor;

// The cache as a classroom PC might hold it: the district's list lacks a
// school the server has and keeps one it has dropped; school 1001 has one
// teacher left over and misses two; the server's seed has three schools in
// 东城区 and three teachers at 1001.
constexpr char kCacheSql[] = R"sql(
INSERT INTO hat_province VALUES ('110000', '北京市'), ('310000', '上海市');
INSERT INTO hat_city VALUES ('110100', '北京市', '110000'), ('310100', '上海市', '310000');
INSERT INTO hat_area VALUES ('110101', '东城区', '110100'), ('110102', '西城区', '110100'),
                            ('310101', '黄浦区', '310100');
INSERT INTO t_school VALUES ('s1', '1001', '东城区第一实验小学 ', '110101'),
                            ('s2', '1003', '东城区明德小学 ', '110101'),
                            ('s3', '1099', '已撤并学校 ', '110101');
INSERT INTO t_teacher VALUES ('t1', '2001', '张伟 ', '13810012001 ', '1001', 'zw', ''),
                             ('t2', '2099', '离职老师 ', '13800000000 ', '1001', 'lz', '');
INSERT INTO t_recent_list VALUES ('2001', '张伟 ', '13810012001 ', '1001', '2024-03-02 08:00:00'),
                                 ('2002', '王芳 ', '13810012002 ', '1001', '2024-03-01 08:00:00');
)sql";

using text::gbk;

std::vector<std::string> texts(const QListWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

std::vector<std::string> texts(const QComboBox* combo) {
  std::vector<std::string> out;
  for (int i = 0; i < combo->count(); ++i) out.push_back(combo->itemText(i).toStdString());
  return out;
}

std::string selectedText(const QListWidget* list) {
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? std::string() : selected.front()->text().toStdString();
}

// What the user's pick in a drop-down list does: the item becomes current
// and the combo reports it as activated.
void choose(QComboBox* combo, const char* name) {
  const int index = combo->findText(QString::fromUtf8(name));
  ASSERT_GE(index, 0) << name;
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

void doubleClick(QListWidget* list, int row) {
  const QPoint at = row >= 0 ? list->visualItemRect(list->item(row)).center() : QPoint(5, list->height() - 5);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void releaseOn(QWidget* tab) { QTest::mouseClick(tab, Qt::LeftButton); }

class SchoolPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    ASSERT_TRUE(makeDatabase(kCacheSql));
    ASSERT_TRUE(server_.running());
    client_.setServer(server_.host(), server_.port());

    ClientState = ClientStateRecord();
    ClientState.serverPath = "/";
    ClientState.provinceID = "110000";
    ClientState.provinceName = gbk("北京市");
    ClientState.cityID = "110100";
    ClientState.cityName = gbk("北京市");
    ClientState.areaID = "110101";
    ClientState.areaName = gbk("东城区");
    ClientState.schoolID = "1001";
    ClientState.schoolName = gbk("东城区第一实验小学");
    ClientState.teacherID = "2001";
    ClientState.teacherName = gbk("张伟");
    ClientState.teacherPhone = "13810012001";

    AppHooks = AppHooksTable();
    AppHooks.appendLog = [this](const std::string& line) { log_.push_back(text::gbkToUtf8(line)); };
  }

  void TearDown() override {
    AppHooks = AppHooksTable();
    ClientState = ClientStateRecord();
    DB_Func::LocateDatabaseIn(folder_.path().toStdString() + "/none");
  }

  bool makeDatabase(const char* cacheSql) {
    const std::string seed = folder_.path().toStdString() + "/cache.sql";
    if (!testsupport::writeFile(seed, cacheSql)) return false;
    QProcess sqlite;
    sqlite.start("sqlite3",
                 {"-bail", folder_.path() + "/edu.db",
                  QString::fromStdString(".read '" + testsupport::sourcePath("store/schema.sql") + "'"),
                  QString::fromStdString(".read '" + seed + "'")});
    if (!sqlite.waitForFinished(30000) || sqlite.exitCode() != 0) return false;
    return DB_Func::LocateDatabaseIn(folder_.path().toStdString());
  }

  // Waits until the handler of `prefix` ("Tform_school.getSchool : ") has
  // logged `count` replies in all.
  bool waitForReplies(const std::string& prefix, size_t count) {
    return waitFor([&] {
      return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const std::string& line) {
               return line.starts_with(prefix);
             })) >= count;
    });
  }

  std::string lastTarget() const {
    const auto requests = server_.requests();
    return requests.empty() ? std::string() : requests.back().target;
  }

  static std::string areaTarget(const std::string& type, const std::string& id) {
    return "/clientInterface-getAreaData?appKey=" + std::string(HttpUrl::kAppKey) + "&type=" + type +
           "&id=" + id;
  }

  QTemporaryDir folder_;
  testsupport::DevServerProcess server_;
  server::GetClient client_;
  Tform_school picker_{testsupport::programDir() + "/assets", client_, [this](bool reloadLists) {
                         ++teacherChanged_;
                         if (reloadLists) ++classStartRefreshed_;
                       }};
  std::vector<std::string> log_;
  int teacherChanged_ = 0;
  int classStartRefreshed_ = 0;
};

template <typename T>
T* control(QWidget& window, const char* name) {
  T* found = window.findChild<T*>(name);
  EXPECT_NE(found, nullptr) << name;
  return found;
}

TEST_F(SchoolPickerTest, SchoolTabShowsTheSignedInPlaceAndRefillsAfterTheAnswer) {
  picker_.openAt(1, QPoint(100, 50));
  auto* provinces = control<QComboBox>(picker_, "CB_shen_name");
  auto* cities = control<QComboBox>(picker_, "CB_shi_name");
  auto* districts = control<QComboBox>(picker_, "CB_qu_name");
  auto* schools = control<QListWidget>(picker_, "CL_school");

  EXPECT_EQ(picker_.pos(), QPoint(100, 50));
  EXPECT_TRUE(control<QWidget>(picker_, "suiImagePanel1")->isVisible());
  EXPECT_FALSE(control<QWidget>(picker_, "suiImagePanel2")->isVisible());
  EXPECT_EQ(control<QWidget>(picker_, "Shape1")->x(), 30);
  EXPECT_EQ(texts(provinces), (std::vector<std::string>{"北京市", "上海市"}));
  EXPECT_EQ(provinces->currentText().toStdString(), "北京市");
  EXPECT_EQ(cities->currentText().toStdString(), "北京市");
  EXPECT_EQ(texts(districts), (std::vector<std::string>{"东城区", "西城区"}));
  EXPECT_EQ(districts->currentText().toStdString(), "东城区");
  // From the cache at once, the signed-in school selected.
  EXPECT_EQ(texts(schools), (std::vector<std::string>{"东城区第一实验小学", "东城区明德小学", "已撤并学校"}));
  EXPECT_EQ(selectedText(schools), "东城区第一实验小学");

  // The teacher picks another school before the answer is in; the answer
  // replaces the district's cached schools and the pick survives the refill.
  schools->setCurrentRow(1);
  ASSERT_TRUE(waitForReplies("Tform_school.getSchool : ", 1));
  EXPECT_EQ(lastTarget(), areaTarget("4", "110101"));
  EXPECT_EQ(texts(schools),
            (std::vector<std::string>{"东城区第一实验小学", "东城区育英中学", "东城区明德小学"}));
  EXPECT_EQ(selectedText(schools), "东城区明德小学");
  EXPECT_EQ(DB_Func::QuerySchools("110101").rowCount(), 3u);
  EXPECT_EQ(ClientState.schoolID, "1001") << "nothing is committed before a teacher is chosen";
}

TEST_F(SchoolPickerTest, ChoosingProvinceCityAndDistrictWalksDownTheCache) {
  picker_.openAt(1, QPoint(0, 0));
  auto* provinces = control<QComboBox>(picker_, "CB_shen_name");
  auto* cities = control<QComboBox>(picker_, "CB_shi_name");
  auto* districts = control<QComboBox>(picker_, "CB_qu_name");
  auto* schools = control<QListWidget>(picker_, "CL_school");
  ASSERT_TRUE(waitForReplies("Tform_school.getSchool : ", 1));

  choose(provinces, "上海市");
  EXPECT_EQ(texts(cities), (std::vector<std::string>{"上海市"}));
  EXPECT_EQ(cities->currentIndex(), -1);
  EXPECT_EQ(districts->count(), 0);
  EXPECT_EQ(schools->count(), 0);

  choose(cities, "上海市");
  EXPECT_EQ(texts(districts), (std::vector<std::string>{"黄浦区"}));
  EXPECT_EQ(districts->currentIndex(), -1);

  choose(provinces, "北京市");
  choose(cities, "北京市");
  choose(districts, "西城区");
  // No cached schools for 西城区 and none on the server: an empty list.
  EXPECT_EQ(schools->count(), 0);
  ASSERT_TRUE(waitForReplies("Tform_school.getSchool : ", 2));
  EXPECT_EQ(lastTarget(), areaTarget("4", "110102"));
  EXPECT_EQ(schools->count(), 0);

  choose(districts, "东城区");
  EXPECT_EQ(schools->count(), 3);
  EXPECT_EQ(selectedText(schools), "东城区第一实验小学");
}

TEST_F(SchoolPickerTest, TeacherTabListsRecentAndAllTeachersAndKeepsAPickOverTheRefill) {
  picker_.openAt(0, QPoint(0, 0));
  auto* teachers = control<QListWidget>(picker_, "LB_teacher");
  EXPECT_TRUE(control<QWidget>(picker_, "suiImagePanel2")->isVisible());
  EXPECT_FALSE(control<QWidget>(picker_, "suiImagePanel1")->isVisible());
  EXPECT_EQ(control<QWidget>(picker_, "Shape1")->x(), 116);
  EXPECT_EQ(control<QComboBox>(picker_, "CB_shen_name")->count(), 0) << "the school tab was not filled";

  // From the cache at once, the full list by acronym.
  EXPECT_EQ(texts(teachers),
            (std::vector<std::string>{"最近登录过的老师", "  - 张伟 [138****2001]", "  - 王芳 [138****2002]",
                                      "全部老师", "  ●离职老师 [138****0000]", "  ●张伟 [138****2001]"}));
  teachers->setCurrentRow(5);  // picked before the answer is in
  ASSERT_TRUE(waitForReplies("Tform_school.getTeacher : ", 1));
  EXPECT_EQ(lastTarget(), areaTarget("5", "1001"));
  const std::vector<std::string> refreshed = {
      "最近登录过的老师",      "  - 张伟 [138****2001]", "  - 王芳 [138****2002]", "全部老师",
      "  ●李娜 [138****2003]", "  ●王芳 [138****2002]",  "  ●张伟 [138****2001]"};
  EXPECT_EQ(texts(teachers), refreshed);
  EXPECT_EQ(selectedText(teachers), "  ●张伟 [138****2001]");
  EXPECT_EQ(DB_Func::QueryTeachers("1001").rowCount(), 3u);

  // Filling the school tab chooses a school there, so the teacher list is
  // built again for it; once built, the tab only shows it.
  releaseOn(control<QWidget>(picker_, "suiImageButton2"));
  EXPECT_TRUE(control<QWidget>(picker_, "suiImagePanel1")->isVisible());
  ASSERT_TRUE(waitForReplies("Tform_school.getSchool : ", 1));
  releaseOn(control<QWidget>(picker_, "suiImageButton3"));
  ASSERT_TRUE(waitForReplies("Tform_school.getTeacher : ", 2));
  EXPECT_EQ(lastTarget(), areaTarget("5", "1001"));
  releaseOn(control<QWidget>(picker_, "suiImageButton2"));
  releaseOn(control<QWidget>(picker_, "suiImageButton3"));
  EXPECT_TRUE(control<QWidget>(picker_, "suiImagePanel2")->isVisible());
  EXPECT_FALSE(client_.timeoutRunning()) << "no new request";
  EXPECT_EQ(texts(teachers), refreshed);
}

TEST_F(SchoolPickerTest, TeacherOfTheFullListCommitsDistrictSchoolAndTeacher) {
  picker_.openAt(1, QPoint(0, 0));
  auto* schools = control<QListWidget>(picker_, "CL_school");
  auto* teachers = control<QListWidget>(picker_, "LB_teacher");
  doubleClick(schools, 1);  // 东城区明德小学
  EXPECT_TRUE(control<QWidget>(picker_, "suiImagePanel2")->isVisible());
  EXPECT_EQ(texts(teachers), (std::vector<std::string>{}));
  // Choosing the school dropped the district request; the teachers' answer
  // refills the list (no recent rows, so no recent heading).
  ASSERT_TRUE(waitForReplies("Tform_school.getTeacher : ", 1));
  EXPECT_EQ(lastTarget(), areaTarget("5", "1003"));
  ASSERT_EQ(texts(teachers), (std::vector<std::string>{"全部老师", "  ●欧阳晓明 [137****2006]"}));

  doubleClick(teachers, 1);
  EXPECT_FALSE(picker_.isVisible());
  EXPECT_EQ(ClientState.teacherID, "2006");
  EXPECT_EQ(ClientState.teacherName, gbk("欧阳晓明"));
  EXPECT_EQ(ClientState.teacherPhone, "13710032006");
  EXPECT_EQ(ClientState.schoolID, "1003");
  EXPECT_EQ(ClientState.schoolName, gbk("东城区明德小学"));
  EXPECT_EQ(ClientState.areaID, "110101");
  EXPECT_EQ(ClientState.areaName, gbk("东城区"));
  EXPECT_EQ(ClientState.provinceName, gbk("北京市"));
  EXPECT_EQ(teacherChanged_, 1);
  EXPECT_EQ(classStartRefreshed_, 1);
}

TEST_F(SchoolPickerTest, RecentTeacherOfTheSameSchoolCommitsWithoutReloadingTheClassStartPage) {
  picker_.openAt(0, QPoint(0, 0));
  auto* teachers = control<QListWidget>(picker_, "LB_teacher");
  doubleClick(teachers, 2);  // "  - 王芳"
  EXPECT_FALSE(picker_.isVisible());
  EXPECT_EQ(ClientState.teacherID, "2002");
  EXPECT_EQ(ClientState.teacherName, gbk("王芳"));
  EXPECT_EQ(ClientState.teacherPhone, "13810012002");
  EXPECT_EQ(ClientState.schoolID, "1001");
  EXPECT_EQ(ClientState.areaName, gbk("东城区")) << "the school tab was never filled, so the place stays";
  EXPECT_EQ(teacherChanged_, 1);
  EXPECT_EQ(classStartRefreshed_, 0);
}

TEST_F(SchoolPickerTest, RecentTeacherOfAnotherSchoolReloadsTheClassStartPage) {
  // The class-start lists are of school 1003; a recent teacher of 1001
  // moves the lesson to 1001, whose grades the page must load.
  ClientState.schoolID = "1003";
  ClientState.schoolName = gbk("东城区明德小学");
  picker_.openAt(1, QPoint(0, 0));
  doubleClick(control<QListWidget>(picker_, "CL_school"), 0);
  doubleClick(control<QListWidget>(picker_, "LB_teacher"), 1);  // "  - 张伟"
  EXPECT_EQ(ClientState.schoolID, "1001");
  EXPECT_EQ(ClientState.teacherID, "2001");
  EXPECT_EQ(classStartRefreshed_, 1);
}

TEST_F(SchoolPickerTest, CloseButtonHeadingsAndNoSelectionCommitNothing) {
  picker_.openAt(0, QPoint(0, 0));
  auto* teachers = control<QListWidget>(picker_, "LB_teacher");
  const ClientStateRecord before = ClientState;

  doubleClick(teachers, -1);  // an empty place, nothing selected
  doubleClick(teachers, 0);   // the recent heading
  doubleClick(teachers, -1);  // an empty place with the heading selected
  doubleClick(teachers, 3);   // the full-list heading
  EXPECT_TRUE(picker_.isVisible());

  QTest::mouseClick(control<QWidget>(picker_, "suiImageButton1"), Qt::LeftButton);
  EXPECT_FALSE(picker_.isVisible());
  EXPECT_EQ(ClientState.teacherID, before.teacherID);
  EXPECT_EQ(ClientState.schoolID, before.schoolID);
  EXPECT_EQ(ClientState.areaID, before.areaID);
  EXPECT_EQ(teacherChanged_, 0);
  EXPECT_EQ(classStartRefreshed_, 0);

  // Reopened, the picker starts from empty lists again.
  picker_.openAt(1, QPoint(0, 0));
  EXPECT_EQ(teachers->count(), 0);
  EXPECT_EQ(control<QListWidget>(picker_, "CL_school")->count(), 3);
}

TEST_F(SchoolPickerTest, NoSchoolChosenAfterTheSchoolTabMeansNoTeachersAndNoCachePollution) {
  ClientState.schoolName = gbk("别的学校");  // not in the shown district
  picker_.openAt(1, QPoint(0, 0));
  EXPECT_TRUE(selectedText(control<QListWidget>(picker_, "CL_school")).empty());
  releaseOn(control<QWidget>(picker_, "suiImageButton3"));
  auto* teachers = control<QListWidget>(picker_, "LB_teacher");
  EXPECT_EQ(teachers->count(), 0);
  EXPECT_EQ(client_.lastPathAndQuery(), areaTarget("5", ""));

  // An answer with records for that request must not be cached under no
  // school, where every later answer would add the same rows again.
  picker_.getTeacher(
      "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"success\",\"jsonData\":[{\"id\":\"7\",\"userName\":\"x\"}]}");
  EXPECT_EQ(DB_Func::QueryTeachers("").rowCount(), 0u);
  EXPECT_EQ(teachers->count(), 0);
}

TEST_F(SchoolPickerTest, UnreachableServerLeavesTheCachedListsAndLogsTheFailure) {
  client_.setServer("127.0.0.1", testsupport::freePort());
  picker_.openAt(0, QPoint(0, 0));
  ASSERT_TRUE(waitForReplies("Tform_school.getTeacher : ", 2));
  EXPECT_EQ(log_.back(), "Tform_school.getTeacher :   无法访问服务器！");
  EXPECT_EQ(control<QListWidget>(picker_, "LB_teacher")->count(), 6);

  releaseOn(control<QWidget>(picker_, "suiImageButton2"));
  ASSERT_TRUE(waitForReplies("Tform_school.getSchool : ", 2));
  EXPECT_EQ(log_.back(), "Tform_school.getSchool : 无法访问服务器！");
  EXPECT_EQ(control<QListWidget>(picker_, "CL_school")->count(), 3);
}

TEST_F(SchoolPickerTest, WithoutEduDbEveryListStaysEmptyAndNothingIsAsked) {
  ASSERT_FALSE(DB_Func::LocateDatabaseIn(folder_.path().toStdString() + "/none"));
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode);
    picker_.openAt(mode, QPoint(0, 0));
    releaseOn(control<QWidget>(picker_, "suiImageButton3"));
    doubleClick(control<QListWidget>(picker_, "LB_teacher"), -1);
    releaseOn(control<QWidget>(picker_, "suiImageButton2"));
    doubleClick(control<QListWidget>(picker_, "CL_school"), -1);
    EXPECT_EQ(control<QComboBox>(picker_, "CB_shen_name")->count(), 0);
    EXPECT_EQ(control<QListWidget>(picker_, "CL_school")->count(), 0);
    EXPECT_EQ(control<QListWidget>(picker_, "LB_teacher")->count(), 0);
    EXPECT_TRUE(picker_.isVisible());
  }
  EXPECT_TRUE(client_.lastPathAndQuery().empty());
  EXPECT_EQ(ClientState.teacherID, "2001");
  EXPECT_EQ(teacherChanged_, 0);
}

TEST_F(SchoolPickerTest, DragsFromItsSurfaceButNotFromTheSmallExemptArea) {
  picker_.openAt(1, QPoint(200, 100));
  const auto drag = [&](QPoint from) {
    picker_.move(200, 100);
    QTest::mousePress(&picker_, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(30, 20)),
                     picker_.mapToGlobal(from + QPoint(30, 20)), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&picker_, &move);
    QTest::mouseRelease(&picker_, Qt::LeftButton, {}, from + QPoint(30, 20));
    return picker_.pos() - QPoint(200, 100);
  };
  EXPECT_EQ(drag(QPoint(250, 12)), QPoint(30, 20));
  EXPECT_EQ(drag(QPoint(245, 60)), QPoint(0, 0));
}

}  // namespace
