// The main panel with its real pages against a real edu.db (the demo's,
// copied into a temporary folder) and the development server. The status
// window's part is played by the test (it starts, resumes and stops the
// Lesson as the status window would), the upload queue by recorders in the
// hook table, and the pages' message boxes are taken as text.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "panels/Unit10.h"
#include "panels/Unit9.h"
#include "panels/mainform.h"
#include "panels/panel_hooks.h"
#include "panels/sbbx.h"
#include "panels/skjs.h"
#include "server/get_client.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/connection.h"
#include "store/db_func.h"
#include "sys/qt_text.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

using text::gbk;

class PanelsTest : public ::testing::Test {
 public:
  static constexpr const char* kHotline = "400-810-1234";

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(testsupport::seedDemoDatabase(dir.path().toStdString()));
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(dir.path().toStdString()));
    ASSERT_TRUE(server.running());

    ClientState = {};
    ClientState.serverHost = server.host();
    ClientState.serverPort = server.port();
    ClientState.serverPath = "/";
    ClientState.diskID = "DISK-PANELS";
    client.setServer(server.host(), server.port());

    AppHooks = {};
    AppHooks.appendLog = [this](const std::string& line) { log.push_back(line); };
    AppHooks.queuedCount = [] { return 0; };
    ui::setMessageSink([this](const std::string& text) { messages.push_back(text); });

    const std::string assets = testsupport::sourcePath("assets");
    // The status window's timers start with every lesson begun or taken up.
    QObject::connect(&lesson, &Lesson::started, [this] { ++timerStarts; });
    QObject::connect(&lesson, &Lesson::resumed, [this] { ++timerStarts; });
    panel = std::make_unique<TForm2>(lesson, assets);
    classStart = std::make_unique<Tform_skjs>(client, lesson, choice, assets);
    fileChoice = std::make_unique<QWidget>();
    repair = std::make_unique<Tform_sbbx>(client, lesson, choice, assets,
                                          panels::DeploymentSettings{kHotline, gbk("电教中心")});
    panel->setPages({.classStart = classStart.get(), .fileChoice = fileChoice.get(), .repair = repair.get()});
    installPanelHooks(*panel);
    classStart->setOpenPicker([this](int mode, const QPoint& at) { pickerOpenings.emplace_back(mode, at); });
    repair->setOpenPicker([this](int mode, const QPoint& at) { pickerOpenings.emplace_back(mode, at); });
  }

  void TearDown() override {
    repair.reset();
    fileChoice.reset();
    classStart.reset();
    panel.reset();
    ui::setMessageSink({});
    AppHooks = {};
  }

  // What a login of teacher 张伟 of school 1001 leaves behind.
  void signIn() {
    ClientState.loginState = true;
    ClientState.teacherID = "2001";
    ClientState.teacherName = gbk("张伟");
    ClientState.teacherPhone = "13810012001";
    ClientState.schoolID = "1001";
    ClientState.schoolName = gbk("东城区第一实验小学");
    callHook(AppHooks.switchPage, std::string("suiImageButton2"));
    tellPagesSignedIn(true);
  }

  // What the program's wiring does at a login or logout: the choice
  // cleared, and the pages, when made, show it.
  void tellPagesSignedIn(bool signedIn) {
    choice.clear();
    if (classStart) signedIn ? classStart->showSignedIn() : classStart->showSignedOut();
    if (repair) signedIn ? repair->showSignedIn() : repair->showSignedOut();
  }

  // A lesson the server still counts, taken up by the status window.
  void resumeLesson(const LessonChoice& room, const std::string& beginTime = "2026-03-02 08:05:00",
                    const std::string& processID = "70001") {
    lesson.resume(processID, room, beginTime, 300);
  }

  // A row the server no longer has, so a refresh shows in the lists.
  void addStaleRow(const char* table, const char* idColumn, const char* nameColumn, const char* scopeColumn,
                   const char* id, const char* name, const char* scope) {
    DB_Func::Connection db(DB_Func::DatabasePath());
    db.execute(std::string("INSERT INTO ") + table + "(" + idColumn + "," + nameColumn + "," + scopeColumn +
                   ") VALUES (?,?,?)",
               {id, gbk(name), scope});
  }

  // The teacher picks item `index` of a list.
  static void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  }

  static std::vector<QString> itemsOf(const QComboBox* list) {
    std::vector<QString> items;
    for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i));
    return items;
  }

  size_t logLinesStartingWith(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& line : log) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }

  // Runs the event loop until the reply handler with this log prefix has
  // run `count` times in all.
  bool waitForReply(const std::string& prefix, size_t count = 1) {
    return testsupport::waitFor([&] { return logLinesStartingWith(prefix) >= count; }, 10000);
  }

  std::vector<std::string> targets() const {
    std::vector<std::string> sent;
    for (const auto& request : server.requests()) sent.push_back(request.target);
    return sent;
  }

  // The next `count` answers of the server come as `modes` (e.g. "error", an HTML error page).
  bool answerNextWith(const std::string& modes, int count) const {
    const auto reply = nlohmann::json::parse(
        server.control("mode?set=" + modes + "&count=" + std::to_string(count)), nullptr, false);
    return !reply.is_discarded() && reply.value("status", "") == "success";
  }

  nlohmann::json serverTable(const char* name) const {
    return nlohmann::json::parse(server.control(name), nullptr, false).value("jsonData", nlohmann::json());
  }

  static std::string target(const std::string& operation, const std::string& parameters) {
    return "/clientInterface-" + operation + "?appKey=" + testsupport::DevServerProcess::kApplicationKey +
           parameters;
  }

  QTemporaryDir dir;
  testsupport::DevServerProcess server;
  server::GetClient client;
  Lesson lesson;
  LessonChoice choice;  // what is chosen on the class-start and repair pages
  std::unique_ptr<TForm2> panel;
  std::unique_ptr<Tform_skjs> classStart;
  std::unique_ptr<QWidget> fileChoice;
  std::unique_ptr<Tform_sbbx> repair;

  int timerStarts = 0;
  std::vector<std::string> log;
  std::vector<std::string> messages;
  std::vector<std::pair<int, QPoint>> pickerOpenings;
};
