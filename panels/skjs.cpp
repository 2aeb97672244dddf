#include "panels/skjs.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTime>

#include "core/offline_records.h"
#include "panels/grade_class_chooser.h"
#include "panels/page_controls.h"
#include "panels/panel_widgets.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/page_keys.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"

using panels::TButtonEdit;

namespace {

std::string gbk(const char* utf8) { return text::utf8ToGbk(utf8); }

}  // namespace

Tform_skjs::Tform_skjs(server::GetClient& client, const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), client_(client) {
  setObjectName("form_skjs");
  FormCreate(assetsDir);
}

Tform_skjs::~Tform_skjs() = default;

void Tform_skjs::FormCreate(const std::string& assetsDir) {
  QWidget* surface = panels::pageSurface(this, QSize(393, 572), QSize(377, 534));

  Edit_school = new TButtonEdit("Edit_school", surface);
  Edit_school->setGeometry(18, 24, 311, 29);
  Edit_school->setFont(panels::pixelFont(16));
  Edit_school->setText(QStringLiteral("请选择学校"));
  connect(Edit_school, &TButtonEdit::buttonClicked, this,
          ui::guarded(this, &Tform_skjs::cxButtonEdit1PropertiesButtonClick));

  Edit_teacher = new TButtonEdit("Edit_teacher", surface);
  Edit_teacher->setGeometry(18, 82, 311, 29);
  Edit_teacher->setFont(panels::pixelFont(16));
  Edit_teacher->setText(QStringLiteral("请选择老师"));
  connect(Edit_teacher, &TButtonEdit::buttonClicked, this,
          ui::guarded(this, &Tform_skjs::cxButtonEdit2PropertiesButtonClick));

  // activated: the teacher's choice only, never a fill.
  chooser_ = std::make_unique<panels::GradeClassChooser>(
      client_, surface,
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
  if (callHook(AppHooks.isLessonRunning)) return;
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

// The subject list shows the ClientState's subject when a row carries its
// name; a name that no row carries leaves the list blank.
void Tform_skjs::FillSubjectList() {
  subjectRows = DB_Func::QuerySubjects(ClientState.gradeID);
  int selected = panels::fillChoiceList(CB_Subject, subjectRows, "subject_name", gbk("请选择学科"),
                                        ClientState.subjectName);
  if (ClientState.subjectName.empty()) selected = 0;
  CB_Subject->setCurrentIndex(selected);
}

void Tform_skjs::CB_gradeChange(int index) {
  std::string id, name;
  if (!chooser_->gradeAt(index, id, name)) return;
  if (id.empty() || id == ClientState.gradeID) return;
  ClientState.gradeID = id;
  ClientState.gradeName = name;
  // The class and subject chosen before belong to the old grade; kept, they
  // would start a lesson of one grade with another grade's class.
  ClientState.classID.clear();
  ClientState.className.clear();
  ClientState.subjectID.clear();
  ClientState.subjectName.clear();
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
  if (id.empty() || id == ClientState.classID) return;
  ClientState.classID = id;
  ClientState.className = name;
  request(&Tform_skjs::GetSubject, HttpUrl::SubjectsOfGrade(ClientState.serverPath, ClientState.gradeID));
}

void Tform_skjs::CB_SubjectChange(int index) {
  std::string id, name;
  if (!panels::choiceOf(subjectRows, index, "subject_id", "subject_name", id, name)) return;
  ClientState.subjectID = id;
  ClientState.subjectName = name;
}

void Tform_skjs::GetSubject(const std::string& replyText) {
  const std::string jsonPart = panels::takeReply(client_, "Tform_skjs.GetSubject : ", replyText);
  if (jsonPart.empty()) return;
  DB_Func::RefreshSubjects(jsonPart, panels::sentParam(client_, "gradeID"));
  FillSubjectList();
}

void Tform_skjs::bu_ksskClick() {
  // The ClientState decides, not what the lists show.
  for (const std::string* field : {&ClientState.schoolID, &ClientState.gradeID, &ClientState.classID,
                                   &ClientState.teacherID, &ClientState.subjectID}) {
    if (field->empty()) {
      ui::showMessage(gbk("请检查信息是否填写完整。"), this);
      return;
    }
  }
  request(&Tform_skjs::StartCountTime,
          HttpUrl::StartLesson(ClientState.serverPath, ClientState.schoolID, ClientState.gradeID,
                               ClientState.classID, ClientState.teacherID, ClientState.subjectID,
                               ClientState.diskID, "0", ""));
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
  ClientState.processID = processID;
  beginLesson();
  ui::showMessage(gbk("上课成功，请上传电子课件。"), this);
  callHook(AppHooks.switchPage, std::string(PageKey::FileChoice));
}

void Tform_skjs::startOffline() {
  const std::tm now = offline::localNow();
  DB_Func::LessonRecord lesson = offline::lessonOf(ClientState, offline::timeText(now));
  lesson.localId = offline::lessonIdAt(now);
  DB_Func::AddOfflineLesson(lesson);
  ClientState.processID = lesson.localId;
  callHook(AppHooks.appendLog, "StartCountTime : offline lesson " + lesson.localId);
  beginLesson();
  callHook(AppHooks.pendingChanged);
  ui::showMessage(gbk("暂时无法连接服务器，本节课已离线开始计时。上课记录和截图保存在本机，"
                      "网络恢复后将自动上传。"),
                  this);
}

void Tform_skjs::beginLesson() {
  Label3->setText(QStringLiteral("开始上课时间：") + QTime::currentTime().toString("HH:mm:ss"));
  Label3->adjustSize();
  Label3->show();
  callHook(AppHooks.startLessonTimers);
  ClientState.screenshotCounter = 1;
  bu_kssk->hide();
}

void Tform_skjs::openPicker(int schoolMode, const char* refusal) {
  // The school and teacher of a running lesson stay as they are.
  if (callHook(AppHooks.isLessonRunning)) {
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
  for (QComboBox* list : {CB_Subject, CB_Class, CB_grade}) list->setCurrentIndex(0);
  Edit_school->setText(text::toQString(ClientState.schoolName));
  Edit_teacher->setText(text::toQString(ClientState.teacherName));
}

void Tform_skjs::showSignedOut() {
  for (QComboBox* list : {CB_Subject, CB_Class, CB_grade}) list->setCurrentIndex(0);
  Edit_school->setText(QStringLiteral("请选择学校"));
  Edit_teacher->setText(QStringLiteral("请选择老师"));
}

void Tform_skjs::showKnownSchoolAndTeacher() {
  if (!ClientState.schoolName.empty()) Edit_school->setText(text::toQString(ClientState.schoolName));
  if (!ClientState.teacherName.empty()) Edit_teacher->setText(text::toQString(ClientState.teacherName));
}
