// The catalog page: before the queued courseware is uploaded the teacher
// assigns it to a grade, a subject and a catalog entry (a chapter). The lists
// fill at once from the local cache; fresh subjects and catalogs are asked of
// the server while the teacher chooses, and the cache and lists are redone
// when they come. The choice is the page's own (grade, subject, catalog
// entry): it starts from the lesson's grade and subject (or, with no lesson
// running, from what is chosen on the class-start page) and never changes
// them, so the lesson's pictures keep the lesson's. "上传文件" hides the page
// and starts the upload queue, which registers the courseware under the
// page's choice (uploadSession).
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "courseware/page_style.h"
#include "courseware/upload_workflow.h"
#include "state/lesson.h"
#include "store/row_set.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class TForm_kjsc2;

namespace server {
class GetClient;
}

class TForm_kjsc3 : public QWidget {
  Q_OBJECT

 public:
  // What the page chose: the courseware's grade, subject and catalog entry.
  struct Choice {
    std::string gradeID, gradeName;
    std::string subjectID, subjectName;
    std::string catalogID;
  };

  // `getClient` is the status window's GET client, shared with the other
  // pages; it may be handed in later with setGetClient. The choice starts
  // from `lesson`'s room while it runs, otherwise from the pages' `choice`.
  TForm_kjsc3(const Lesson& lesson, const LessonChoice& choice, server::GetClient* getClient = nullptr,
              const std::string& assetsDir = courseware::defaultAssetsDir(), QWidget* parent = nullptr);

  void setGetClient(server::GetClient* getClient) { getClient_ = getClient; }
  // What "上传文件" starts: the upload queue's StartNext.
  void setStartNext(std::function<void()> startNext) { startNext_ = std::move(startNext); }

  // Called by the upload queue before it shows the page.
  void OpenPage();
  const Choice& choice() const { return choice_; }
  // What the upload queue registers courseware under: the sign-in, the
  // lesson's id, its class, and this page's grade, subject and catalog.
  courseware::UploadSession uploadSession() const;
  void FillGrades();
  void FillSubjects();
  void FillCatalogs();

  // Event handlers.
  void CB_gradeChange();
  void CB_SubjectChange();
  void CB_catalogChange();
  void suiImageButton6Click();
  void HandleSubjectReply(const std::string& raw);
  void HandleCatalogReply(const std::string& raw);

  QLabel* Label19 = nullptr;
  QFrame* Bevel1 = nullptr;
  QComboBox* CB_grade = nullptr;
  QComboBox* CB_Subject = nullptr;
  QComboBox* CB_catalog = nullptr;
  QPushButton* suiImageButton6 = nullptr;

 private:
  void buildControls(const std::string& assetsDir);
  // Opened for another lesson than before: the choice starts again from the
  // lesson's grade and subject.
  void takeLessonChoiceWhenNew();
  void request(const std::string& pathAndQuery, void (TForm_kjsc3::*handler)(const std::string&));
  void requestCatalogs();
  // Logs the reply under `prefix`, ends its request and gives its JSON part;
  // an empty part (logged as a failure) means the server gave no answer.
  std::string takeReply(const std::string& prefix, const std::string& raw);
  // Fills `list` with `prompt` and the `column` of every row of `rows`.
  static void fill(QComboBox* list, const char* prompt, DB_Func::RowSet& rows, const char* column);

  // The lesson's room, or what the pages chose while none runs.
  const LessonChoice& lessonRoom() const;

  const Lesson& lesson_;
  const LessonChoice& pageChoice_;
  Choice choice_;
  server::GetClient* getClient_ = nullptr;
  std::function<void()> startNext_;
  // Item k (k >= 1) of each list stands for row k - 1 of its row set.
  DB_Func::RowSet grades_;
  DB_Func::RowSet subjects_;
  DB_Func::RowSet catalogs_;
  std::string choiceLesson_;  // the lesson the choice was started from
};

namespace courseware {

// Wires the two courseware pages together: the queue's "选择课程章节" puts
// the catalog page over the queue page in the main panel's page area
// (borderless, filling it), runs OpenPage and shows it; the catalog page's
// "上传文件" calls the queue's StartNext.
void linkCatalogPage(TForm_kjsc2& queue, TForm_kjsc3& catalog);

}  // namespace courseware
