// The class-start page, the main panel's tab "设备计时": the teacher
// confirms school and teacher, picks grade, class and subject and starts the
// lesson. Every choice goes into the ClientState; the page keeps only the
// row sets behind its three lists (grade and class in its chooser). Server requests go through the status
// window's GET client, whose one reply slot each request takes over.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "panels/picker_opener.h"
#include "store/row_set.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace server {
class GetClient;
}

namespace panels {
class GradeClassChooser;
class TButtonEdit;
class TSkinButton;
}  // namespace panels

class Tform_skjs : public QWidget {
  Q_OBJECT

 public:
  // The pictures of the start button are read from `assetsDir`.
  Tform_skjs(server::GetClient& client, const std::string& assetsDir, QWidget* parent = nullptr);
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

  // The writes of the status window and the login into this page.
  void showIdle();                                 // start label hidden, start button back
  void showResumed(const std::string& beginTime);  // a running lesson taken up again
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
  // The lesson is running: start label, timers, counter, start button.
  void beginLesson();
  // The server did not give the lesson an id: it runs under a local one.
  void startOffline();

  server::GetClient& client_;
  panels::OpenPicker openPicker_;
  // Grade and class lists, shared in kind with the repair page.
  std::unique_ptr<panels::GradeClassChooser> chooser_;
  DB_Func::RowSet subjectRows;
};
