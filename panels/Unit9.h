// The repair history: every fault report made on this computer, newest
// first, delivered or still waiting for the server, page by page. Reached
// from the repair page's link "查看历史维修记录>>>"; its "<<" button hides it.
#pragma once

#include <QWidget>

class QPushButton;

namespace panels {
class HistoryList;
}

class TForm9 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm9(QWidget* parent = nullptr);

  // Reads the reports from edu.db again.
  void Refresh();
  void FlatButton4Click();

  QPushButton* FlatButton4 = nullptr;
  panels::HistoryList* list = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};
