#include "panels/mainform.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QUrl>

#include "core/login_message.h"
#include "panels/Unit10.h"
#include "panels/Unit9.h"
#include "panels/panel_widgets.h"
#include "panels/sbbx.h"
#include "panels/school_widgets.h"
#include "panels/skjs.h"
#include "platform/gui/ui_fonts.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/page_keys.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"
#include "ui/pictures.h"

using panels::TBar;

namespace {

const QColor kBarColour(99, 196, 238);
// The product's name in the title, before the version.
const char* const kProductTitle = "教学设备管理客户端 ";
constexpr int kMostQueuedFiles = 5;

using text::gbk;

QFont panelFont() {
  QFont font = platform::yaheiFont(10);
  font.setPointSizeF(10.5);
  return font;
}

}  // namespace

// A press inside 241,55 to 251,69 (right and bottom excluded) does not drag
// the panel, the same rule as the status window's.
TForm2::TForm2(const Lesson& lesson, const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), lesson_(lesson), drag_(QRect(QPoint(241, 55), QPoint(250, 68))) {
  setObjectName("Form2");
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  FormCreate(assetsDir);
}

void TForm2::FormCreate(const std::string& assetsDir) {
  const QString backgroundPath = QString::fromStdString(assetsDir + "/panel_background.png");
  background_ = ui::scaledPicture(backgroundPath);
  if (background_.isNull()) {
    resize(360, 600);
  } else {
    resize(background_.deviceIndependentSize().toSize());
    setMask(ui::pictureAtScaleOne(background_, backgroundPath).createMaskFromColor(QColor(0, 0, 255)));
  }
  setFont(panelFont());

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->move(8, 3);
  Label1->setFont(panelFont());
  Label1->setStyleSheet("color: rgb(97,187,226); background: transparent;");
  Label1->setAttribute(Qt::WA_TransparentForMouseEvents);
  // The title is set here as well as on the first activation: a login
  // selects the first page before the panel is ever shown, and the
  // activation then no longer sets it.
  Label1->setText(text::toQString(gbk(kProductTitle)) + "v" + QString::fromUtf8(kClientVersion));
  Label1->adjustSize();

  suiImageButton1 = new TImageButton(this);
  suiImageButton1->setObjectName("suiImageButton1");
  suiImageButton1->setGeometry(336, 4, 16, 15);
  suiImageButton1->setPictures(panels::keyedPicture(assetsDir, "panel_close_normal.png"),
                               panels::keyedPicture(assetsDir, "panel_close_hover.png"),
                               panels::keyedPicture(assetsDir, "panel_close_pressed.png"));
  connect(suiImageButton1, &QAbstractButton::clicked, this, &TForm2::suiImageButton1Click);

  suiImageButton2 = addTab(PageKey::ClassStart, QRect(26, 28, 73, 25), "设备计时");
  suiImageButton3 = addTab(PageKey::FileChoice, QRect(108, 28, 79, 25), "课件上传");
  suiImageButton4 = addTab(PageKey::Repair, QRect(188, 28, 79, 25), "设备报修");
  suiImageButton5 = addTab(PageKey::Offline, QRect(266, 28, 79, 25), "离线上传");
  suiImageButton5->hide();

  Shape1 = new TBar(kBarColour, this);
  Shape1->setObjectName("Shape1");
  Shape1->setGeometry(0, 54, 65, 5);
  putBarUnder(Shape1, suiImageButton2);
  Shape2 = new TBar(kBarColour, this);
  Shape2->setObjectName("Shape2");
  Shape2->setGeometry(0, 56, 65, 3);
  Shape2->hide();

  suiImagePanel2 = new QWidget(this);
  suiImagePanel2->setObjectName("suiImagePanel2");
  suiImagePanel2->setGeometry(2, 61, 355, 536);

  setAcceptDrops(true);
}

SchoolTabButton* TForm2::addTab(const char* name, const QRect& geometry, const char* caption) {
  // The picker's tabs look and behave the same: a caption on the header that
  // switches when the mouse button is released over it.
  auto* tab = new SchoolTabButton(QString::fromUtf8(caption), this);
  tab->setObjectName(name);
  tab->setGeometry(geometry);
  tab->setFont(panelFont());
  connect(tab, &SchoolTabButton::mouseEntered, this, [this, tab] { suiImageButton3MoueEnter(tab); });
  connect(tab, &SchoolTabButton::mouseLeft, this, [this, tab] { suiImageButton3MouseExit(tab); });
  connect(tab, &SchoolTabButton::mouseReleased, this,
          ui::guarded(this, [this, tab] { suiImageButton3MouseUp(tab); }));
  return tab;
}

void TForm2::setPages(PanelPages pages) { pages_ = std::move(pages); }

SchoolTabButton* TForm2::tabOf(const std::string& key) const {
  if (key == PageKey::ClassStart) return suiImageButton2;
  if (key == PageKey::FileChoice || key == PageKey::UploadQueue) return suiImageButton3;
  if (key == PageKey::Repair) return suiImageButton4;
  if (key == PageKey::Offline) return suiImageButton5;
  return nullptr;
}

