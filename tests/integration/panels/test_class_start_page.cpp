// The class-start page in the main panel, against a real edu.db and the
// development server: lists filled from the cache at once and again after
// the server's answer, the lesson start, the refusals while a lesson runs,
// the fill rules, and the login and logout writes.
#include <QDateTime>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include "panels/panel_widgets.h"
#include "store/connection.h"
#include "tests/integration/panels/panels_fixture.h"
#include "ui/event_guard.h"

namespace {

using ClassStartPage = PanelsTest;

TEST_F(ClassStartPage, PickingGradeClassAndSubjectThenStartingALesson) {
  addStaleRow("t_grade", "grade_id", "grade_name", "school_id", "3999", "旧年级 ", "1001");
  addStaleRow("t_class", "class_id", "class_name", "grade_id", "4999", "旧班级 ", "3001");
  addStaleRow("t_subject", "subject_id", "subject_name", "grade_id", "5999", "旧学科 ", "3001");
  signIn();
  for (int i = 0; i < 6; ++i) lesson.countScreenshot();  // an earlier lesson's pictures

  // Showing the panel on this page refreshes it: cached grades at once...
  panel->show();
  EXPECT_EQ(classStart->Edit_school->text(), QStringLiteral("东城区第一实验小学"));
  EXPECT_EQ(classStart->Edit_teacher->text(), QStringLiteral("张伟"));
  EXPECT_EQ(classStart->CB_grade->count(), 5);
  // ...and the server's list once it answers, with the cache replaced.
  ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade : "));
  EXPECT_EQ(itemsOf(classStart->CB_grade),
            (std::vector<QString>{"请选择年级", "一年级", "二年级", "三年级"}));
  EXPECT_EQ(classStart->CB_grade->currentIndex(), 0);
  EXPECT_EQ(DB_Func::QueryGrades("1001").rowCount(), 3u);

  choose(classStart->CB_grade, 1);
  EXPECT_EQ(choice.gradeID, "3001");
  EXPECT_EQ(choice.gradeName, gbk("一年级"));
  // The grade's cached subjects at once, stale row included.
  EXPECT_EQ(classStart->CB_Subject->count(), 6);
  EXPECT_EQ(classStart->CB_Subject->currentIndex(), 0);
  EXPECT_EQ(classStart->CB_Class->count(), 4);  // the cache, stale row included
  ASSERT_TRUE(waitForReply("Tform_skjs.GetClass : "));
  EXPECT_EQ(itemsOf(classStart->CB_Class),
            (std::vector<QString>{"请选择班级", "一年级（1）班", "一年级（2）班"}));
  EXPECT_EQ(classStart->CB_Class->currentIndex(), 0);

  // The same grade again, and any placeholder, send nothing.
  choose(classStart->CB_grade, 1);
  choose(classStart->CB_grade, 0);
  choose(classStart->CB_Class, 0);
  EXPECT_FALSE(client.timeoutRunning());

  choose(classStart->CB_Class, 2);
  EXPECT_EQ(choice.classID, "4002");
  EXPECT_EQ(choice.className, gbk("一年级（2）班"));
  ASSERT_TRUE(waitForReply("Tform_skjs.GetSubject : "));
  EXPECT_EQ(itemsOf(classStart->CB_Subject),
            (std::vector<QString>{"请选择学科", "语文", "数学", "科学", "道德与法治"}));
  choose(classStart->CB_Subject, 2);
  EXPECT_EQ(choice.subjectID, "5002");
  EXPECT_EQ(choice.subjectName, gbk("数学"));

  QTest::mouseClick(classStart->bu_kssk, Qt::LeftButton);
  ASSERT_TRUE(waitForReply("StartCountTime : "));

  const nlohmann::json lessons = serverTable("lessons");
  ASSERT_EQ(lessons.size(), 1u);
  EXPECT_EQ(lesson.processID(), lessons[0].value("processID", ""));
  EXPECT_FALSE(lesson.processID().empty());
  EXPECT_EQ(lesson.screenshotCounter(), 1);
  EXPECT_EQ(timerStarts, 1);
  EXPECT_TRUE(classStart->Label3->isVisible());
  EXPECT_TRUE(
      QRegularExpression("^开始上课时间：\\d\\d:\\d\\d:\\d\\d$").match(classStart->Label3->text()).hasMatch())
      << classStart->Label3->text().toStdString();
  EXPECT_TRUE(classStart->bu_kssk->isHidden());
  EXPECT_EQ(messages, std::vector<std::string>{gbk("上课成功，请上传电子课件。")});
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton3");
  EXPECT_TRUE(fileChoice->isVisible());
  EXPECT_EQ(panel->Shape1->x(), 114);

  EXPECT_EQ(targets(), (std::vector<std::string>{
                           target("getGradeInfo", "&schoolID=1001"),
                           target("getGradeInfo", "&schoolID=1001&gradeID=3001"),
                           target("getSubject", "&gradeID=3001"),
                           target("getStartCountTime",
                                  "&schoolID=1001&gradeID=3001&classesID=4002&teacherID=2001&subjectID=5002"
                                  "&deviceID=DISK-PANELS&offLine=0&beginTime="),
                       }));
  EXPECT_EQ(logLinesStartingWith("Tform_skjs.GetGrade :   "), 0u);
}

TEST_F(ClassStartPage, ANewGradeDropsTheClassAndSubjectOfTheOldOne) {
  signIn();
  choice.gradeID = "3001";
  choice.gradeName = gbk("一年级");
  choice.classID = "4001";
  choice.className = gbk("一年级（1）班");
  choice.subjectID = "5001";
  choice.subjectName = gbk("语文");
  classStart->FormShow1111();
  ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade : "));
  EXPECT_EQ(classStart->CB_Class->currentIndex(), 1);
  EXPECT_EQ(classStart->CB_Subject->currentIndex(), 1);

  choose(classStart->CB_grade, 2);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetClass : "));
  EXPECT_EQ(choice.gradeID, "3002");
  EXPECT_EQ(choice.classID, "");
  EXPECT_EQ(choice.subjectID, "");
  EXPECT_EQ(itemsOf(classStart->CB_Class),
            (std::vector<QString>{"请选择班级", "二年级（1）班", "二年级（2）班"}));

  // A class of the first grade can no longer go out with the second one.
  classStart->bu_ksskClick();
  EXPECT_EQ(messages, std::vector<std::string>{gbk("请检查信息是否填写完整。")});
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(ClassStartPage, ListsShowTheChosenNamesOrStayBlankForUnknownOnes) {
  signIn();
  const struct {
    const char* name;
    std::string gradeID, gradeName, className, subjectName;
    int grade, klass, subject;
  } cases[] = {
      {"nothing chosen", "", "", "", "", 0, 0, 0},
      {"all known", "3002", gbk("二年级"), gbk("二年级（2）班"), gbk("科学"), 2, 2, 3},
      {"names no row carries", "3002", gbk("九年级"), gbk("九班"), gbk("天文"), -1, -1, -1},
      {"a grade id without name", "3002", "", "", "", -1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    choice.gradeID = c.gradeID;
    choice.gradeName = c.gradeName;
    choice.className = c.className;
    choice.subjectName = c.subjectName;
    classStart->FillGradeList();
    classStart->FillClassList();
    classStart->FillSubjectList();
    EXPECT_EQ(classStart->CB_grade->currentIndex(), c.grade);
    EXPECT_EQ(classStart->CB_Class->currentIndex(), c.klass);
    EXPECT_EQ(classStart->CB_Subject->currentIndex(), c.subject);
  }
}

TEST_F(ClassStartPage, NoSchoolMeansEmptyListsAndNoRequest) {
  classStart->FormShow1111();
  EXPECT_EQ(itemsOf(classStart->CB_grade), std::vector<QString>{"请选择年级"});
  EXPECT_EQ(itemsOf(classStart->CB_Class), std::vector<QString>{"请选择班级"});
  EXPECT_EQ(itemsOf(classStart->CB_Subject), std::vector<QString>{"请选择学科"});
  EXPECT_FALSE(client.timeoutRunning());
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(ClassStartPage, WhileALessonRunsTheSchoolAndTeacherStayAndTheListsAreKept) {
  signIn();
  panel->move(300, 120);
  classStart->Edit_school->button()->click();
  classStart->Edit_teacher->button()->click();
  EXPECT_EQ(pickerOpenings,
            (std::vector<std::pair<int, QPoint>>{{1, QPoint(300, 120)}, {0, QPoint(300, 120)}}));
  EXPECT_TRUE(messages.empty());

  lesson.start("70001", choice, "2026-03-02 08:05:00");
  pickerOpenings.clear();
  classStart->Edit_school->button()->click();
  classStart->Edit_teacher->button()->click();
  EXPECT_TRUE(pickerOpenings.empty());
  EXPECT_EQ(messages, (std::vector<std::string>{gbk("已经开始记时，不能再更换学校。"),
                                                gbk("已经开始记时，不能再更换老师。")}));

  classStart->FormShow1111();
  EXPECT_EQ(classStart->CB_grade->count(), 1);
  EXPECT_FALSE(client.timeoutRunning());
}

// The server away from the sign-in on: every list fills from what an
// earlier run left in edu.db, and the teacher can pick everything and start
// the lesson offline.
TEST_F(ClassStartPage, WithTheServerAwayFromTheSignInTheCachedListsStartALessonOffline) {
  AppHooks.pendingChanged = [] {};
  ASSERT_EQ(server.stop(), 0);
  signIn();
  classStart->FormShow1111();
  ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade :   "));
  EXPECT_EQ(itemsOf(classStart->CB_grade),
            (std::vector<QString>{"请选择年级", "一年级", "二年级", "三年级"}));

  choose(classStart->CB_grade, 1);
  const std::vector<QString> subjects{"请选择学科", "语文", "数学", "科学", "道德与法治"};
  EXPECT_EQ(itemsOf(classStart->CB_Subject), subjects);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetClass :   "));
  EXPECT_EQ(itemsOf(classStart->CB_Class),
            (std::vector<QString>{"请选择班级", "一年级（1）班", "一年级（2）班"}));
  choose(classStart->CB_Class, 1);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetSubject :   "));
  EXPECT_EQ(itemsOf(classStart->CB_Subject), subjects);
  choose(classStart->CB_Subject, 2);
  EXPECT_EQ(choice.subjectID, "5002");

  classStart->bu_ksskClick();
  ASSERT_TRUE(waitForReply("StartCountTime :   "));
  EXPECT_EQ(lesson.processID().rfind("offline-", 0), 0u) << lesson.processID();
  EXPECT_EQ(messages, std::vector<std::string>{gbk("暂时无法连接服务器，本节课已离线开始计时。"
                                                   "上课记录和截图保存在本机，网络恢复后将自动上传。")});
  EXPECT_EQ(timerStarts, 1);
}

// The offline start clicked while edu.db refuses the lesson's row: the
// click's handler stops at its guard, the teacher gets the plain message
// (not SQLite's words, which go to the log), no lesson runs, and the next
// click works once edu.db takes rows again.
TEST_F(ClassStartPage, AnOfflineStartEduDbRefusesGivesThePlainMessageAndLeavesNoLesson) {
  AppHooks.pendingChanged = [] {};
  std::vector<std::string> databaseLog;
  ui::setDatabaseGuard({[&](const std::string& line) { databaseLog.push_back(line); }, {}, {}});
  {
    DB_Func::Connection db(DB_Func::DatabasePath());
    db.execute(
        "CREATE TRIGGER refuse BEFORE INSERT ON t_offline_lesson BEGIN SELECT RAISE(ABORT, 'refused by "
        "test'); "
        "END");
  }
  signIn();
  choice.gradeID = "3001";
  choice.classID = "4001";
  choice.subjectID = "5002";
  ASSERT_TRUE(answerNextWith("error", 1));
  classStart->bu_kssk->click();
  ASSERT_TRUE(waitForReply("StartCountTime :   "));
  EXPECT_EQ(messages, std::vector<std::string>{gbk(ui::kDatabaseErrorMessage)});
  ASSERT_EQ(databaseLog.size(), 1u);
  EXPECT_NE(databaseLog[0].find("refused by test"), std::string::npos) << databaseLog[0];
  EXPECT_NE(databaseLog[0].find("(in form_skjs)"), std::string::npos) << databaseLog[0];
  EXPECT_EQ(lesson.processID(), "");
  EXPECT_FALSE(lesson.running());
  EXPECT_EQ(timerStarts, 0);
  EXPECT_FALSE(classStart->bu_kssk->isHidden());

  DB_Func::Connection(DB_Func::DatabasePath()).execute("DROP TRIGGER refuse");
  messages.clear();
  ASSERT_TRUE(answerNextWith("error", 1));
  classStart->bu_kssk->click();
  ASSERT_TRUE(waitForReply("StartCountTime :   ", 2));
  EXPECT_EQ(lesson.processID().rfind("offline-", 0), 0u) << lesson.processID();
  EXPECT_EQ(timerStarts, 1);
  EXPECT_EQ(databaseLog.size(), 1u);
  ui::setDatabaseGuard({});
}

TEST_F(ClassStartPage, AFailedListAnswerIsLoggedAndLeavesTheList) {
  signIn();
  ASSERT_TRUE(answerNextWith("error", 1));
  classStart->FormShow1111();
  ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade :   "));
  EXPECT_EQ(log.back(), gbk("Tform_skjs.GetGrade :   无法访问服务器！"));
  EXPECT_EQ(classStart->CB_grade->count(), 4);
}

// A start that gets no lesson id (an error page, no answer within the GET
// client's time-out, or an answer without processID) starts the lesson
// offline: timed as usual under a local id, kept in edu.db for a later
// delivery, and the teacher is told once.
TEST_F(ClassStartPage, AStartWithoutALessonIdRunsTheLessonOffline) {
  client.setTimeoutInterval(std::chrono::milliseconds(300));
  int pendingChanges = 0;
  AppHooks.pendingChanged = [&] { ++pendingChanges; };
  const std::string offlineMessage =
      gbk("暂时无法连接服务器，本节课已离线开始计时。上课记录和截图保存在本机，网络恢复后将自动上传。");
  const struct {
    const char* what;
    const char* mode;   // the server's answer to the start
    const char* reply;  // or this reply, handed in directly
  } cases[] = {
      {"an error page", "error", nullptr},
      {"no answer in time", "silent", nullptr},
      {"an answer without processID", nullptr, "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"error\",\"msg\":\"\"}"}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ++n;
    signIn();
    choice.gradeID = "3001";
    choice.gradeName = gbk("一年级");
    choice.classID = "4001";
    choice.className = gbk("一年级（1）班");
    choice.subjectID = "5002";
    choice.subjectName = gbk("数学");
    // An earlier lesson, ended: its id goes.
    lesson.start("old", choice, "2026-03-02 07:00:00");
    lesson.stop();
    const int startsBefore = timerStarts;
    messages.clear();
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    if (c.mode) {
      ASSERT_TRUE(answerNextWith(c.mode, 1));
      classStart->bu_ksskClick();
      ASSERT_TRUE(waitForReply("StartCountTime :   ", static_cast<size_t>(n)));
    } else {
      classStart->StartCountTime(c.reply);
    }
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    ASSERT_EQ(lesson.processID().rfind("offline-", 0), 0u) << lesson.processID();
    const QDateTime began =
        QDateTime::fromString(QString::fromStdString(lesson.processID().substr(8)), "yyyyMMddHHmmss");
    EXPECT_TRUE(began >= before.addMSecs(-before.time().msec()) && began <= after) << lesson.processID();
    EXPECT_TRUE(classStart->bu_kssk->isHidden());
    EXPECT_FALSE(classStart->Label3->isHidden());
    EXPECT_TRUE(classStart->Label3->text().startsWith(QStringLiteral("开始上课时间：")));
    EXPECT_EQ(timerStarts, startsBefore + 1);
    EXPECT_EQ(lesson.screenshotCounter(), 1);
    EXPECT_EQ(messages, std::vector<std::string>{offlineMessage});
    EXPECT_EQ(pendingChanges, n);

    DB_Func::Connection db(DB_Func::DatabasePath());
    const DB_Func::RowSet kept = db.query(
        "SELECT * FROM t_offline_lesson WHERE local_id = ? AND offline = 1 AND state = 'pending' "
        "ORDER BY id DESC LIMIT 1",
        {lesson.processID()});
    ASSERT_EQ(kept.rowCount(), 1u);
    EXPECT_EQ(kept.text("begin_time"), began.toString("yyyy-MM-dd HH:mm:ss").toStdString());
    EXPECT_EQ(kept.text("teacher_id"), "2001");
    EXPECT_EQ(kept.text("class_id"), "4001");
    EXPECT_EQ(kept.text("class_name"), gbk("一年级（1）班"));
    EXPECT_EQ(kept.text("subject_name"), gbk("数学"));
    EXPECT_EQ(kept.text("device_id"), "DISK-PANELS");
  }
}

TEST_F(ClassStartPage, LoginLogoutAndResumeWriteIntoThePages) {
  signIn();
  classStart->FormShow1111();
  ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade : "));
  choose(classStart->CB_grade, 1);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetClass : "));
  choose(classStart->CB_Class, 1);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetSubject : "));
  choose(classStart->CB_Subject, 1);
  EXPECT_EQ(repair->edit_teacher_phone->text(), QStringLiteral("13810012001"));

  tellPagesSignedIn(false);
  for (QComboBox* list : {classStart->CB_grade, classStart->CB_Class, classStart->CB_Subject})
    EXPECT_EQ(list->currentIndex(), 0) << list->objectName().toStdString();
  EXPECT_EQ(classStart->Edit_school->text(), QStringLiteral("请选择学校"));
  EXPECT_EQ(classStart->Edit_teacher->text(), QStringLiteral("请选择老师"));
  EXPECT_EQ(repair->Edit_school->text(), QStringLiteral("请选择学校"));
  EXPECT_EQ(repair->Edit_teacher->text(), QStringLiteral("请选择老师"));
  EXPECT_EQ(repair->edit_teacher_phone->text(), QString());

  ClientState.teacherName = gbk("王芳");
  ClientState.teacherPhone = "13810012002";
  tellPagesSignedIn(true);
  EXPECT_EQ(classStart->Edit_teacher->text(), QStringLiteral("王芳"));
  EXPECT_EQ(repair->Edit_teacher->text(), QStringLiteral("王芳"));
  EXPECT_EQ(repair->Edit_school->text(), QStringLiteral("东城区第一实验小学"));
  EXPECT_EQ(repair->edit_teacher_phone->text(), QStringLiteral("13810012002"));

  // The picker's choice shows the phone masked.
  tellPagesOfChoice(*classStart, *repair)(false);
  EXPECT_EQ(repair->edit_teacher_phone->text(), QStringLiteral("138****2002"));

  resumeLesson({}, "2026-03-02 08:05:00");
  EXPECT_EQ(classStart->Label3->text(), QStringLiteral("上课开始时间：2026-03-02 08:05:00"));
  EXPECT_FALSE(classStart->Label3->isHidden());
  EXPECT_TRUE(classStart->bu_kssk->isHidden());
  lesson.stop();
  EXPECT_EQ(classStart->Label3->text(), QStringLiteral("开始上课时间："));
  EXPECT_TRUE(classStart->Label3->isHidden());
  EXPECT_FALSE(classStart->bu_kssk->isHidden());
}

// The program makes the panel and its pages when the panel is first shown.
// The sign-in and the lesson taken up before then are on the pages once
// made, the last page asked for and position too; hiding a panel never made
// makes none.
TEST_F(ClassStartPage, APanelMadeOnFirstShowShowsWhatHappenedBefore) {
  repair.reset();
  classStart.reset();
  panel.reset();
  int made = 0;
  installPanelHooks([&] {
    ++made;
    const std::string assets = testsupport::sourcePath("assets");
    panel = std::make_unique<TForm2>(lesson, assets);
    classStart = std::make_unique<Tform_skjs>(client, lesson, choice, assets);
    repair = std::make_unique<Tform_sbbx>(client, lesson, choice, assets,
                                          panels::DeploymentSettings{kHotline, gbk("电教中心")});
    panel->setPages({.classStart = classStart.get(), .fileChoice = fileChoice.get(), .repair = repair.get()});
    return panel.get();
  });
  tellPagesSignedIn(false);
  signIn();
  // A lesson taken up again, as the status window does it.
  LessonChoice room;
  room.gradeID = "3002";
  room.gradeName = gbk("二年级");
  room.className = gbk("二年级（2）班");
  room.subjectName = gbk("科学");
  resumeLesson(room, gbk("2026-03-02 08:05:00"));
  callHook(AppHooks.hideMainPanel);
  callHook(AppHooks.moveMainPanel, 300, 200);
  EXPECT_EQ(made, 0);
  EXPECT_EQ(callHook(AppHooks.currentPageKey), "suiImageButton2");

  callHook(AppHooks.showMainPanel);
  ASSERT_EQ(made, 1);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->pos(), QPoint(300, 200));
  EXPECT_EQ(panel->currentPageKey(), "suiImageButton2");
  EXPECT_TRUE(classStart->isVisible());
  EXPECT_EQ(classStart->Edit_school->text(), QStringLiteral("东城区第一实验小学"));
  EXPECT_EQ(classStart->Edit_teacher->text(), QStringLiteral("张伟"));
  EXPECT_EQ(repair->edit_teacher_phone->text(), QStringLiteral("13810012001"));
  EXPECT_EQ(classStart->Label3->text(), QStringLiteral("上课开始时间：2026-03-02 08:05:00"));
  EXPECT_TRUE(classStart->Label3->isVisible());
  EXPECT_TRUE(classStart->bu_kssk->isHidden());
  EXPECT_EQ(classStart->CB_grade->currentIndex(), 2);
  EXPECT_EQ(classStart->CB_Class->currentIndex(), 2);
  EXPECT_EQ(classStart->CB_Subject->currentIndex(), 3);

  // Once made, the pages follow the lesson at once and nothing is made again.
  lesson.stop();
  EXPECT_TRUE(classStart->Label3->isHidden());
  callHook(AppHooks.hideMainPanel);
  EXPECT_FALSE(panel->isVisible());
  callHook(AppHooks.showMainPanel);
  EXPECT_EQ(made, 1);
}

}  // namespace
