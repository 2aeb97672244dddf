// The repair history: a fixed view of sample repair entries, reached only
// from the repair page's hidden link. Its "<<" button hides it.
#pragma once

#include <QWidget>

class QPushButton;

class TForm9 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm9(QWidget* parent = nullptr);

  void FlatButton4Click();

  QPushButton* FlatButton4 = nullptr;
};
