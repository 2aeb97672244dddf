// A status window built offscreen with every outside service replaced by a
// recorder, and the process-wide state and hook table emptied, so each test
// starts from a fresh client.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "core/fdck.h"
#include "core/lamp_shape.h"
#include "server/get_client.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/protected_text.h"
#include "sys/qt_text.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

// Runs `action` and answers the message box it shows; gives the box's text.
inline std::string answerMessageBox(const std::function<void()>& action) {
  std::string shown;
  QTimer watcher;
  watcher.setInterval(10);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text().toStdString();
      box->accept();
    }
  });
  watcher.start();
  action();
  return shown;
}

class StatusWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClientState = {};
    AppHooks = {};
    form.reset();
    lesson = std::make_unique<Lesson>();
    form = std::make_unique<TForm1>(*lesson, testsupport::sourcePath("assets"));
    installStatusWindowHooks(*form);
    for (const char* name : {"resetQueue", "hideMainPanel", "showMainPanel"}) {
      std::function<void()>& hook = hookNamed(name);
      hook = [this, name] { calls.push_back(name); };
    }
    AppHooks.switchPage = [this](const std::string& key) { calls.push_back("switchPage " + key); };
    AppHooks.moveMainPanel = [this](int left, int top) {
      calls.push_back("moveMainPanel " + std::to_string(left) + "," + std::to_string(top));
    };
    // What the pages hear.
    QObject::connect(form.get(), &TForm1::signedIn, [this] { calls.push_back("signedIn"); });
    QObject::connect(form.get(), &TForm1::signedOut, [this] { calls.push_back("signedOut"); });
    QObject::connect(lesson.get(), &Lesson::stopped, [this] { calls.push_back("lessonStopped"); });
    QObject::connect(lesson.get(), &Lesson::resumed,
                     [this] { calls.push_back("lessonResumed " + lesson->beginTime()); });

    StatusWindowServices services;
    services.killProcess = [this](std::string_view name) { calls.push_back("kill " + std::string(name)); };
    services.startProgram = [this](std::string_view name) {
      calls.push_back("start " + std::string(name));
      return true;
    };
    services.delay = [this](int ms) { calls.push_back("delay " + std::to_string(ms)); };
    services.installKeyHook = [this] {
      calls.push_back("installKeyHook");
      return keyHookResult;
    };
    services.checkForUpgrade = [this](const std::string& version, const std::string& url) {
      calls.push_back("upgrade " + version + " " + url);
    };
    services.screenshotTick = [this] {
      calls.push_back("screenshot " + std::to_string(lesson->screenshotCounter()));
    };
    services.storedServerUrl = [this] { return storedUrl; };
    // A write into edu.db shows among the calls: a typed address must never make one.
    services.storeServerUrl = [this](const std::string& url) { calls.push_back("store " + url); };
    services.askServerUrl = [this] {
      calls.push_back("ask");
      return typedUrl;
    };
    form->setServices(services);
    form->setUploadQueueClient(&queueClient);
  }

  void TearDown() override {
    form.reset();
    AppHooks = {};
  }

  std::function<void()>& hookNamed(const std::string& name) {
    if (name == "resetQueue") return AppHooks.resetQueue;
    if (name == "hideMainPanel") return AppHooks.hideMainPanel;
    return AppHooks.showMainPanel;
  }

  // A lesson begun on the class-start page (the status window's timers follow).
  void startLesson(const std::string& processID = "") { lesson->start(processID, {}, "2024-05-06 09:00:00"); }
  // A lesson taken up `elapsed` seconds after it began.
  void resumeLesson(int elapsed, const std::string& processID = "P1") {
    lesson->resume(processID, {}, "2024-05-06 09:00:00", elapsed);
  }

  template <typename T>
  T* child(const char* name) {
    T* widget = form->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QTimer* timer(const char* name) { return child<QTimer>(name); }
  std::string label(const char* name) { return child<QLabel>(name)->text().toStdString(); }
  QStringList logLines() { return child<QPlainTextEdit>("Memo1")->toPlainText().split('\n'); }

  // The 27 items of a login (GBK), changed where the test says.
  static std::string login(const std::string& flag = "1", const std::string& interval = "90",
                           const std::string& latest = "5.0.34") {
    const std::vector<std::string> items = {"online",
                                            "T1001",
                                            text::utf8ToGbk("张明"),
                                            "13812345678",
                                            "S01",
                                            text::utf8ToGbk("实验小学"),
                                            "P44",
                                            "GD",
                                            "C01",
                                            "GZ",
                                            "A06",
                                            "TH",
                                            "192.168.1.10:8080/edu",
                                            flag,
                                            "x",
                                            interval,
                                            "ftp.local",
                                            "21",
                                            "x",
                                            latest,
                                            "x",
                                            "5.0.34.7",
                                            "x",
                                            "http://up/info.xml",
                                            "x",
                                            encodeProtectedText("u", kProtectedTextKey, 1),
                                            encodeProtectedText("p", kProtectedTextKey, 2)};
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) text += (i ? "|" : "") + items[i];
    return text;
  }

  std::vector<std::string> calls;
  platform::F4Swallow::Result keyHookResult = platform::F4Swallow::Result::Grabbed;
  std::optional<std::string> storedUrl;
  std::optional<std::string> typedUrl;
  server::GetClient queueClient;   // before the form, which refers to it
  std::unique_ptr<Lesson> lesson;  // the form times it
  std::unique_ptr<TForm1> form;
};
