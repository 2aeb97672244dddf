// The class-start page, the main panel's tab "设备计时": the teacher
// confirms school and teacher, picks grade, class and subject and starts the
// lesson. The choice is the pages' shared LessonChoice (the repair page
// chooses grade and class in it too); starting a lesson hands it to the
// Lesson, whose signals the page follows. The page keeps the row sets behind
// its three lists (grade and class in its chooser). Server requests go
// through the status window's GET client, whose one reply slot each request
// takes over.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "panels/picker_opener.h"
#include "state/lesson.h"
#include "store/row_set.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace server {
class GetClient;
}

namespace panels {
class GradeClassChooser;
class SchoolTeacherHeader;
class TButtonEdit;
class TSkinButton;
}  // namespace panels

class Tform_skjs : public QWidget {
  Q_OBJECT

 public:
  // The pictures of the start button are read from `assetsDir`. The page
  // starts `lesson` with what is chosen in `choice`, and shows the lesson
  // however it began, stopped or was taken up again.
  Tform_skjs(server::GetClient& client, Lesson& lesson, LessonChoice& choice, const std::string& assetsDir,
             QWidget* parent = nullptr);
  ~Tform_skjs() override;

  void setOpenPicker(panels::OpenPicker openPicker) { openPicker_ = std::move(openPicker); }

  // Reloads the three lists from the cache and asks the server for the
  // school's grades; does nothing while a lesson is being timed.
  void FormShow1111();
  // The same whether or not a lesson is being timed.
  void ReloadLists();
  void FillGradeList();
  void FillClassList();
  void FillSubjectList();

  // What the lesson and the sign-in show on this page.
  void showIdle();                                 // start label hidden, start button back
  void showResumed(const std::string& beginTime);  // a running lesson taken up again
  // A login or logout: the lists back to their prompts, the choice cleared,
  // the school and teacher edits filled (or back to their prompts).
  void showSignedIn();
  void showSignedOut();
  // The school and teacher of the ClientState, each when it is known.
  void showKnownSchoolAndTeacher();

  // Event handlers.
  void cxButtonEdit1PropertiesButtonClick();
  void cxButtonEdit2PropertiesButtonClick();
  void CB_gradeChange(int index);
  void CB_ClassChange(int index);
  void CB_SubjectChange(int index);
  void bu_ksskClick();
  void FlatSpeedButton1Click();

  // Reply handlers; each takes the whole reply text of the GET client.
  void StartCountTime(const std::string& replyText);
  void GetSubject(const std::string& replyText);

  panels::TButtonEdit* Edit_school = nullptr;
  panels::TButtonEdit* Edit_teacher = nullptr;
  QComboBox* CB_grade = nullptr;
  QComboBox* CB_Class = nullptr;
  QComboBox* CB_Subject = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QPushButton* FlatSpeedButton1 = nullptr;
  panels::TSkinButton* bu_kssk = nullptr;

 private:
  void FormCreate(const std::string& assetsDir);
  // Installs `handler` in the client's reply slot and starts the request.
  void request(void (Tform_skjs::*handler)(const std::string&), const std::string& pathAndQuery);
  // The log line and completion step every reply handler begins with; the
  // JSON part, empty when the request failed.
  std::string takeReply(const std::string& prefix, const std::string& replyText);
  void openPicker(int schoolMode, const char* refusal);
  // The lesson began here: start label and start button.
  void showStarted();
  // The lesson was taken up again: the choice is the lesson's, the lists
  // show it.
  void followResumedLesson();
  // The server did not give the lesson an id: it runs under a local one.
  void startOffline();

  server::GetClient& client_;
  Lesson& lesson_;
  LessonChoice& choice_;
  panels::OpenPicker openPicker_;
  // Grade and class lists, shared in kind with the repair page.
  std::unique_ptr<panels::SchoolTeacherHeader> header_;
  std::unique_ptr<panels::GradeClassChooser> chooser_;
  DB_Func::RowSet subjectRows;
};
