#include "courseware/kjsc3.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "courseware/kjsc2.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/lesson_record.h"
#include "store/db_func.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"

namespace {

QString utf8(const char* text) { return QString::fromUtf8(text); }

void appendLog(const std::string& line) { callHook(AppHooks.appendLog, line); }

// The row behind list item `index` (1 and up); false for the prompt or an
// item with no row.
bool moveToItem(DB_Func::RowSet& rows, int index) {
  return index > 0 && rows.moveTo(static_cast<size_t>(index - 1));
}

QComboBox* makeList(QWidget* parent, const char* name, int top, const char* prompt) {
  auto* list = new QComboBox(parent);
  list->setObjectName(name);
  list->setGeometry(14, top, 315, 28);
  list->setStyleSheet("QComboBox { color: rgb(102,102,102); }");
  list->addItem(utf8(prompt));
  list->setCurrentIndex(0);
  return list;
}

}  // namespace

TForm_kjsc3::TForm_kjsc3(const Lesson& lesson, const LessonChoice& choice, server::GetClient* getClient,
                         const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), lesson_(lesson), pageChoice_(choice), getClient_(getClient) {
  buildControls(assetsDir);
}

void TForm_kjsc3::buildControls(const std::string& assetsDir) {
  courseware::setUpPage(this, "Form_kjsc3", 375, 585);
  Label19 = courseware::makeHint(this, utf8("上传文件之前，请选择课件对应课程与章节"), 13, 14,
                                 "color: rgb(102,102,102); background: transparent;");
  Bevel1 = courseware::makeDivider(this, QRect(6, 51, 346, 2));
  Bevel1->setObjectName("Bevel1");

  CB_grade = makeList(this, "CB_grade", 71, "请选择年级");
  CB_Subject = makeList(this, "CB_Subject", 125, "请选择课程");
  CB_catalog = makeList(this, "CB_catalog", 180, "请选择章节");
  // Only the teacher's choices count as changes, never the fills.
  connect(CB_grade, &QComboBox::activated, this, ui::guarded(this, &TForm_kjsc3::CB_gradeChange));
  connect(CB_Subject, &QComboBox::activated, this, ui::guarded(this, &TForm_kjsc3::CB_SubjectChange));
  connect(CB_catalog, &QComboBox::activated, this, ui::guarded(this, &TForm_kjsc3::CB_catalogChange));

  suiImageButton6 = courseware::makeWideButton(this, utf8("上传文件"), assetsDir);
  connect(suiImageButton6, &QPushButton::clicked, this,
          ui::guarded(this, &TForm_kjsc3::suiImageButton6Click));
}

void TForm_kjsc3::fill(QComboBox* list, const char* prompt, DB_Func::RowSet& rows, const char* column) {
  list->clear();
  list->addItem(utf8(prompt));
  for (size_t row = 0; row < rows.rowCount(); ++row) {
    rows.moveTo(row);
    list->addItem(text::toQString(rows.text(column)));
  }
  // As after a clear: nothing is selected until the caller says so.
  list->setCurrentIndex(-1);
}

void TForm_kjsc3::OpenPage() {
  takeLessonChoiceWhenNew();
  FillGrades();
  FillSubjects();
  CB_catalog->clear();
  CB_catalog->addItem(utf8("请选择章节"));
  CB_catalog->setCurrentIndex(0);
  choice_.catalogID.clear();
  if (!ClientState.schoolID.empty()) requestCatalogs();
}

const LessonChoice& TForm_kjsc3::lessonRoom() const {
  return lesson_.running() ? lesson_.room() : pageChoice_;
}

courseware::UploadSession TForm_kjsc3::uploadSession() const {
  courseware::UploadSession session = courseware::sessionOfSignIn(ClientState);
  const DB_Func::LessonRecord lesson = lessonRecord(ClientState, lesson_.processID(), lessonRoom(), "");
  session.processID = lesson.processID;
  session.classID = lesson.classID;
  // The courseware goes with this page's grade and subject.
  session.gradeID = choice_.gradeID;
  session.subjectID = choice_.subjectID;
  session.catalogID = choice_.catalogID;
  return session;
}

void TForm_kjsc3::takeLessonChoiceWhenNew() {
  // The lesson's choices, which stay when the server later names the lesson.
  const LessonChoice& room = lessonRoom();
  const std::string lesson =
      ClientState.teacherID + '\x1f' + room.gradeID + '\x1f' + room.classID + '\x1f' + room.subjectID;
  if (lesson == choiceLesson_) return;
  choiceLesson_ = lesson;
  choice_.gradeID = room.gradeID;
  choice_.gradeName = room.gradeName;
  choice_.subjectID = room.subjectID;
  choice_.subjectName = room.subjectName;
}

void TForm_kjsc3::FillGrades() {
  grades_ = DB_Func::QueryGrades(ClientState.schoolID);
  fill(CB_grade, "请选择年级", grades_, "grade_name");
  int match = CB_grade->findText(text::toQString(choice_.gradeName), Qt::MatchExactly);
  if (match > 0) CB_grade->setCurrentIndex(match);
  if (choice_.gradeID.empty()) CB_grade->setCurrentIndex(0);
}

