// The school and teacher lines at the top of the class-start and repair
// pages: two edits whose buttons open the picker, showing the sign-in's
// school and teacher or their prompts. Made once here for both pages; each
// page places them and decides what a click does.
#pragma once

#include <QRect>

class QWidget;

namespace panels {

class TButtonEdit;

class SchoolTeacherHeader {
 public:
  // The two edits, "Edit_school" and "Edit_teacher", on `surface` at
  // `school` and `teacher`, showing their prompts.
  SchoolTeacherHeader(QWidget* surface, const QRect& school, const QRect& teacher);

  TButtonEdit* school() const { return school_; }
  TButtonEdit* teacher() const { return teacher_; }

  // The sign-in's school and teacher, even when empty.
  void showSignIn();
  // "请选择学校" and "请选择老师".
  void showPrompts();
  // The sign-in's school and teacher, each only when it is known.
  void showKnown();

 private:
  TButtonEdit* school_ = nullptr;
  TButtonEdit* teacher_ = nullptr;
};

}  // namespace panels
