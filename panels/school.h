// The school and teacher picker: a stay-on-top window of the size of the
// main panel, opened over it by the school and teacher buttons of the
// class-start and repair pages. The "学校" tab chooses province, city,
// district and school, the "老师" tab a teacher of that school; a
// double-click on a teacher commits the whole choice into the ClientState
// and tells the pages (the `chosen` function it is made with). Nothing is
// committed before.
//
// Lists fill at once from edu.db; the server is asked for the district's
// schools and the school's teachers through the status window's GET client,
// and each list fills again once an answer has refreshed the cache.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <string>
#include <vector>

#include "core/sign_in.h"
#include "panels/picker_opener.h"
#include "panels/school_lists.h"
#include "platform/gui/surface_drag.h"

class QComboBox;
class QLabel;
class SchoolList;
class SchoolPanel;
class SchoolTabButton;
class TImageButton;

namespace server {
class GetClient;
}

class Tform_school : public QWidget {
  Q_OBJECT

 public:
  // What a committed choice tells the pages: the school and teacher in the
  // ClientState are new; with `reloadLists` the class-start page loads its
  // lists again (a teacher of the full list, or of another school).
  using Chosen = std::function<void(bool reloadLists)>;

  // The pictures are read from `assetsDir` (school_*.png); `getClient` is
  // the status window's instance, shared with the pages.
  Tform_school(const std::string& assetsDir, server::GetClient& getClient, Chosen chosen,
               QWidget* parent = nullptr);
  ~Tform_school() override;

  // 1: opened from a school button, shows the "学校" tab; 0: from a teacher
  // button, shows the "老师" tab. Written by the pages before they show it.
  int schoolMode = 1;
  // What the pages do: set the mode, put the picker at the main panel's
  // left and top, and show it on top.
  void openAt(int mode, const QPoint& mainPanelTopLeft);
  // openAt as the function the class-start and repair pages are handed
  // (their setOpenPicker).
  panels::OpenPicker opener() {
    return [this](int mode, const QPoint& topLeft) { openAt(mode, topLeft); };
  }

  QLabel* Label1 = nullptr;
  TImageButton* suiImageButton1 = nullptr;
  SchoolTabButton* suiImageButton2 = nullptr;
  SchoolTabButton* suiImageButton3 = nullptr;
  QWidget* Shape1 = nullptr;
  QWidget* Shape2 = nullptr;
  SchoolPanel* suiImagePanel1 = nullptr;
  QComboBox* CB_shen_name = nullptr;
  QComboBox* CB_shi_name = nullptr;
  QComboBox* CB_qu_name = nullptr;
  QLabel* Label2 = nullptr;
  SchoolList* CL_school = nullptr;
  SchoolPanel* suiImagePanel2 = nullptr;
  QLabel* Label3 = nullptr;
  SchoolList* LB_teacher = nullptr;

  void ShowSchoolTab();
  void ShowTeacherTab();
  void FillSchoolList();
  void FillTeacherList();
  // The areas and school chosen in the lists, for the sign-in.
  signin::Picked pickedAreasAndSchool() const;
  // Reply handlers of the schools and teachers requests.
  void getSchool(const std::string& replyText);
  void getTeacher(const std::string& replyText);

  void suiImageButton1Click();
  void CB_shen_nameChange(int index);
  void CB_shi_nameChange(int index);
  void CB_qu_nameChange(int index);
  void CL_schoolClick();
  void CL_schoolDblClick();
  void LB_teacherDblClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void buildControls(const std::string& assetsDir);
  void FormShow();
  void showTab(SchoolTabButton* tab, SchoolPanel* shown, SchoolPanel* hidden);
  void clearSchoolList();
  // The school whose teachers the "老师" tab lists.
  std::string teacherTabSchoolID() const;
  void requestSchools(const std::string& areaID);
  void requestTeachers(const std::string& schoolID);
  // What both reply handlers do first: log the reply, finish the request and
  // take its JSON part; without one, the failure line is logged too.
  std::string acceptReply(const std::string& prefix, const char* failure, const std::string& replyText);

  Chosen chosen_;
  server::GetClient& getClient_;
  QPixmap background_;
  platform::SurfaceDrag drag_;

  std::vector<PickerChoice> provinceRows;
  std::vector<PickerChoice> cityRows;
  std::vector<PickerChoice> areaRows;
  std::vector<PickerChoice> schoolRows;
  std::vector<PickerTeacher> recentTeachers;
  std::vector<PickerTeacher> allTeachers;
  // Cleared whenever the school the teacher list is about may have changed,
  // so the list is rebuilt the next time the "老师" tab is shown.
  bool allTeachersLoaded_ = false;
};
