// Every window of the client, each created once and kept until the process
// ends. The status window and the upload queue are made at start-up; the
// main panel, its pages and the catalog page when the panel is first shown;
// the picker when first opened. Each window's creation may use only the
// windows made before it; the status window comes first. This is the
// program's own wiring: the windows' libraries (core, courseware, panels)
// know nothing of it.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "server/get_client.h"
#include "state/lesson.h"

class OfflineDelivery;
class TForm1;
class TForm2;
class TForm9;
class TForm10;
class TForm_kjsc;
class TForm_kjsc2;
class TForm_kjsc3;
class Tform_sbbx;
class Tform_school;
class Tform_skjs;

// A window left out of the wiring: the hook table has entries nobody filled.
struct WiringError : std::logic_error {
  using std::logic_error::logic_error;
};

struct ClientWindows {
  // The pictures and settings come from `programDir`, edu.db from
  // `dataDir`. `logSink` receives every line of the diagnostic log from the
  // start. Throws WiringError, after a log line for each, when an entry of
  // the hook table is left empty.
  ClientWindows(const std::string& programDir, const std::string& dataDir,
                std::function<void(const std::string&)> logSink = {});
  ~ClientWindows();

  // The upload queue's GET client exists before any window: the login's
  // resume request uses it.
  server::GetClient uploadQueueClient;
  // The lesson this computer is timing, and what a teacher has chosen on the
  // class-start and repair pages for the next one; both outlive every
  // window.
  Lesson lesson;
  LessonChoice pageChoice;

  std::unique_ptr<TForm1> status;
  std::unique_ptr<TForm_kjsc3> catalog;  // this one to `offline`: made with the panel
  std::unique_ptr<TForm2> panel;
  std::unique_ptr<TForm_kjsc> fileChoice;
  std::unique_ptr<Tform_skjs> classStart;
  std::unique_ptr<TForm_kjsc2> uploadQueue;
  std::unique_ptr<Tform_sbbx> repair;
  std::unique_ptr<TForm9> repairHistory;
  std::unique_ptr<TForm10> offline;
  std::unique_ptr<Tform_school> picker;  // made when first opened
  // Sends what was kept while the server could not be reached; made at once.
  std::unique_ptr<OfflineDelivery> delivery;

  // Where the disk identity came from ("disk", "diskid tool" or "none").
  std::string diskIdentitySource;

 private:
  void makePanel(const std::string& programDir, const std::string& assets, server::GetClient& statusClient);
  void followSignIn();
  void linkOfflineRecords();
  void refreshOfflineViews();
  void checkHooks();
};