void TForm_kjsc3::FillSubjects() {
  subjects_ = DB_Func::QuerySubjects(choice_.gradeID);
  fill(CB_Subject, "请选择学科", subjects_, "subject_name");
  CB_Subject->setCurrentIndex(0);
}

void TForm_kjsc3::FillCatalogs() {
  catalogs_ = DB_Func::QueryCatalogs(choice_.subjectID, choice_.gradeID);
  fill(CB_catalog, "请选择章节", catalogs_, "catalog_name");
  CB_catalog->setCurrentIndex(0);
}

void TForm_kjsc3::CB_gradeChange() {
  if (!moveToItem(grades_, CB_grade->currentIndex())) return;
  const std::string gradeID = grades_.text("grade_id");
  if (gradeID.empty() || gradeID == choice_.gradeID) return;
  choice_.gradeID = gradeID;
  choice_.gradeName = grades_.text("grade_name");
  FillCatalogs();
  FillSubjects();
  choice_.subjectID.clear();
  choice_.subjectName.clear();
  request(HttpUrl::SubjectsOfGrade(ClientState.serverPath, gradeID), &TForm_kjsc3::HandleSubjectReply);
}

void TForm_kjsc3::CB_SubjectChange() {
  if (!moveToItem(subjects_, CB_Subject->currentIndex())) return;
  const std::string subjectID = subjects_.text("subject_id");
  if (subjectID.empty() || subjectID == choice_.subjectID) return;
  choice_.subjectID = subjectID;
  choice_.subjectName = subjects_.text("subject_name");
  FillCatalogs();
  requestCatalogs();
}

void TForm_kjsc3::CB_catalogChange() {
  if (!moveToItem(catalogs_, CB_catalog->currentIndex())) return;
  choice_.catalogID = catalogs_.text("catalog_id");
}

void TForm_kjsc3::suiImageButton6Click() {
  if (choice_.catalogID.empty()) {
    ui::showMessage(text::utf8ToGbk("您还没有选择对应的章节，无法上传课件。"), this);
  }
  // The queue itself declines to start without a catalog.
  hide();
  if (startNext_) startNext_();
}

void TForm_kjsc3::requestCatalogs() {
  request(HttpUrl::CatalogsOfSubject(ClientState.serverPath, ClientState.schoolID, choice_.gradeID,
                                     choice_.subjectID),
          &TForm_kjsc3::HandleCatalogReply);
}

void TForm_kjsc3::request(const std::string& pathAndQuery, void (TForm_kjsc3::*handler)(const std::string&)) {
  if (getClient_ == nullptr) return;
  QPointer<TForm_kjsc3> self(this);
  getClient_->setReplyHandler(ui::guarded(this, [self, handler](const std::string& raw) {
    if (self) (self.data()->*handler)(raw);
  }));
  getClient_->startRequest(pathAndQuery);
}

std::string TForm_kjsc3::takeReply(const std::string& prefix, const std::string& raw) {
  appendLog(prefix + raw);
  const std::string jsonPart = Json_Func::ExtractJsonPart(raw);
  getClient_->finishRequest(jsonPart);
  if (jsonPart.empty()) appendLog(prefix + text::utf8ToGbk("  无法访问服务器！"));
  return jsonPart;
}

void TForm_kjsc3::HandleSubjectReply(const std::string& raw) {
  const std::string jsonPart = takeReply("TForm_kjsc3.GetSubject : ", raw);
  if (jsonPart.empty()) return;
  const std::string gradeID = queryParam(getClient_->lastPathAndQuery(), "gradeID");
  DB_Func::RefreshSubjects(jsonPart, gradeID);
  FillSubjects();
}

void TForm_kjsc3::HandleCatalogReply(const std::string& raw) {
  const std::string jsonPart = takeReply("TForm_kjsc3.GetCatalog : ", raw);
  if (jsonPart.empty()) return;
  const std::string pathAndQuery = getClient_->lastPathAndQuery();
  const std::string gradeID = queryParam(pathAndQuery, "gradeID");
  const std::string subjectID = queryParam(pathAndQuery, "subjectID");
  DB_Func::RefreshCatalogs(jsonPart, subjectID, gradeID);
  FillCatalogs();
}

namespace courseware {

void linkCatalogPage(TForm_kjsc2& queue, TForm_kjsc3& catalog) {
  QPointer<TForm_kjsc2> queuePage(&queue);
  QPointer<TForm_kjsc3> catalogPage(&catalog);
  queue.workflow().setSession(
      [catalogPage] { return catalogPage ? catalogPage->uploadSession() : sessionOfSignIn(ClientState); });
  catalog.setStartNext([queuePage] {
    if (queuePage) queuePage->StartNext();
  });
  queue.setOpenCatalogPage([queuePage, catalogPage] {
    if (!queuePage || !catalogPage) return;
    if (QWidget* area = queuePage->parentWidget()) {
      catalogPage->setParent(area);
      catalogPage->setGeometry(area->rect());
    }
    catalogPage->OpenPage();
    catalogPage->show();
    catalogPage->raise();
  });
}

}  // namespace courseware
