// The picker's skinned controls: the caption-only tab buttons, the white
// tab panels and the lists whose double-click counts anywhere in the list.
#pragma once

#include <QListWidget>
#include <QPixmap>
#include <QWidget>

// A tab of the picker: its caption on the window's header, no face of its
// own. Reports the mouse entering, leaving and a button's release; tabs
// switch on the release, not on a click.
class SchoolTabButton : public QWidget {
  Q_OBJECT

 public:
  SchoolTabButton(const QString& caption, QWidget* parent = nullptr);
  QString text() const { return caption_; }

 signals:
  void mouseEntered();
  void mouseLeft();
  void mouseReleased();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString caption_;
};

// A tab page: its picture drawn behind its controls. A press on it stays
// there and does not drag the window.
class SchoolPanel : public QWidget {
  Q_OBJECT

 public:
  SchoolPanel(const QPixmap& picture, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
};

// A list box that reports every double-click on it, also on an empty place:
// the handler then acts on whatever item is selected.
class SchoolList : public QListWidget {
  Q_OBJECT

 public:
  explicit SchoolList(QWidget* parent = nullptr);
  // Adds an item of the list's fixed height.
  void addLine(const QString& text);

 signals:
  void doubleClickedAnywhere();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};
