#include "courseware/page_style.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include "platform/gui/ui_fonts.h"
#include "platform/program_dir.h"

namespace courseware {

QFont pageFont(int pixelSize) {
  QFont font = platform::yaheiFont(9);
  font.setPixelSize(pixelSize);
  return font;
}

void setUpPage(QWidget* page, const char* objectName, int width, int height) {
  page->setObjectName(objectName);
  page->resize(width, height);
  page->setAutoFillBackground(true);
  QPalette white = page->palette();
  white.setColor(QPalette::Window, Qt::white);
  page->setPalette(white);
  page->setFont(pageFont(14));
}

QLabel* makeHint(QWidget* parent, const QString& text, int left, int top, const QString& style) {
  auto* label = new QLabel(text, parent);
  label->setObjectName("Label19");
  label->move(left, top);
  label->setStyleSheet(style);
  label->adjustSize();
  return label;
}

QFrame* makeDivider(QWidget* parent, const QRect& geometry) {
  auto* line = new QFrame(parent);
  line->setGeometry(geometry);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

std::string defaultAssetsDir() { return platform::programDir() + "/assets"; }

QString picturePath(const std::string& assetsDir, const char* name) {
  return QString::fromStdString(assetsDir) + "/" + QString::fromLatin1(name);
}

QPushButton* makeWideButton(QWidget* parent, const QString& caption, const std::string& assetsDir) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName("suiImageButton6");
  button->setGeometry(50, 460, 253, 42);
  button->setFont(pageFont(16));
  button->setCursor(Qt::PointingHandCursor);
  button->setFocusPolicy(Qt::NoFocus);
  // A missing picture leaves a plain blue face, never an invisible button.
  button->setStyleSheet(
      QString("QPushButton { color: white; font-size: 16px; background: rgb(38,146,219); border: none;"
              " border-image: url(%1) 0 0 0 0 stretch stretch; }"
              "QPushButton:hover { border-image: url(%2) 0 0 0 0 stretch stretch; }"
              "QPushButton:pressed { border-image: url(%3) 0 0 0 0 stretch stretch; }")
          .arg(picturePath(assetsDir, "kjsc_button_normal.png"),
               picturePath(assetsDir, "kjsc_button_hover.png"),
               picturePath(assetsDir, "kjsc_button_pressed.png")));
  return button;
}

}  // namespace courseware
