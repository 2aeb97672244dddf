#include "panels/sbbx.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

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
#include "state/page_keys.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/mask_phone.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"

using panels::TButtonEdit;

namespace {

using text::gbk;

const char* const kFaultPrompt = "填写故障说明";

}  // namespace

Tform_sbbx::Tform_sbbx(server::GetClient& client, const Lesson& lesson, LessonChoice& choice,
                       const std::string& assetsDir, panels::DeploymentSettings settings, QWidget* parent)
    : QWidget(parent), client_(client), lesson_(lesson), choice_(choice), settings_(std::move(settings)) {
  setObjectName("form_sbbx");
  FormCreate(assetsDir);
  // The lesson's room shows at once, even while the page is on screen.
  connect(&lesson_, &Lesson::resumed, this, ui::guarded(this, [this] { followLesson(true); }));
  connect(&lesson_, &Lesson::stopped, this, ui::guarded(this, [this] { followLesson(false); }));
  // A page made after the login, or while a lesson runs, shows them as a
  // page made earlier would.
  if (ClientState.loginState) showSignedIn();
  if (lesson_.running()) followLesson(true);
}

Tform_sbbx::~Tform_sbbx() = default;

void Tform_sbbx::FormCreate(const std::string& assetsDir) {
  QWidget* surface = panels::pageSurface(this, QSize(364, 558), QSize(348, 520));

  header_ =
      std::make_unique<panels::SchoolTeacherHeader>(surface, QRect(18, 12, 309, 29), QRect(18, 54, 309, 29));
  Edit_school = header_->school();
  connect(Edit_school, &TButtonEdit::buttonClicked, this,
          ui::guarded(this, &Tform_sbbx::Edit_schoolPropertiesButtonClick));
  Edit_teacher = header_->teacher();
  connect(Edit_teacher, &TButtonEdit::buttonClicked, this,
          ui::guarded(this, &Tform_sbbx::Edit_teacherPropertiesButtonClick));

  edit_teacher_phone = new QLineEdit(QStringLiteral("请输入联系方式"), surface);
  edit_teacher_phone->setObjectName("edit_teacher_phone");
  edit_teacher_phone->setGeometry(20, 100, 309, 26);
  edit_teacher_phone->setFont(panels::pixelFont(14));
  edit_teacher_phone->setEnabled(false);
  edit_teacher_phone->setStyleSheet(
      "QLineEdit { color: rgb(128,128,128); border: 1px solid rgb(200,200,200); background: white; }");

  // activated: the teacher's choice only, never a fill.
  chooser_ = std::make_unique<panels::GradeClassChooser>(
      client_, choice_, lesson_, surface,
      panels::GradeClassChooser::Layout{QRect(20, 142, 309, 28), "CB_class", QRect(20, 186, 309, 28), false});
  CB_grade = chooser_->gradeList();
  connect(CB_grade, &QComboBox::activated, this, ui::guarded(this, &Tform_sbbx::CB_gradeChange));
  CB_class = chooser_->classList();
  connect(CB_class, &QComboBox::activated, this, ui::guarded(this, &Tform_sbbx::CB_classChange));

  memo1 = new QPlainTextEdit(surface);
  memo1->setObjectName("memo1");
  memo1->setGeometry(20, 232, 311, 185);
  memo1->setFont(panels::pixelFont(14));
  memo1->setStyleSheet("QPlainTextEdit { color: rgb(128,128,128); border: 1px solid rgb(200,200,200); }");
  memo1->setPlainText(QString::fromUtf8(kFaultPrompt));

  Label2 = panels::pageLabel(surface, "Label2", QPoint(18, 424), 16, gbk("如有问题请拔打"));
  Label1 = panels::pageLabel(surface, "Label1", QPoint(142, 423), 16, settings_.hotline);
  Label1->setFont(panels::pixelFont(16, true));
  Label1->setStyleSheet("color: rgb(255,0,0);");
  Label1->adjustSize();
  Label3 = panels::pageLabel(surface, "Label3", QPoint(266, 424), 16, settings_.provider);
  for (QLabel* label : {Label2, Label3}) label->setStyleSheet("color: rgb(4,104,147);");

  suiImageButton6 =
      panels::pageButton(surface, "suiImageButton6", QRect(50, 460, 253, 42), assetsDir, gbk("上报故障"));
  connect(suiImageButton6, &QAbstractButton::clicked, this,
          ui::guarded(this, &Tform_sbbx::suiImageButton6Click));

  // The repair history lists every report of this computer; the link sits
  // just below the button it would otherwise overlap.
  FlatSpeedButton1 = panels::historyLink(surface, QRect(106, 502, 141, 18), gbk("查看历史维修记录>>>"));
  connect(FlatSpeedButton1, &QPushButton::clicked, this,
          ui::guarded(this, &Tform_sbbx::FlatSpeedButton1Click));
  FlatSpeedButton1->show();
}

