// panel-shots FOLDER: draws the main panel offscreen on each of its pages,
// signed in as a demo teacher with the lists filled from the edu.db in the
// data folder (the demo's copy of the program folder holds the demo rows), and writes one PNG per page into
// FOLDER. Nothing is sent to a server: the pages show what the cache holds.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <cstdio>

#include "courseware/kjsc.h"
#include "courseware/kjsc2.h"
#include "panels/Unit10.h"
#include "panels/Unit9.h"
#include "panels/mainform.h"
#include "panels/panel_hooks.h"
#include "panels/panel_widgets.h"
#include "panels/sbbx.h"
#include "panels/school_widgets.h"
#include "panels/skjs.h"
#include "platform/data_dir.h"
#include "platform/program_dir.h"
#include "server/get_client.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/page_keys.h"
#include "store/db_func.h"
#include "sys/qt_text.h"

namespace {

// The panel as the screen shows it: what its shape cuts away is transparent.
bool writeShot(TForm2& panel, const QString& file) {
  QImage shot = panel.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QRegion shape = panel.mask();
  if (!shape.isEmpty()) {
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x)
        if (!shape.contains(QPoint(x, y))) shot.setPixelColor(x, y, Qt::transparent);
  }
  const bool written = shot.save(file);
  std::printf("%s %s\n", written ? "wrote" : "could not write", file.toLocal8Bit().constData());
  return written;
}

void choose(QComboBox* list, int index) {
  list->setCurrentIndex(index);
  emit list->activated(index);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: panel-shots FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  const std::string programDir = platform::programDir();
  if (!DB_Func::LocateDatabase()) {
    std::fprintf(stderr, "panel-shots: no edu.db in %s\n", platform::dataDir().c_str());
    return 1;
  }

  ClientState.loginState = true;
  ClientState.teacherID = "2001";
  ClientState.teacherName = text::utf8ToGbk("张伟");
  ClientState.teacherPhone = "13810012001";
  ClientState.schoolID = "1001";
  ClientState.schoolName = text::utf8ToGbk("东城区第一实验小学");
  ClientState.serverPath = "/";

  Lesson lesson;
  LessonChoice choice;

  server::GetClient client;  // no server: every request fails at once
  const std::string assets = programDir + "/assets";
  TForm2 panel(lesson, assets);
  Tform_skjs classStart(client, lesson, choice, assets);
  TForm_kjsc fileChoice(lesson, assets);
  Tform_sbbx repair(client, lesson, choice, assets, panels::loadDeploymentSettings(programDir));
  TForm10 offline(assets, [] {});  // pictures only: nothing is sent
  TForm_kjsc2 uploadQueue(nullptr, assets);
  TForm9 history;
  panel.setPages({.classStart = &classStart,
                  .fileChoice = &fileChoice,
                  .repair = &repair,
                  .offline = &offline,
                  .uploadQueue = &uploadQueue,
                  .repairHistory = &history,
                  .refreshQueueRows = [&uploadQueue] { uploadQueue.RefreshRows(); }});
  installPanelHooks(panel);
  callHook(AppHooks.switchPage, std::string(PageKey::ClassStart));
  panel.show();

  bool ok = writeShot(panel, folder + "/panel_class_start.png");
  choose(classStart.CB_grade, 1);
  choose(classStart.CB_Class, 1);
  classStart.FillSubjectList();
  choose(classStart.CB_Subject, 2);
  // The thin bar under the tab the mouse is over.
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(panel.suiImageButton4, &enter);
  ok = writeShot(panel, folder + "/panel_class_start_chosen.png") && ok;
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(panel.suiImageButton4, &leave);
  classStart.showResumed("2026-03-02 08:05:00");
  ok = writeShot(panel, folder + "/panel_class_start_running.png") && ok;

  const struct {
    const char* key;
    const char* file;
  } pages[] = {{PageKey::FileChoice, "panel_file_choice.png"},
               {PageKey::UploadQueue, "panel_upload_queue.png"},
               {PageKey::Repair, "panel_repair.png"},
               {PageKey::Offline, "panel_offline.png"},
               {PageKey::RepairHistory, "panel_repair_history.png"}};
  for (const auto& page : pages) {
    panel.switchPage(page.key);
    ok = writeShot(panel, folder + "/" + page.file) && ok;
  }
  // During a lesson the repair page shows the lesson's grade and class, locked.
  lesson.start("1", choice, "2026-03-02 08:05:00");
  panel.switchPage(PageKey::Repair);
  ok = writeShot(panel, folder + "/panel_repair_lesson.png") && ok;
  return ok ? 0 : 1;
}
