// The main panel: the 360 x 600 borderless, always-on-top working window
// that the status window opens beside itself. Under its title it carries
// four tabs and a page area in which exactly one page window is on top; the
// pages are separate windows taken in as borderless children. During a
// lesson it also accepts courseware files dropped on it.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/gui/surface_drag.h"
#include "state/lesson.h"

class QLabel;
class TImageButton;
class Tform_sbbx;
class Tform_skjs;
class TForm9;
class TForm10;

class SchoolTabButton;

namespace panels {
class TBar;
}  // namespace panels

// The page windows the panel hosts, by page key. The courseware pages are
// another module's; any page left out is simply not shown. Fill it by name
// (`PanelPages{.classStart = ..., .repair = ...}`), so that a field added
// later cannot shift the others.
struct PanelPages {
  Tform_skjs* classStart = nullptr;             // PageKey::ClassStart
  QWidget* fileChoice = nullptr;                // PageKey::FileChoice
  Tform_sbbx* repair = nullptr;                 // PageKey::Repair
  TForm10* offline = nullptr;                   // PageKey::Offline
  QWidget* uploadQueue = nullptr;               // PageKey::UploadQueue
  TForm9* repairHistory = nullptr;              // PageKey::RepairHistory
  std::function<void()> refreshQueueRows = {};  // the upload queue redraws its rows
};

class TForm2 : public QWidget {
  Q_OBJECT

 public:
  // The pictures are read from `assetsDir` (panel_*.png). Files are taken
  // only while `lesson` runs.
  TForm2(const Lesson& lesson, const std::string& assetsDir, QWidget* parent = nullptr);

  void setPages(PanelPages pages);

  // Makes the page of a key (state/page_keys.h) current.
  // PageKey::LessonHistory names a page that does not exist: it becomes the
  // current key and nothing else changes. Unknown keys are ignored.
  void switchPage(const std::string& key);
  const std::string& currentPageKey() const { return currentPageKey_; }
  // The tab "离线上传" shows only while records wait for the server.
  void setOfflineTabVisible(bool visible);

  // Files dropped on the panel (GBK paths, in the drop's order).
  void dropFiles(const std::vector<std::string>& paths);

  // Event handlers.
  void FormActivate();
  void FormShow();
  void suiImageButton1Click();
  void suiImageButton3MoueEnter(SchoolTabButton* tab);
  void suiImageButton3MouseExit(SchoolTabButton* tab);
  void suiImageButton3MouseUp(SchoolTabButton* tab);

  QLabel* Label1 = nullptr;
  TImageButton* suiImageButton1 = nullptr;
  SchoolTabButton* suiImageButton2 = nullptr;
  SchoolTabButton* suiImageButton3 = nullptr;
  SchoolTabButton* suiImageButton4 = nullptr;
  SchoolTabButton* suiImageButton5 = nullptr;
  panels::TBar* Shape1 = nullptr;
  panels::TBar* Shape2 = nullptr;
  QWidget* suiImagePanel2 = nullptr;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FormCreate(const std::string& assetsDir);
  SchoolTabButton* addTab(const char* name, const QRect& geometry, const char* caption);
  // The tab a key's bar stands under; none for the keys without a tab.
  SchoolTabButton* tabOf(const std::string& key) const;
  QWidget* pageOf(const std::string& key) const;
  void putBarUnder(panels::TBar* bar, const SchoolTabButton* tab);
  void hostPage(QWidget* page);

  QPixmap background_;
  const Lesson& lesson_;
  PanelPages pages_;
  std::string currentPageKey_;
  platform::SurfaceDrag drag_;
};