void Tform_sbbx::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Only the first showing refreshes; coming back to the tab later does not.
  if (shownBefore_) return;
  shownBefore_ = true;
  ui::runGuarded(this, [this] { FormShow(); });
}

void Tform_sbbx::request(void (Tform_sbbx::*handler)(const std::string&), const std::string& pathAndQuery) {
  client_.setReplyHandler(ui::guarded(this, handler));
  client_.startRequest(pathAndQuery);
}

void Tform_sbbx::FormShow() {
  chooser_->lockToLesson(lesson_.running());
  chooser_->requestGrades();
}

// Unlike the class-start page, both lists always start on their placeholder.
void Tform_sbbx::FillGradeList() { chooser_->FillGradeList(); }

void Tform_sbbx::FillClassList() { chooser_->FillClassList(); }

void Tform_sbbx::followLesson(bool lessonRunning) {
  // Outside a lesson the teacher's choice in the lists stays.
  if (!lessonRunning && !chooser_->lockedToLesson()) return;
  chooser_->lockToLesson(lessonRunning);
}

void Tform_sbbx::CB_gradeChange(int index) {
  // The lesson's grade and class stay as they are, whatever the lists show.
  if (lesson_.running()) return;
  std::string id, name;
  if (chooser_->gradeAt(index, id, name)) {
    // The class and subject chosen before belong to the old grade, as the
    // emptied class list shows; the subject kept would start the next lesson
    // with another grade's subject.
    choice_.chooseGrade(id, name);
    FillClassList();
  }
  // Even the placeholder asks again for the classes of the current grade.
  if (!choice_.gradeID.empty()) chooser_->requestClasses();
}

void Tform_sbbx::CB_classChange(int index) {
  if (lesson_.running()) return;
  std::string id, name;
  if (!chooser_->classAt(index, id, name)) return;
  choice_.classID = id;
  choice_.className = name;
}

std::string Tform_sbbx::faultDetail() const {
  std::string detail = text::fromQString(memo1->toPlainText());
  std::string lines;
  for (char c : detail) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  if (!lines.empty() && lines.back() != '\n') lines += "\r\n";
  return lines;
}

