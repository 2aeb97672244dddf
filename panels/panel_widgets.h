// The small controls the main panel and its pages are built from: picture
// buttons with a caption, the panel's transparent tabs, the coloured bars,
// read-only edits with an ellipsis button, and the pages' fonts.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLineEdit>
#include <QPixmap>
#include <QString>

class QToolButton;

namespace panels {

// The windows' typeface ("微软雅黑") at a pixel size.
QFont pixelFont(int pixelSize, bool bold = false);
// A picture from the program's assets folder, with every pixel of the key
// colour RGB 0,0,255 made transparent.
QPixmap keyedPicture(const std::string& assetsDir, const char* name);

// A button drawn from three pictures (normal, under the mouse, pressed),
// stretched to the button's size, with its caption centred over them.
class TSkinButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit TSkinButton(QWidget* parent = nullptr);
  void setPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed);
  void setCaptionColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap normal_, hover_, pressed_;
  QColor caption_ = Qt::white;
};

// A tab of the main panel: only its caption, over the panel's header. It
// reports the mouse coming and going so the panel can mark it.
class TTabButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit TTabButton(QWidget* parent = nullptr);
  void setCaptionColor(const QColor& color);

 signals:
  void mouseEntered();
  void mouseLeft();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QColor caption_;
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
