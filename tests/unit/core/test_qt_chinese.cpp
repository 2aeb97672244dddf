// Qt's own buttons and dialog labels read in Chinese once the program folder's
// translation is installed, and a folder without one leaves Qt's search to
// its own place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include "core/qt_chinese.h"
#include "tests/support/test_support.h"

namespace {

TEST(QtChineseTexts, MessageBoxButtonsAndFileDialogLabelsReadInChinese) {
  ASSERT_TRUE(installQtChineseTexts(*QCoreApplication::instance(), testsupport::programDir()));

  QMessageBox box(QMessageBox::NoIcon, "提示", "text", QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8("取消"));

  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  QStringList labels;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
  EXPECT_FALSE(labels.contains("File &name:")) << labels.join('|').toStdString();
}

}  // namespace
