#include "panels/skjs.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTime>

#include "core/offline_records.h"
#include "panels/grade_class_chooser.h"
#include "panels/page_controls.h"
#include "panels/panel_widgets.h"
#include "panels/school_teacher_header.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/lesson_record.h"
#include "state/page_keys.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"

using panels::TButtonEdit;

namespace {

using text::gbk;

}  // namespace

Tform_skjs::Tform_skjs(server::GetClient& client, Lesson& lesson, LessonChoice& choice,
                       const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), client_(client), lesson_(lesson), choice_(choice) {
  setObjectName("form_skjs");
  FormCreate(assetsDir);
  connect(&lesson_, &Lesson::started, this, &Tform_skjs::showStarted);
  connect(&lesson_, &Lesson::resumed, this, ui::guarded(this, &Tform_skjs::followResumedLesson));
  connect(&lesson_, &Lesson::stopped, this, &Tform_skjs::showIdle);
  // A page made after the login, or while a lesson runs, shows them as a
  // page made earlier would.
  if (ClientState.loginState) showSignedIn();
  if (lesson_.running()) followResumedLesson();
}

Tform_skjs::~Tform_skjs() = default;

void Tform_skjs::FormCreate(const std::string& assetsDir) {
  QWidget* surface = panels::pageSurface(this, QSize(393, 572), QSize(377, 534));

  header_ =
      std::make_unique<panels::SchoolTeacherHeader>(surface, QRect(18, 24, 311, 29), QRect(18, 82, 311, 29));
  Edit_school = header_->school();
  connect(Edit_school, &TButtonEdit::buttonClicked, this,
          ui::guarded(this, &Tform_skjs::cxButtonEdit1PropertiesButtonClick));
  Edit_teacher = header_->teacher();
  connect(Edit_teacher, &TButtonEdit::buttonClicked, this,
          ui::guarded(this, &Tform_skjs::cxButtonEdit2PropertiesButtonClick));

  // activated: the teacher's choice only, never a fill.
  chooser_ = std::make_unique<panels::GradeClassChooser>(
      client_, choice_, lesson_, surface,
      panels::GradeClassChooser::Layout{QRect(18, 141, 311, 28), "CB_Class", QRect(18, 199, 311, 28), true});
  CB_grade = chooser_->gradeList();
  connect(CB_grade, &QComboBox::activated, this, ui::guarded(this, &Tform_skjs::CB_gradeChange));
  CB_Class = chooser_->classList();
  connect(CB_Class, &QComboBox::activated, this, ui::guarded(this, &Tform_skjs::CB_ClassChange));
  CB_Subject =
      panels::choiceList(surface, "CB_Subject", QRect(18, 258, 311, 28), QStringLiteral("请选择课程"));
  connect(CB_Subject, &QComboBox::activated, this, ui::guarded(this, &Tform_skjs::CB_SubjectChange));

  Label2 = panels::pageLabel(surface, "Label2", QPoint(18, 310), 14, gbk("开始上课之，前请确认以上信息"));
  Label3 = panels::pageLabel(surface, "Label3", QPoint(18, 356), 16, gbk("上课开始时间：14：00：60"));
  for (QLabel* label : {Label2, Label3}) label->setStyleSheet("color: rgb(4,104,147);");
  Label3->hide();

  FlatSpeedButton1 = panels::historyLink(surface, QRect(110, 426, 141, 25), gbk("查看历史上课数据>>>"));
  connect(FlatSpeedButton1, &QPushButton::clicked, this,
          ui::guarded(this, &Tform_skjs::FlatSpeedButton1Click));

  bu_kssk = panels::pageButton(surface, "bu_kssk", QRect(50, 462, 253, 42), assetsDir, gbk("开始上课"));
  connect(bu_kssk, &QAbstractButton::clicked, this, ui::guarded(this, &Tform_skjs::bu_ksskClick));
}

void Tform_skjs::request(void (Tform_skjs::*handler)(const std::string&), const std::string& pathAndQuery) {
  client_.setReplyHandler(ui::guarded(this, handler));
  client_.startRequest(pathAndQuery);
}

void Tform_skjs::FormShow1111() {
  // A running lesson keeps the lists it was started with.
  if (lesson_.running()) return;
  ReloadLists();
}

void Tform_skjs::ReloadLists() {
  FillGradeList();
  FillClassList();
  FillSubjectList();
  chooser_->requestGrades();
}

void Tform_skjs::FillGradeList() { chooser_->FillGradeList(); }

void Tform_skjs::FillClassList() { chooser_->FillClassList(); }

// The subject list shows the chosen subject when a row carries its name; a
// name that no row carries leaves the list blank.
void Tform_skjs::FillSubjectList() {
  subjectRows = DB_Func::QuerySubjects(choice_.gradeID);
  int selected =
      panels::fillChoiceList(CB_Subject, subjectRows, "subject_name", gbk("请选择学科"), choice_.subjectName);
  if (choice_.subjectName.empty()) selected = 0;
  CB_Subject->setCurrentIndex(selected);
}

void Tform_skjs::CB_gradeChange(int index) {
  std::string id, name;
  if (!chooser_->gradeAt(index, id, name)) return;
  if (id.empty() || id == choice_.gradeID) return;
  choice_.chooseGrade(id, name);
  FillClassList();
  // The grade's subjects from the cache at once, so that a lesson can start
  // while the server is away; the server's list follows once a class is
  // chosen (subjects are asked for then).
  FillSubjectList();
  if (subjectRows.rowCount() == 0) {
    panels::showChoices(CB_Subject, {QStringLiteral("请选择章节")});
    CB_Subject->setCurrentIndex(0);
  }
  chooser_->requestClasses();
}

