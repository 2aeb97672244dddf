// The small controls the main panel and its pages are built from: picture
// buttons with a caption, the coloured bars,
// read-only edits with an ellipsis button, and the pages' fonts.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLineEdit>
#include <QPixmap>
#include <QString>

#include "core/image_button.h"

class QToolButton;

namespace panels {

// The windows' typeface ("微软雅黑") at a pixel size.
QFont pixelFont(int pixelSize, bool bold = false);
// A picture from the program's assets folder, with every pixel of the key
// colour RGB 0,0,255 made transparent.
QPixmap keyedPicture(const std::string& assetsDir, const char* name);

// The status window's picture button with its caption centred over the
// pictures, which are stretched to the button's size when they are given.
class TSkinButton : public TImageButton {
  Q_OBJECT

 public:
  explicit TSkinButton(QWidget* parent = nullptr) : TImageButton(parent) {}
  // Call after the button has its size.
  void setStretchedPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool hasPictures_ = false;
};

// A plain filled bar without outline.
class TBar : public QWidget {
  Q_OBJECT

 public:
  explicit TBar(const QColor& color, QWidget* parent = nullptr);
  QColor color() const { return color_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_;
};

// A read-only edit with an ellipsis button at its right end. The button is
// named after the edit with "_button" added.
class TButtonEdit : public QLineEdit {
  Q_OBJECT

 public:
  TButtonEdit(const QString& name, QWidget* parent = nullptr);
  QToolButton* button() const { return button_; }

 signals:
  void buttonClicked();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* button_;
};

}  // namespace panels
