// The grade and class lists that the class-start and repair pages share:
// both fill them from the reference-data cache, ask the server for the
// school's grades and for a grade's classes through the page's GET client,
// and refresh the cache and the lists from the answers. What a choice in
// the lists changes is each page's own business.
#pragma once

#include <QRect>
#include <string>

#include "state/lesson.h"
#include "store/row_set.h"

class QComboBox;
class QWidget;

namespace server {
class GetClient;
}

namespace panels {

class GradeClassChooser {
 public:
  struct Layout {
    QRect gradeGeometry;
    // The class list's design name: "CB_Class" on the class-start page,
    // "CB_class" on the repair page.
    const char* classListName = "CB_Class";
    QRect classGeometry;
    // The class-start page shows the chosen grade and class when
    // the lists fill; the repair page's lists always start on their
    // placeholder.
    bool showCurrentChoice = true;
  };

  // Makes the two lists on `surface`; the requests go through `client`,
  // whose one reply slot each request takes over. The lists show `choice`
  // (what the teacher chose on the pages) or, while locked, the room of
  // `lesson`.
  GradeClassChooser(server::GetClient& client, const LessonChoice& choice, const Lesson& lesson,
                    QWidget* surface, const Layout& layout);
  GradeClassChooser(const GradeClassChooser&) = delete;
  GradeClassChooser& operator=(const GradeClassChooser&) = delete;

  QComboBox* gradeList() const { return gradeList_; }
  QComboBox* classList() const { return classList_; }

  // Fill each list from the cache: the school's grades, the current grade's
  // classes. While locked to a lesson the list shows the lesson's value.
  void FillGradeList();
  void FillClassList();
  // Locks the lists to a running lesson's grade and class (shown alone,
  // selected, and closed to the teacher), or opens them again.
  void lockToLesson(bool locked);
  bool lockedToLesson() const { return locked_; }

  // The grade or class behind item `index` of its list; false for the
  // placeholder, for an item without a row and while locked.
  bool gradeAt(int index, std::string& id, std::string& name);
  bool classAt(int index, std::string& id, std::string& name);

  // Asks the server for the school's grades (when a school is known) or
  // for the current grade's classes; the answer refreshes the cache and the
  // list.
  void requestGrades();
  void requestClasses();

  // Reply handlers; each takes the whole reply text of the GET client.
  void GetGrade(const std::string& replyText);
  void GetClass(const std::string& replyText);

 private:
  // Fills `list` from `rows` and selects its item as the page wants it.
  void showRows(QComboBox* list, DB_Func::RowSet& rows, const char* nameColumn,
                const std::string& placeholder, const std::string& chosenName, bool nothingChosen);
  void request(void (GradeClassChooser::*handler)(const std::string&), const std::string& pathAndQuery);

  server::GetClient& client_;
  const LessonChoice& choice_;
  const Lesson& lesson_;
  const bool showCurrentChoice_;
  bool locked_ = false;
  QComboBox* gradeList_ = nullptr;
  QComboBox* classList_ = nullptr;
  DB_Func::RowSet gradeRows_;
  DB_Func::RowSet classRows_;
};

}  // namespace panels
