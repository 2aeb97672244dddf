// The file-choice page, shown while the upload queue is empty: an
// illustration inviting the teacher to drop files, and "选择上传文件", which
// opens a multi-select dialog and queues the chosen files.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>

#include "courseware/page_style.h"
#include "state/lesson.h"

class QLabel;
class QPushButton;

class TForm_kjsc : public QWidget {
  Q_OBJECT

 public:
  // Files are taken only while `lesson` runs.
  explicit TForm_kjsc(const Lesson& lesson, const std::string& assetsDir = courseware::defaultAssetsDir(),
                      QWidget* parent = nullptr);

  // The open dialog OpenDialog1: the chosen files, none when cancelled.
  // Tests put a fake in its place.
  using FileChooser = std::function<QStringList(QWidget* parent)>;
  void setFileChooser(FileChooser chooser) { chooseFiles_ = std::move(chooser); }

  void suiImageButton6Click();

  QLabel* Image7 = nullptr;
  QPushButton* suiImageButton6 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  FileChooser chooseFiles_;
  QString dropPicture_;  // decoded when the page is first shown
  const Lesson& lesson_;
};
