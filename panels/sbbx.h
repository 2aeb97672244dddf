// The repair report page, the main panel's tab "设备报修": the teacher
// describes a fault of the classroom's equipment and sends it; the page
// confirms the report or names the repair hotline. Grade and class chosen
// here are the ClientState's, shared with the class-start page; while a
// lesson runs they are the lesson's, shown and not changeable here.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "panels/picker_opener.h"
#include "state/lesson.h"
#include "sys/deployment_settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
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

class Tform_sbbx : public QWidget {
  Q_OBJECT

 public:
  // The button pictures are read from `assetsDir`; `settings` give the
  // repair hotline and the service provider. Grade and class are chosen in
  // `choice`, shared with the class-start page; while `lesson` runs the
  // lists show its room, closed to the teacher.
  Tform_sbbx(server::GetClient& client, const Lesson& lesson, LessonChoice& choice,
             const std::string& assetsDir, panels::DeploymentSettings settings, QWidget* parent = nullptr);
  ~Tform_sbbx() override;

  void setOpenPicker(panels::OpenPicker openPicker) { openPicker_ = std::move(openPicker); }

  // Reloads both lists and asks the server for the school's grades. Runs
  // when the page is first shown, and when the main panel is shown on it.
  void FormShow();
  void FillGradeList();
  void FillClassList();
  // Shows the lists for a lesson that runs (the lesson's grade and class,
  // locked) or has just ended (the lists to choose from again).
  void followLesson(bool lessonRunning);

  // What the login and the picker show on this page.
  void showSignedIn();
  void showSignedOut();
  void showKnownSchoolAndTeacher();
  void showChosenTeacher();  // the picker's choice: the phone shown masked

  // Event handlers.
  void Edit_schoolPropertiesButtonClick();
  void Edit_teacherPropertiesButtonClick();
  void CB_gradeChange(int index);
  void CB_classChange(int index);
  void suiImageButton6Click();
  void FlatSpeedButton1Click();

  // Reply handlers; each takes the whole reply text of the GET client.
  void AddRepairs(const std::string& replyText);

  panels::TButtonEdit* Edit_school = nullptr;
  panels::TButtonEdit* Edit_teacher = nullptr;
  QLineEdit* edit_teacher_phone = nullptr;
  QComboBox* CB_grade = nullptr;
  QComboBox* CB_class = nullptr;
  QPlainTextEdit* memo1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  panels::TSkinButton* suiImageButton6 = nullptr;
  QPushButton* FlatSpeedButton1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate(const std::string& assetsDir);
  void request(void (Tform_sbbx::*handler)(const std::string&), const std::string& pathAndQuery);
  void openPicker(int schoolMode);
  // The memo's text as the server takes it: every line ended by CR LF.
  std::string faultDetail() const;

  server::GetClient& client_;
  const Lesson& lesson_;
  LessonChoice& choice_;
  panels::DeploymentSettings settings_;
  panels::OpenPicker openPicker_;
  bool shownBefore_ = false;
  long long sendingReport_ = 0;  // edu.db row of the report on its way
  // Grade and class lists, shared in kind with the class-start page; locked
  // to the lesson's values while one runs.
  std::unique_ptr<panels::SchoolTeacherHeader> header_;
  std::unique_ptr<panels::GradeClassChooser> chooser_;
};
