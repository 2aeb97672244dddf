#include "app/client_windows.h"

#include <QMessageBox>
#include <QPointer>

#include "core/fdck.h"
#include "core/offline_delivery.h"
#include "core/sign_in.h"
#include "courseware/kjsc.h"
#include "courseware/kjsc2.h"
#include "courseware/kjsc3.h"
#include "courseware/queue_hooks.h"
#include "panels/Unit10.h"
#include "panels/Unit9.h"
#include "panels/mainform.h"
#include "panels/panel_hooks.h"
#include "panels/sbbx.h"
#include "panels/school.h"
#include "panels/skjs.h"
#include "platform/free_memory.h"
#include "platform/tls_trust.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/deployment_settings.h"
#include "sys/hd_serial.h"

namespace {

// Whom TLS connections trust, and how a refused one is made known: each
// refusal in the log with host, port and reason, and one plain notice for
// the teacher per streak of them. Refusals may come from upload workers, so
// both go to the UI thread first.
void installTlsTrust(const panels::DeploymentSettings& settings, TForm1* status) {
  platform::TlsTrust trust;
  trust.caFile = settings.caFile;
  trust.pin = settings.serverPin;
  platform::setTlsTrust(trust);
  const QPointer<TForm1> window(status);
  platform::setTlsRefusalHooks(
      [window](const std::string& line) {
        if (!window) return;
        QMetaObject::invokeMethod(
            window, [window, line] { window->appendLog(line); }, Qt::QueuedConnection);
      },
      [window] {
        if (!window) return;
        QMetaObject::invokeMethod(
            window,
            [window] {
              auto* box =
                  new QMessageBox(QMessageBox::NoIcon, "提示",
                                  "与服务器的安全连接未通过检查，暂时无法与服务器通信。请联系学校电教室。",
                                  QMessageBox::Ok, window);
              box->setAttribute(Qt::WA_DeleteOnClose);
              box->setObjectName("tls_notice");
              box->show();
            },
            Qt::QueuedConnection);
      });
}

}  // namespace

ClientWindows::ClientWindows(const std::string& programDir, const std::string& dataDir,
                             std::function<void(const std::string&)> logSink) {
  const std::string assets = programDir + "/assets";

  status = std::make_unique<TForm1>(lesson, assets);
  status->setLogSink(std::move(logSink));
  installStatusWindowHooks(*status);
  const panels::DeploymentSettings settings = panels::loadDeploymentSettings(programDir);
  installTlsTrust(settings, status.get());
  status->setUploadQueueClient(&uploadQueueClient);
  // The rest of the status window's creation: the windows after it read
  // edu.db, and the lesson requests carry the disk serial.
  DB_Func::LocateDatabaseIn(dataDir);
  try {
    DB_Func::EnsureOwnTables();
  } catch (const DB_Func::DbError& error) {
    // Without them nothing is kept for later; everything else works.
    status->appendLog(std::string("edu.db: the offline tables cannot be made: ") + error.what());
  }
  const DiskIdentity disk = ReadDiskIdentityAndSource();
  signin::setComputer(disk.serial, settings.ftpTls);
  diskIdentitySource = disk.source;
  server::GetClient& statusClient = status->getClient();
  // Every request of both clients, and how it ended, reaches the log.
  const auto logRequest = [form = status.get()](const std::string& line) { form->appendLog(line); };
  statusClient.setRequestLog(logRequest);
  uploadQueueClient.setRequestLog(logRequest);

  // What could not reach the server goes later, as soon as it answers.
  delivery = std::make_unique<OfflineDelivery>();
  delivery->setLesson(&lesson);
  delivery->setRetryInterval(std::chrono::seconds(settings.offlineRetrySeconds));
  delivery->setLog([form = status.get()](const std::string& line) { form->appendLog(line); });
  for (server::GetClient* client : {&statusClient, &uploadQueueClient})
    client->setAnsweredNotice([d = delivery.get()] { d->serverAnswered(); });

  // The upload queue is made now: a login empties it.
  uploadQueue = std::make_unique<TForm_kjsc2>(&uploadQueueClient, assets);
  courseware::installQueueHooks(*uploadQueue);
  // The main panel, its pages and the catalog page wait for the panel's first
  // showing; most of a day only the status window is on screen.
  installPanelHooks([this, assets, &statusClient, programDir] {
    makePanel(programDir, assets, statusClient);
    return panel.get();
  });
  followSignIn();
  linkOfflineRecords();
  checkHooks();
  // What the pictures' decoding and the windows' creation freed goes back.
  platform::releaseFreeMemory();
}

