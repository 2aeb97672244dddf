// The repair page in the main panel, against a real edu.db and the
// development server: its lists, the report with its exact request, the
// refusal of an incomplete report, and the answers that confirm it or send
// the teacher to the hotline.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

#include "panels/panel_widgets.h"
#include "tests/integration/panels/panels_fixture.h"

namespace {

class RepairPage : public PanelsTest {
 public:
  // Signs in, shows the panel on the repair tab and picks grade and class.
  void openAndPickRoom() {
    signIn();
    callHook(AppHooks.switchPage, std::string("suiImageButton4"));
    panel->show();
    ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade : "));
    choose(repair->CB_grade, 1);
    ASSERT_TRUE(waitForReply("Tform_skjs.GetClass : "));
    choose(repair->CB_class, 1);
  }

  const std::string failure = gbk("维修上报失败，请拔打 ") + kHotline + gbk(" 电话报修。");

  // The reports edu.db keeps, oldest first: state and text.
  static std::vector<std::string> keptReports() {
    DB_Func::Connection db(DB_Func::DatabasePath());
    DB_Func::RowSet rows = db.query("SELECT state, fault_detail FROM t_repair_report ORDER BY id");
    std::vector<std::string> kept;
    for (; !rows.end(); rows.next()) kept.push_back(rows.text("state") + " " + rows.text("fault_detail"));
    return kept;
  }
};

TEST_F(RepairPage, AReportGoesOutAsPercentEncodedUtf8AndIsConfirmed) {
  addStaleRow("t_class", "class_id", "class_name", "grade_id", "4999", "旧班级 ", "3001");
  openAndPickRoom();
  EXPECT_EQ(repair->Edit_school->text(), QStringLiteral("东城区第一实验小学"));
  EXPECT_EQ(repair->Label1->text().toStdString(), kHotline);
  EXPECT_EQ(itemsOf(repair->CB_class),
            (std::vector<QString>{"请选择班级", "一年级（1）班", "一年级（2）班"}));
  EXPECT_EQ(choice.gradeID, "3001");
  EXPECT_EQ(choice.classID, "4001");

  repair->memo1->setPlainText(QStringLiteral("投影仪不亮 (3号)\n声音很小"));
  QTest::mouseClick(repair->suiImageButton6, Qt::LeftButton);
  ASSERT_TRUE(waitForReply("Tform_sbbx.AddRepairs : "));

  EXPECT_EQ(messages, std::vector<std::string>{gbk("您已成功上报设备故障，稍后会有技术人员与您联系。")});
  EXPECT_EQ(repair->memo1->toPlainText(), QStringLiteral("填写故障说明"));
  EXPECT_EQ(targets().back(),
            target("insertRepairs",
                   "&schoolID=1001&gradeID=3001&classID=4001&teacherID=2001&tel=13810012001&faultDetail="
                   "%e6%8a%95%e5%bd%b1%e4%bb%aa%e4%b8%8d%e4%ba%ae+(3%e5%8f%b7)%0d%0a%e5%a3%b0%e9%9f%b3%e5%be%"
                   "88%e5%b0%8f"
                   "%0d%0a&address="));
  const nlohmann::json repairs = serverTable("repairs");
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].value("faultDetail", ""), "投影仪不亮 (3号)\r\n声音很小\r\n");
  // Kept for the repair history, as delivered.
  EXPECT_EQ(keptReports(), (std::vector<std::string>{gbk("delivered 投影仪不亮 (3号)\r\n声音很小")}));
}

