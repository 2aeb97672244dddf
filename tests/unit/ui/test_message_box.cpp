// Without a sink the pages' messages are real modal boxes with one OK
// button, which the teacher has to close before the page goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "sys/text_codec.h"
#include "ui/message_box.h"

namespace {

TEST(MessageBox, ShowsTheTextWithOneOkButtonAndWaitsForIt) {
  QString shown;
  int buttons = 0;
  bool onTop = false;
  // Closes the box once it is up, as the teacher would.
  std::function<void()> closeWhenUp = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      QTimer::singleShot(10, closeWhenUp);
      return;
    }
    shown = box->text();
    buttons = static_cast<int>(box->buttons().size());
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    box->button(QMessageBox::Ok)->click();
  };
  QTimer::singleShot(0, closeWhenUp);
  ui::showMessage(text::utf8ToGbk("上课成功，请上传电子课件。"));
  EXPECT_EQ(shown, QStringLiteral("上课成功，请上传电子课件。"));
  EXPECT_EQ(buttons, 1);
  EXPECT_TRUE(onTop);
}

}  // namespace
