#include "panels/school_teacher_header.h"

#include "panels/panel_widgets.h"
#include "state/client_state.h"
#include "sys/qt_text.h"

namespace panels {

SchoolTeacherHeader::SchoolTeacherHeader(QWidget* surface, const QRect& school, const QRect& teacher) {
  school_ = new TButtonEdit("Edit_school", surface);
  school_->setGeometry(school);
  teacher_ = new TButtonEdit("Edit_teacher", surface);
  teacher_->setGeometry(teacher);
  for (TButtonEdit* edit : {school_, teacher_}) edit->setFont(pixelFont(16));
  showPrompts();
}

void SchoolTeacherHeader::showSignIn() {
  school_->setText(text::toQString(ClientState.schoolName));
  teacher_->setText(text::toQString(ClientState.teacherName));
}

void SchoolTeacherHeader::showPrompts() {
  school_->setText(QStringLiteral("请选择学校"));
  teacher_->setText(QStringLiteral("请选择老师"));
}

void SchoolTeacherHeader::showKnown() {
  if (!ClientState.schoolName.empty()) school_->setText(text::toQString(ClientState.schoolName));
  if (!ClientState.teacherName.empty()) teacher_->setText(text::toQString(ClientState.teacherName));
}

}  // namespace panels