void Tform_sbbx::suiImageButton6Click() {
  // The placeholder line counts as a description; the room and the contact
  // must be known.
  const bool complete = !ClientState.schoolID.empty() && CB_grade->currentIndex() > 0 &&
                        CB_class->currentIndex() > 0 && !ClientState.teacherID.empty() &&
                        !ClientState.teacherPhone.empty();
  if (!complete) {
    ui::showMessage(gbk("请检查信息是否填写完整。"), this);
    return;
  }
  // The report is kept before it goes: it reaches the repair history, and
  // the server later if this request gets no answer.
  DB_Func::RepairRecord report;
  report.schoolID = ClientState.schoolID;
  // During a lesson the report names the lesson's room.
  const LessonChoice& room = lesson_.running() ? lesson_.room() : choice_;
  report.gradeID = room.gradeID;
  report.gradeName = room.gradeName;
  report.classID = room.classID;
  report.className = room.className;
  report.teacherID = ClientState.teacherID;
  report.teacherName = ClientState.teacherName;
  report.tel = ClientState.teacherPhone;
  report.faultDetail = faultDetail();
  report.reportTime = offline::timeText(offline::localNow());
  // A report still on its way is abandoned by this one: it waits for the
  // later delivery instead.
  if (sendingReport_ != 0) {
    DB_Func::RepairAnswered(sendingReport_, DB_Func::kPending);
    callHook(AppHooks.pendingChanged);
  }
  // Without an edu.db nothing can be kept; the report still goes.
  sendingReport_ = DB_Func::DatabasePath().empty() ? 0 : DB_Func::AddRepairReport(report, DB_Func::kSending);
  request(&Tform_sbbx::AddRepairs,
          HttpUrl::ReportFault(ClientState.serverPath, report.schoolID, report.gradeID, report.classID,
                               report.teacherID, report.tel, report.faultDetail, ""));
}

void Tform_sbbx::AddRepairs(const std::string& replyText) {
  const std::string jsonPart = panels::takeReply(client_, "Tform_sbbx.AddRepairs : ", replyText);
  const long long report = sendingReport_;
  sendingReport_ = 0;
  if (jsonPart.empty() && report == 0) {
    ui::showMessage(gbk("维修上报失败，请拔打 ") + settings_.hotline + gbk(" 电话报修。"), this);
    return;
  }
  if (jsonPart.empty()) {
    // Kept: the client sends it by itself once the server answers again.
    DB_Func::RepairAnswered(report, DB_Func::kPending);
    callHook(AppHooks.pendingChanged);
    ui::showMessage(gbk("暂时无法连接服务器，故障报告已保存在本机，网络恢复后将自动上报。"
                        "如需尽快维修，请拔打 ") +
                        settings_.hotline + gbk(" 电话报修。"),
                    this);
    memo1->setPlainText(QString::fromUtf8(kFaultPrompt));
    return;
  }
  const bool inserted = Json_Func::ReadInsertFlag(jsonPart);
  if (report != 0) {
    DB_Func::RepairAnswered(report, inserted ? DB_Func::kDelivered : DB_Func::kRefused);
    callHook(AppHooks.pendingChanged);
  }
  // A report the server answered but did not register is as lost as one it
  // never received: the teacher is told to phone, and the text stays.
  if (!inserted) {
    ui::showMessage(gbk("维修上报失败，请拔打 ") + settings_.hotline + gbk(" 电话报修。"), this);
    return;
  }
  ui::showMessage(gbk("您已成功上报设备故障，稍后会有技术人员与您联系。"), this);
  memo1->setPlainText(QString::fromUtf8(kFaultPrompt));
}

void Tform_sbbx::openPicker(int schoolMode) {
  // No refusal here: a choice made during a lesson applies to it as well.
  if (openPicker_) openPicker_(schoolMode, window()->pos());
}

void Tform_sbbx::Edit_schoolPropertiesButtonClick() { openPicker(1); }

void Tform_sbbx::Edit_teacherPropertiesButtonClick() { openPicker(0); }

void Tform_sbbx::FlatSpeedButton1Click() {
  callHook(AppHooks.switchPage, std::string(PageKey::RepairHistory));
}

void Tform_sbbx::showSignedIn() {
  header_->showSignIn();
  edit_teacher_phone->setText(text::toQString(ClientState.teacherPhone));
}

void Tform_sbbx::showSignedOut() {
  header_->showPrompts();
  edit_teacher_phone->clear();
}

void Tform_sbbx::showKnownSchoolAndTeacher() { header_->showKnown(); }

void Tform_sbbx::showChosenTeacher() {
  header_->showSignIn();
  edit_teacher_phone->setText(text::toQString(maskPhone(ClientState.teacherPhone)));
}