void ClientWindows::makePanel(const std::string& programDir, const std::string& assets,
                              server::GetClient& statusClient) {
  catalog = std::make_unique<TForm_kjsc3>(lesson, pageChoice, &statusClient, assets);
  panel = std::make_unique<TForm2>(lesson, assets);
  fileChoice = std::make_unique<TForm_kjsc>(lesson, assets);
  classStart = std::make_unique<Tform_skjs>(statusClient, lesson, pageChoice, assets);
  courseware::linkCatalogPage(*uploadQueue, *catalog);
  repair = std::make_unique<Tform_sbbx>(statusClient, lesson, pageChoice, assets,
                                        panels::loadDeploymentSettings(programDir));
  repairHistory = std::make_unique<TForm9>();
  offline = std::make_unique<TForm10>(assets, [this] { delivery->sendAllNow(); });

  TForm_kjsc2* queue = uploadQueue.get();
  panel->setPages({.classStart = classStart.get(),
                   .fileChoice = fileChoice.get(),
                   .repair = repair.get(),
                   .offline = offline.get(),
                   .uploadQueue = queue,
                   .repairHistory = repairHistory.get(),
                   .refreshQueueRows = [queue] { queue->RefreshRows(); }});

  // The picker is made when a teacher first opens it; most runs never do.
  const panels::OpenPicker openPicker = [this, assets, &statusClient](int schoolMode, const QPoint& at) {
    if (!picker)
      picker = std::make_unique<Tform_school>(assets, statusClient, tellPagesOfChoice(*classStart, *repair));
    picker->openAt(schoolMode, at);
  };
  classStart->setOpenPicker(openPicker);
  repair->setOpenPicker(openPicker);
  refreshOfflineViews();
  platform::releaseFreeMemory();
}

// A login or logout clears what was chosen on the pages; the pages, once
// made, show the new sign-in (pages made later read it when they are made).
void ClientWindows::followSignIn() {
  const auto show = [this](bool signedIn) {
    pageChoice.clear();
    if (!panel) return;
    if (signedIn) {
      classStart->showSignedIn();
      repair->showSignedIn();
    } else {
      classStart->showSignedOut();
      repair->showSignedOut();
    }
  };
  QObject::connect(status.get(), &TForm1::signedIn, status.get(), [show] { show(true); });
  QObject::connect(status.get(), &TForm1::signedOut, status.get(), [show] { show(false); });
}

// The offline tab shows while anything waits; the two views follow every
// change of what is kept. Before the panel is made there is nothing to show.
void ClientWindows::refreshOfflineViews() {
  if (!panel) return;
  try {
    panel->setOfflineTabVisible(DB_Func::CountPending().any());
    offline->Refresh();
    repairHistory->Refresh();
  } catch (const DB_Func::DbError& error) {
    status->appendLog(std::string("edu.db: ") + error.what());
  }
}

void ClientWindows::linkOfflineRecords() {
  AppHooks.pendingChanged = [this] {
    delivery->itemsAdded();
    refreshOfflineViews();
  };
  OfflineDelivery* sender = delivery.get();
  QObject::connect(sender, &OfflineDelivery::itemsChanged, sender, [this] { refreshOfflineViews(); });
  QObject::connect(sender, &OfflineDelivery::progress, sender, [this](int delivered, int waiting) {
    if (offline) offline->showProgress(delivered, waiting);
  });
  QObject::connect(sender, &OfflineDelivery::roundEnded, sender,
                   [this](bool reachable, int delivered, int refused, int waiting) {
                     refreshOfflineViews();
                     if (offline) offline->showOutcome(reachable, delivered, refused, waiting);
                   });
  callHook(AppHooks.pendingChanged);
}

// A hook left empty would make a click do nothing, silently: the program
// does not start with one.
void ClientWindows::checkHooks() {
  const std::vector<std::string> empty = emptyHooks(AppHooks);
  if (empty.empty()) return;
  std::string names;
  for (const std::string& name : empty) {
    status->appendLog("wiring: the hook " + name + " is not connected");
    names += (names.empty() ? "" : ", ") + name;
  }
  // The destructor does not run for a constructor that throws.
  AppHooks = AppHooksTable();
  throw WiringError("hooks not connected: " + names);
}

// The hooks point into these windows; nothing may call them once they go.
// The pages live inside the main panel once shown, so they go before it.
ClientWindows::~ClientWindows() {
  AppHooks = AppHooksTable();
  platform::setTlsRefusalHooks({}, {});
  delivery.reset();
  picker.reset();
  offline.reset();
  repairHistory.reset();
  repair.reset();
  uploadQueue.reset();
  classStart.reset();
  fileChoice.reset();
  catalog.reset();
  panel.reset();
  status.reset();
}
