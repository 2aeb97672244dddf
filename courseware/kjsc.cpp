#include "courseware/kjsc.h"

#include <QFileDialog>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "courseware/kjsc2.h"
#include "state/app_hooks.h"
#include "state/page_keys.h"
#include "sys/qt_text.h"
#include "ui/message_box.h"
#include "ui/pictures.h"

namespace {

QStringList openDialog1(QWidget* parent) {
  QFileDialog dialog(parent, QString::fromUtf8("请选择需要上传的文件"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  // Every file, whether its name has a dot or not; the list shows only the
  // description.
  dialog.setNameFilter(QString::fromUtf8("所有文件（*.*） (*)"));
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

void message(const char* utf8, QWidget* parent) { ui::showMessage(text::utf8ToGbk(utf8), parent); }

}  // namespace

TForm_kjsc::TForm_kjsc(const Lesson& lesson, const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), chooseFiles_(openDialog1), lesson_(lesson) {
  courseware::setUpPage(this, "Form_kjsc", 393, 607);

  Image7 = new QLabel(this);
  Image7->setObjectName("Image7");
  Image7->setGeometry(0, 0, 356, 366);
  dropPicture_ = courseware::picturePath(assetsDir, "kjsc_drop.png");
  Image7->setScaledContents(true);

  suiImageButton6 = courseware::makeWideButton(this, QString::fromUtf8("选择上传文件"), assetsDir);
  connect(suiImageButton6, &QPushButton::clicked, this, &TForm_kjsc::suiImageButton6Click);
}

void TForm_kjsc::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Half a megabyte once decoded: only for a teacher who comes to this page.
  if (!dropPicture_.isEmpty()) {
    Image7->setPixmap(ui::scaledPicture(dropPicture_));
    dropPicture_.clear();
  }
}

void TForm_kjsc::suiImageButton6Click() {
  if (!lesson_.running()) {
    message("请先开始记时后，再上传课件！！！", this);
    return;
  }
  if (callHook(AppHooks.uploading)) {
    message("正在上传课件，请稍等！！！", this);
    return;
  }
  const QStringList chosen = chooseFiles_ ? chooseFiles_(this) : QStringList();
  const int count = static_cast<int>(chosen.size());
  if (callHook(AppHooks.queuedCount) + count > TForm_kjsc2::kMaxFiles) {
    message("一次最多上传5个文件！！！", this);
    return;
  }
  for (const QString& path : chosen) callHook(AppHooks.copyAndAdd, text::fromQString(path));
  if (count > 0 && callHook(AppHooks.currentPageKey) == PageKey::FileChoice) {
    callHook(AppHooks.switchPage, std::string(PageKey::UploadQueue));
  }
}