TEST_F(RepairPage, AnIncompleteReportIsRefusedAndNothingIsSent) {
  openAndPickRoom();
  const size_t sentBefore = server.requests().size();
  const struct {
    const char* name;
    void (*spoil)(RepairPage&);
  } cases[] = {
      {"no school", [](RepairPage&) { ClientState.schoolID.clear(); }},
      {"no grade chosen", [](RepairPage& t) { t.repair->CB_grade->setCurrentIndex(0); }},
      {"no class chosen", [](RepairPage& t) { t.repair->CB_class->setCurrentIndex(0); }},
      {"no teacher", [](RepairPage&) { ClientState.teacherID.clear(); }},
      {"no phone", [](RepairPage&) { ClientState.teacherPhone.clear(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ClientStateRecord saved = ClientState;
    const int grade = repair->CB_grade->currentIndex();
    const int klass = repair->CB_class->currentIndex();
    messages.clear();
    c.spoil(*this);
    repair->suiImageButton6Click();
    EXPECT_EQ(messages, std::vector<std::string>{gbk("请检查信息是否填写完整。")});
    ClientState = saved;
    repair->CB_grade->setCurrentIndex(grade);
    repair->CB_class->setCurrentIndex(klass);
  }
  EXPECT_FALSE(client.timeoutRunning());
  EXPECT_EQ(server.requests().size(), sentBefore);
}

// A report without an answer is kept in edu.db as pending, to be sent by
// the client later; the teacher is told so and need not type it again.
TEST_F(RepairPage, AnUndeliveredReportIsKeptForLaterAndNamesTheHotline) {
  int pendingChanges = 0;
  AppHooks.pendingChanged = [&] { ++pendingChanges; };
  openAndPickRoom();
  repair->memo1->setPlainText(QStringLiteral("白板无法触控"));
  ASSERT_TRUE(answerNextWith("error", 1));
  repair->suiImageButton6Click();
  EXPECT_EQ(keptReports(), (std::vector<std::string>{gbk("sending 白板无法触控")}));
  ASSERT_TRUE(waitForReply("Tform_sbbx.AddRepairs :   "));
  EXPECT_EQ(log.back(), gbk("Tform_sbbx.AddRepairs :   无法访问服务器！"));
  EXPECT_EQ(messages,
            std::vector<std::string>{gbk("暂时无法连接服务器，故障报告已保存在本机，网络恢复后将自动上报。"
                                         "如需尽快维修，请拔打 ") +
                                     kHotline + gbk(" 电话报修。")});
  EXPECT_EQ(repair->memo1->toPlainText(), QStringLiteral("填写故障说明"));
  EXPECT_EQ(keptReports(), (std::vector<std::string>{gbk("pending 白板无法触控")}));
  EXPECT_EQ(pendingChanges, 1);
}

TEST_F(RepairPage, AReportTheServerDidNotRegisterIsAFailureToo) {
  openAndPickRoom();
  repair->memo1->setPlainText(QStringLiteral("白板无法触控"));
  for (const char* json : {R"({"status":"success","jsonData":{"insert":false}})",
                           R"({"status":"success","jsonData":{}})", R"({"status":"error"})"}) {
    SCOPED_TRACE(json);
    messages.clear();
    repair->AddRepairs(std::string("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n") + json);
    EXPECT_EQ(messages, std::vector<std::string>{failure});
    EXPECT_EQ(repair->memo1->toPlainText(), QStringLiteral("白板无法触控"));
  }
}

TEST_F(RepairPage, GradePlaceholderAsksAgainForTheClassesOfTheChosenGrade) {
  openAndPickRoom();
  choose(repair->CB_grade, 0);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetClass : ", 2));
  EXPECT_EQ(targets().back(), target("getGradeInfo", "&schoolID=1001&gradeID=3001"));
  EXPECT_EQ(repair->CB_class->currentIndex(), 0);

  // The school and teacher buttons open the picker even during a lesson.
  lesson.start("70001", choice, "2026-03-02 08:05:00");
  repair->Edit_teacher->button()->click();
  EXPECT_EQ(pickerOpenings.size(), 1u);
  EXPECT_TRUE(messages.empty());
}

// The lesson's screenshots and courseware carry the lesson's grade and class:
// while it runs, the page shows them and no choice here changes them.
TEST_F(RepairPage, DuringALessonTheListsShowTheLessonsRoomAndKeepIt) {
  openAndPickRoom();
  // The lesson starts on the class-start page; the teacher comes back here.
  lesson.start("70001", choice, "2026-03-02 08:05:00");
  callHook(AppHooks.switchPage, std::string("suiImageButton2"));
  callHook(AppHooks.switchPage, std::string("suiImageButton4"));
  const auto expectLessonRoom = [this] {
    EXPECT_EQ(itemsOf(repair->CB_grade), (std::vector<QString>{"请选择年级", "一年级"}));
    EXPECT_EQ(itemsOf(repair->CB_class), (std::vector<QString>{"请选择班级", "一年级（1）班"}));
    EXPECT_EQ(repair->CB_grade->currentIndex(), 1);
    EXPECT_EQ(repair->CB_class->currentIndex(), 1);
    EXPECT_FALSE(repair->CB_grade->isEnabled());
    EXPECT_FALSE(repair->CB_class->isEnabled());
    EXPECT_EQ(choice.gradeID, "3001");
    EXPECT_EQ(choice.gradeName, gbk("一年级"));
    EXPECT_EQ(choice.classID, "4001");
    EXPECT_EQ(choice.className, gbk("一年级（1）班"));
  };
  expectLessonRoom();

  // A choice that reaches the handlers anyway, and the panel shown again on
  // this page with the grade list's refresh, leave the lesson's room.
  const size_t sentBefore = server.requests().size();
  for (int index : {0, 1}) {
    choose(repair->CB_grade, index);
    choose(repair->CB_class, index);
  }
  EXPECT_EQ(server.requests().size(), sentBefore);
  repair->FormShow();
  ASSERT_TRUE(waitForReply("Tform_skjs.GetGrade : ", 2));
  expectLessonRoom();

  // A report names the lesson's room.
  QTest::mouseClick(repair->suiImageButton6, Qt::LeftButton);
  ASSERT_TRUE(waitForReply("Tform_sbbx.AddRepairs : "));
  EXPECT_EQ(targets().back().rfind(target("insertRepairs", "&schoolID=1001&gradeID=3001&classID=4001&"), 0),
            0u)
      << targets().back();

  // The lesson ends while the page is on screen: the lists are for choosing again.
  lesson.stop();
  EXPECT_TRUE(repair->CB_grade->isEnabled());
  EXPECT_TRUE(repair->CB_class->isEnabled());
  EXPECT_EQ(itemsOf(repair->CB_grade), (std::vector<QString>{"请选择年级", "一年级", "二年级", "三年级"}));
  EXPECT_EQ(repair->CB_grade->currentIndex(), 0);
  choose(repair->CB_grade, 2);
  EXPECT_EQ(choice.gradeID, "3002");
  EXPECT_EQ(choice.classID, "");
}

// A lesson the server still counts is taken up after the login: the page,
// on screen meanwhile, shows that lesson's grade and class at once.
TEST_F(RepairPage, ALessonTakenUpAgainShowsOnThePageAtOnce) {
  openAndPickRoom();
  LessonChoice room;
  room.gradeID = "3002";
  room.gradeName = gbk("二年级");
  room.classID = "4003";
  room.className = gbk("二年级（1）班");
  resumeLesson(room);
  EXPECT_EQ(repair->CB_grade->currentText(), QStringLiteral("二年级"));
  EXPECT_EQ(repair->CB_class->currentText(), QStringLiteral("二年级（1）班"));
  EXPECT_FALSE(repair->CB_grade->isEnabled());
  EXPECT_FALSE(repair->CB_class->isEnabled());
  choose(repair->CB_class, 0);
  EXPECT_EQ(choice.classID, "4003");
}

TEST_F(RepairPage, AGradeChosenHereIsTheClassStartPagesGradeToo) {
  openAndPickRoom();
  choice.subjectID = "5001";  // chosen for the old grade on the class-start page
  choice.subjectName = gbk("语文");
  choose(repair->CB_grade, 2);
  ASSERT_TRUE(waitForReply("Tform_skjs.GetClass : ", 2));
  EXPECT_EQ(choice.gradeID, "3002");
  EXPECT_EQ(choice.classID, "");
  // Kept, the old grade's subject would start the next lesson.
  EXPECT_EQ(choice.subjectID, "");
  EXPECT_EQ(choice.subjectName, "");

  classStart->FormShow1111();
  EXPECT_EQ(classStart->CB_grade->currentText(), QStringLiteral("二年级"));
}

}  // namespace
