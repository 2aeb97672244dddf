// The offline data view, the main panel's tab "离线上传": the lessons whose
// records wait for the server (started while it could not be reached, or
// with pictures whose upload failed) and the fault reports that wait, newest
// first, page by page, and the button
// "上传全部离线数据" that sends them now and shows how it went. The tab is
// shown only while something waits.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;

namespace panels {
class HistoryList;
class TSkinButton;
}  // namespace panels

class TForm10 : public QWidget {
  Q_OBJECT

 public:
  // The upload button's pictures are read from `assetsDir`; `sendAll` asks
  // the delivery to send every kept record now.
  TForm10(const std::string& assetsDir, std::function<void()> sendAll, QWidget* parent = nullptr);

  // Reads the waiting lessons from edu.db again.
  void Refresh();

  // "上传全部离线数据": asks the delivery to send everything now.
  void suiImageButton6Click();
  // What the delivery reports while and after it sends.
  void showProgress(int delivered, int waiting);
  void showOutcome(bool reachable, int delivered, int refused, int waiting);

  panels::HistoryList* list = nullptr;
  panels::TSkinButton* suiImageButton6 = nullptr;
  QLabel* Label_upload = nullptr;  // progress and outcome of the upload

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void say(const std::string& text);
  std::function<void()> sendAll_;
  bool uploadAsked_ = false;
};