QWidget* TForm2::pageOf(const std::string& key) const {
  if (key == PageKey::ClassStart) return pages_.classStart;
  if (key == PageKey::FileChoice) return pages_.fileChoice;
  if (key == PageKey::Repair) return pages_.repair;
  if (key == PageKey::Offline) return pages_.offline;
  if (key == PageKey::UploadQueue) return pages_.uploadQueue;
  if (key == PageKey::RepairHistory) return pages_.repairHistory;
  return nullptr;
}

void TForm2::putBarUnder(TBar* bar, const SchoolTabButton* tab) { bar->move(tab->x() + 6, bar->y()); }

void TForm2::hostPage(QWidget* page) {
  // Taken in once, without its frame, and kept maximised to the page area;
  // pages shown earlier stay beneath it.
  if (page->parentWidget() != suiImagePanel2) page->setParent(suiImagePanel2, Qt::Widget);
  page->setGeometry(suiImagePanel2->rect());
}

void TForm2::switchPage(const std::string& requested) {
  static const char* const kKeys[] = {PageKey::ClassStart,   PageKey::FileChoice,  PageKey::Repair,
                                      PageKey::Offline,      PageKey::UploadQueue, PageKey::LessonHistory,
                                      PageKey::RepairHistory};
  if (std::find(std::begin(kKeys), std::end(kKeys), requested) == std::end(kKeys)) return;

  // With files queued, the courseware tab shows the queue.
  std::string key = requested;
  if (key == PageKey::FileChoice && callHook(AppHooks.queuedCount) >= 1) key = PageKey::UploadQueue;

  if (SchoolTabButton* tab = tabOf(key)) putBarUnder(Shape1, tab);
  if (QWidget* page = pageOf(key)) {
    hostPage(page);
    if (key == PageKey::ClassStart && pages_.classStart) pages_.classStart->showKnownSchoolAndTeacher();
    if (key == PageKey::Repair && pages_.repair) {
      pages_.repair->showKnownSchoolAndTeacher();
      // A lesson started or ended since the tab was last shown.
      pages_.repair->followLesson(lesson_.running());
    }
    if (key == PageKey::UploadQueue && pages_.refreshQueueRows) pages_.refreshQueueRows();
    page->show();
    page->raise();
  }
  currentPageKey_ = key;
}

void TForm2::FormActivate() {
  if (!currentPageKey_.empty()) return;
  putBarUnder(Shape1, suiImageButton2);
  Label1->setText(text::toQString(gbk(kProductTitle)) + "v" + QString::fromUtf8(kClientVersion));
  Label1->adjustSize();
  switchPage(PageKey::ClassStart);
}

void TForm2::FormShow() {
  if (currentPageKey_ == PageKey::ClassStart && pages_.classStart) pages_.classStart->FormShow1111();
  if (currentPageKey_ == PageKey::Repair && pages_.repair) pages_.repair->FormShow();
}

void TForm2::suiImageButton1Click() { hide(); }

void TForm2::setOfflineTabVisible(bool visible) { suiImageButton5->setVisible(visible); }

void TForm2::suiImageButton3MoueEnter(SchoolTabButton* tab) {
  putBarUnder(Shape2, tab);
  Shape2->show();
  Shape2->raise();
}

void TForm2::suiImageButton3MouseExit(SchoolTabButton*) { Shape2->hide(); }

void TForm2::suiImageButton3MouseUp(SchoolTabButton* tab) { switchPage(tab->objectName().toStdString()); }

void TForm2::dropFiles(const std::vector<std::string>& paths) {
  if (!lesson_.running()) {
    ui::showMessage(gbk("请先开始记时后，再上传课件！！！"), this);
    return;
  }
  if (callHook(AppHooks.uploading)) {
    ui::showMessage(gbk("正在上传课件，请稍等！！！"), this);
    return;
  }
  // Only the courseware pages take files.
  if (currentPageKey_ != PageKey::FileChoice && currentPageKey_ != PageKey::UploadQueue) return;
  if (callHook(AppHooks.queuedCount) + static_cast<int>(paths.size()) > kMostQueuedFiles) {
    ui::showMessage(gbk("一次最多上传5个文件！！！"), this);
    return;
  }
  for (const std::string& path : paths) callHook(AppHooks.copyAndAdd, path);
  if (currentPageKey_ == PageKey::FileChoice) switchPage(PageKey::UploadQueue);
}

bool TForm2::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) ui::runGuarded(this, [this] { FormActivate(); });
  return QWidget::event(event);
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) ui::runGuarded(this, [this] { FormShow(); });
}

void TForm2::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (background_.isNull()) {
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(0, 0, width(), 61, QColor(14, 68, 122));
    return;
  }
  painter.drawPixmap(0, 0, background_);
}

void TForm2::mousePressEvent(QMouseEvent* event) {
  if (!drag_.press(*this, *event)) QWidget::mousePressEvent(event);
}

void TForm2::mouseMoveEvent(QMouseEvent* event) { drag_.move(*this, *event); }

void TForm2::mouseReleaseEvent(QMouseEvent*) { drag_.release(); }

void TForm2::dragEnterEvent(QDragEnterEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void TForm2::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(text::fromQString(url.toLocalFile()));
  }
  // The drop is released before any message box opens, so the desktop that
  // dragged the files is never held up by the teacher reading it.
  event->acceptProposedAction();
  if (paths.empty()) return;
  QTimer::singleShot(0, this, ui::guarded(this, [this, paths] { dropFiles(paths); }));
}
