#include "panels/grade_class_chooser.h"

#include <QComboBox>
#include <QStringList>

#include "panels/page_controls.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "state/client_state.h"
#include "store/db_func.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"

namespace panels {
namespace {

using text::gbk;

// A running lesson's grade or class, alone behind the placeholder and
// selected, in a list the teacher cannot open: its screenshots and
// courseware go out with these ids. No rows stand behind it, so no choice
// can be read from it.
void showLessonChoice(QComboBox* list, DB_Func::RowSet& rows, const std::string& placeholder,
                      const std::string& lessonName) {
  rows = DB_Func::RowSet();
  QStringList items{text::toQString(placeholder)};
  if (!lessonName.empty()) items.append(text::toQString(lessonName));
  showChoices(list, items);
  list->setCurrentIndex(list->count() - 1);
  list->setEnabled(false);
}

}  // namespace

GradeClassChooser::GradeClassChooser(server::GetClient& client, const LessonChoice& choice,
                                     const Lesson& lesson, QWidget* surface, const Layout& layout)
    : client_(client), choice_(choice), lesson_(lesson), showCurrentChoice_(layout.showCurrentChoice) {
  gradeList_ = choiceList(surface, "CB_grade", layout.gradeGeometry, QStringLiteral("请选择年级"));
  classList_ = choiceList(surface, layout.classListName, layout.classGeometry, QStringLiteral("请选择班级"));
}

void GradeClassChooser::FillGradeList() {
  if (locked_) return showLessonChoice(gradeList_, gradeRows_, gbk("请选择年级"), lesson_.room().gradeName);
  gradeRows_ = DB_Func::QueryGrades(ClientState.schoolID);
  showRows(gradeList_, gradeRows_, "grade_name", gbk("请选择年级"), choice_.gradeName,
           choice_.gradeID.empty());
}

void GradeClassChooser::FillClassList() {
  if (locked_) return showLessonChoice(classList_, classRows_, gbk("请选择班级"), lesson_.room().className);
  classRows_ = DB_Func::QueryClasses(choice_.gradeID);
  showRows(classList_, classRows_, "class_name", gbk("请选择班级"), choice_.className,
           choice_.className.empty());
}

// The list shows the teacher's current choice when the page wants it
// and a row carries its name; a name that no row carries leaves the list
// blank. Otherwise the list starts on its placeholder.
void GradeClassChooser::showRows(QComboBox* list, DB_Func::RowSet& rows, const char* nameColumn,
                                 const std::string& placeholder, const std::string& chosenName,
                                 bool nothingChosen) {
  int selected = fillChoiceList(list, rows, nameColumn, placeholder, showCurrentChoice_ ? chosenName : "");
  if (!showCurrentChoice_ || nothingChosen) selected = 0;
  list->setCurrentIndex(selected);
  list->setEnabled(true);
}

void GradeClassChooser::lockToLesson(bool locked) {
  locked_ = locked;
  FillGradeList();
  FillClassList();
}

bool GradeClassChooser::gradeAt(int index, std::string& id, std::string& name) {
  return choiceOf(gradeRows_, index, "grade_id", "grade_name", id, name);
}

bool GradeClassChooser::classAt(int index, std::string& id, std::string& name) {
  return choiceOf(classRows_, index, "class_id", "class_name", id, name);
}

void GradeClassChooser::request(void (GradeClassChooser::*handler)(const std::string&),
                                const std::string& pathAndQuery) {
  // Not a widget itself: its grade list stands for it.
  client_.setReplyHandler(ui::guarded(
      gradeList(), [this, handler](const std::string& replyText) { (this->*handler)(replyText); }));
  client_.startRequest(pathAndQuery);
}

void GradeClassChooser::requestGrades() {
  if (ClientState.schoolID.empty()) return;
  request(&GradeClassChooser::GetGrade,
          HttpUrl::GradesOfSchool(ClientState.serverPath, ClientState.schoolID));
}

void GradeClassChooser::requestClasses() {
  request(&GradeClassChooser::GetClass,
          HttpUrl::ClassesOfGrade(ClientState.serverPath, ClientState.schoolID, choice_.gradeID));
}

// Both pages log their lists' answers under the class-start page's names.
void GradeClassChooser::GetGrade(const std::string& replyText) {
  const std::string jsonPart = takeReply(client_, "Tform_skjs.GetGrade : ", replyText);
  if (jsonPart.empty()) return;
  DB_Func::RefreshGrades(jsonPart, sentParam(client_, "schoolID"));
  FillGradeList();
}

void GradeClassChooser::GetClass(const std::string& replyText) {
  const std::string jsonPart = takeReply(client_, "Tform_skjs.GetClass : ", replyText);
  if (jsonPart.empty()) return;
  DB_Func::RefreshClasses(jsonPart, sentParam(client_, "gradeID"));
  FillClassList();
  // The classes are asked for when the grade changes: a fresh list starts on
  // its placeholder, whatever class was chosen before.
  if (!locked_) classList_->setCurrentIndex(0);
}

}  // namespace panels
