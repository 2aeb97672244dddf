// The upload queue page: up to five courseware files as rows, with a cancel
// button each and the button to choose the course chapter. The files and
// their upload (hash, query, store, register, retries) belong to the
// page's UploadWorkflow; the page shows what it reports.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "courseware/page_style.h"
#include "courseware/upload_workflow.h"

class QFrame;
class QLabel;
class QPushButton;

namespace server {
class GetClient;
}

class TForm_kjsc2 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxFiles = courseware::UploadWorkflow::kMaxFiles;

  // `getClient` is the queue's own GET client, which the program creates at
  // start-up (the login's resume request uses it too); it may be handed in
  // later through the workflow. The workflow reads the teacher's and the
  // lesson's values from the client state, logs to the client's log, and
  // a queue that empties turns the panel to the file choice page.
  explicit TForm_kjsc2(server::GetClient* getClient = nullptr,
                       const std::string& assetsDir = courseware::defaultAssetsDir(),
                       QWidget* parent = nullptr);
  ~TForm_kjsc2() override;

  // The files and their upload.
  courseware::UploadWorkflow& workflow() { return *workflow_; }
  const courseware::UploadWorkflow& workflow() const { return *workflow_; }
  // What "选择课程章节" does when no upload runs: open the catalog page
  // (courseware::linkCatalogPage sets it).
  void setOpenCatalogPage(std::function<void()> open) { openCatalogPage_ = std::move(open); }

  // The queue as the rest of the program uses it (see UploadWorkflow).
  bool AddFile(const std::string& sourcePath, const std::string& localCopy);
  void RemoveRow(int position);
  void StartNext();
  void ResetQueue();
  int QueuedCount() const;
  bool Uploading() const;
  // Shows the queued files as rows.
  void RefreshRows();

  // Event handlers.
  void suiImageButton6Click();
  void button14Click();
  void button24Click();
  void Button34Click();
  void Button44Click();
  void Button54Click();

  struct Row {
    QFrame* panel = nullptr;
    QLabel* name = nullptr;
    QLabel* size = nullptr;
    QLabel* state = nullptr;
    QPushButton* cancel = nullptr;
  };

  QLabel* Label19 = nullptr;
  QFrame* Bevel1 = nullptr;
  std::array<Row, kMaxFiles> rows;
  QPushButton* suiImageButton6 = nullptr;
  // The box saying a store failed and will be retried, while it is open.
  QPointer<QMessageBox> storeFailureBox;

 private:
  void buildControls(const std::string& assetsDir);
  Row buildRow(int index, const std::string& assetsDir);
  void setFirstRowState(const QString& text);
  void showMessage(const std::string& text, bool untilStored = false);

  courseware::UploadWorkflow* workflow_ = nullptr;
  std::function<void()> openCatalogPage_;
};