void Tform_skjs::CB_ClassChange(int index) {
  std::string id, name;
  if (!chooser_->classAt(index, id, name)) return;
  if (id.empty() || id == choice_.classID) return;
  choice_.classID = id;
  choice_.className = name;
  request(&Tform_skjs::GetSubject, HttpUrl::SubjectsOfGrade(ClientState.serverPath, choice_.gradeID));
}

void Tform_skjs::CB_SubjectChange(int index) {
  std::string id, name;
  if (!panels::choiceOf(subjectRows, index, "subject_id", "subject_name", id, name)) return;
  choice_.subjectID = id;
  choice_.subjectName = name;
}

void Tform_skjs::GetSubject(const std::string& replyText) {
  const std::string jsonPart = panels::takeReply(client_, "Tform_skjs.GetSubject : ", replyText);
  if (jsonPart.empty()) return;
  DB_Func::RefreshSubjects(jsonPart, panels::sentParam(client_, "gradeID"));
  FillSubjectList();
}

void Tform_skjs::bu_ksskClick() {
  // The sign-in and the choice decide, not what the lists show.
  for (const std::string* field : {&ClientState.schoolID, &choice_.gradeID, &choice_.classID,
                                   &ClientState.teacherID, &choice_.subjectID}) {
    if (field->empty()) {
      ui::showMessage(gbk("请检查信息是否填写完整。"), this);
      return;
    }
  }
  request(&Tform_skjs::StartCountTime,
          HttpUrl::StartLesson(ClientState.serverPath, ClientState.schoolID, choice_.gradeID, choice_.classID,
                               ClientState.teacherID, choice_.subjectID, ClientState.diskID, "0", ""));
}

void Tform_skjs::StartCountTime(const std::string& replyText) {
  const std::string jsonPart = panels::takeReply(client_, "StartCountTime : ", replyText);
  const std::string processID = jsonPart.empty() ? std::string() : Json_Func::ReadProcessID(jsonPart);
  // No answer, or one without a lesson: the lesson runs all the same, and
  // its records go to the server once it answers again.
  if (processID.empty()) {
    startOffline();
    return;
  }
  lesson_.start(processID, choice_, offline::timeText(offline::localNow()));
  ui::showMessage(gbk("上课成功，请上传电子课件。"), this);
  callHook(AppHooks.switchPage, std::string(PageKey::FileChoice));
}

void Tform_skjs::startOffline() {
  const std::tm now = offline::localNow();
  const std::string localId = offline::lessonIdAt(now);
  DB_Func::LessonRecord record = lessonRecord(ClientState, std::string(), choice_, offline::timeText(now));
  record.localId = localId;
  DB_Func::AddOfflineLesson(record);
  callHook(AppHooks.appendLog, "StartCountTime : offline lesson " + localId);
  lesson_.start(localId, choice_, record.beginTime);
  callHook(AppHooks.pendingChanged);
  ui::showMessage(gbk("暂时无法连接服务器，本节课已离线开始计时。上课记录和截图保存在本机，"
                      "网络恢复后将自动上传。"),
                  this);
}

void Tform_skjs::showStarted() {
  Label3->setText(QStringLiteral("开始上课时间：") + QTime::currentTime().toString("HH:mm:ss"));
  Label3->adjustSize();
  Label3->show();
  bu_kssk->hide();
}

void Tform_skjs::followResumedLesson() {
  choice_ = lesson_.room();
  showResumed(lesson_.beginTime());
  ReloadLists();
}

void Tform_skjs::openPicker(int schoolMode, const char* refusal) {
  // The school and teacher of a running lesson stay as they are.
  if (lesson_.running()) {
    ui::showMessage(gbk(refusal), this);
    return;
  }
  if (openPicker_) openPicker_(schoolMode, window()->pos());
}

void Tform_skjs::cxButtonEdit1PropertiesButtonClick() { openPicker(1, "已经开始记时，不能再更换学校。"); }

void Tform_skjs::cxButtonEdit2PropertiesButtonClick() { openPicker(0, "已经开始记时，不能再更换老师。"); }

void Tform_skjs::FlatSpeedButton1Click() {
  callHook(AppHooks.switchPage, std::string(PageKey::LessonHistory));
}

void Tform_skjs::showIdle() {
  Label3->setText(QStringLiteral("开始上课时间："));
  Label3->adjustSize();
  Label3->hide();
  bu_kssk->show();
}

void Tform_skjs::showResumed(const std::string& beginTime) {
  Label3->setText(QStringLiteral("上课开始时间：") + text::toQString(beginTime));
  Label3->adjustSize();
  Label3->show();
  bu_kssk->hide();
}

void Tform_skjs::showSignedIn() {
  choice_.clear();
  for (QComboBox* list : {CB_Subject, CB_Class, CB_grade}) list->setCurrentIndex(0);
  header_->showSignIn();
}

void Tform_skjs::showSignedOut() {
  choice_.clear();
  for (QComboBox* list : {CB_Subject, CB_Class, CB_grade}) list->setCurrentIndex(0);
  header_->showPrompts();
}

void Tform_skjs::showKnownSchoolAndTeacher() { header_->showKnown(); }
