// The program's own wiring: the real ClientWindows, as edu-client makes
// them, against the development server and a copy of the demo's edu.db. The
// hook table is checked whole, and one path goes through several windows: a
// login on the status window, 上课计时 opening the main panel, a lesson
// started on the class-start page, and the courseware tab that follows.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "core/fdck.h"
#include "core/image_button.h"
#include "core/server_address.h"
#include "courseware/kjsc.h"
#include "panels/mainform.h"
#include "panels/panel_widgets.h"
#include "panels/skjs.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "store/db_func.h"
#include "sys/protected_text.h"
#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"
#include "ui/message_box.h"

namespace {

using text::gbk;

class ClientWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dataDir_.isValid());
    ASSERT_TRUE(server_.running());
    ASSERT_TRUE(testsupport::seedDemoDatabase(dataFolder()));
    // The copy's stored address leads to this test's server.
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(dataFolder()));
    DB_Func::StoreServerUrl(server_.host() + ":" + std::to_string(server_.port()));
    ClientState = {};
    ui::setMessageSink([this](const std::string& text) { messages_.push_back(text); });
  }

  void TearDown() override {
    ui::setMessageSink({});
    ClientState = {};
  }

  std::string dataFolder() const { return dataDir_.path().toStdString(); }

  std::unique_ptr<ClientWindows> makeWindows() {
    return std::make_unique<ClientWindows>(testsupport::programDir(), dataFolder(),
                                           [this](const std::string& line) { log_.push_back(line); });
  }

  // The reply handler whose log lines start with `prefix` has run.
  bool waitForLog(const std::string& prefix) {
    return testsupport::waitFor(
        [&] {
          for (const std::string& line : log_)
            if (line.rfind(prefix, 0) == 0) return true;
          return false;
        },
        20000);
  }

  // The development server's teacher 张伟 of school 1001.
  static std::string login() {
    const std::vector<std::string> items = {"online",
                                            "2001",
                                            gbk("张伟"),
                                            "13810012001",
                                            "1001",
                                            gbk("东城区第一实验小学"),
                                            "110000",
                                            gbk("北京市"),
                                            "110100",
                                            gbk("北京市"),
                                            "110101",
                                            gbk("东城区"),
                                            "127.0.0.1:8090",
                                            "0",
                                            "0",
                                            "60",
                                            "127.0.0.1",
                                            "21",
                                            "0",
                                            "5.0.33",
                                            "0",
                                            "5.0.33",
                                            "0",
                                            "http://127.0.0.1/upgrade.xml",
                                            "0",
                                            encodeProtectedText("teacher", kProtectedTextKey, 1),
                                            encodeProtectedText("x", kProtectedTextKey, 2)};
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) text += (i ? "|" : "") + items[i];
    return text;
  }

  // The teacher picks item `index` of a list.
  static void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  }

  std::vector<std::string> operations() const {
    std::vector<std::string> names;
    for (const auto& request : server_.requests()) {
      const std::string path = request.path();
      names.push_back(path.substr(path.find('-') + 1));
    }
    return names;
  }

  QTemporaryDir dataDir_;
  testsupport::DevServerProcess server_;
  std::vector<std::string> log_;
  std::vector<std::string> messages_;
};

TEST_F(ClientWindowsTest, TheWiringFillsEveryHookAndAnEmptyOneIsNamed) {
  {
    const std::unique_ptr<ClientWindows> windows = makeWindows();
    EXPECT_EQ(emptyHooks(AppHooks), std::vector<std::string>());
    const AppHooksTable wired = AppHooks;
    AppHooks.resetQueue = {};
    AppHooks.pendingChanged = {};
    EXPECT_EQ(emptyHooks(AppHooks), (std::vector<std::string>{"resetQueue", "pendingChanged"}));
    AppHooks = wired;
  }
  // The windows are gone: nothing may call into them.
  EXPECT_EQ(emptyHooks(AppHooks).size(), emptyHooks(AppHooksTable()).size());
}

TEST_F(ClientWindowsTest, ALoginThenALessonStartLeadsToTheCoursewareTab) {
  const std::unique_ptr<ClientWindows> windows = makeWindows();
  TForm1& status = *windows->status;
  StatusWindowServices services;
  services.storedServerUrl = storedServerUrl;
  status.setServices(std::move(services));
  status.show();
  status.FormActivate();
  ASSERT_EQ(ClientState.serverPort, server_.port());

  // The login: the status window names the teacher and asks whether a
  // lesson of this computer still runs (the upload queue's client).
  status.loginMessage(login());
  ASSERT_TRUE(server_.waitForRequests(1, 20000));
  EXPECT_EQ(status.findChild<QLabel*>("Label1")->text(), QStringLiteral("张伟 老师"));
  EXPECT_EQ(windows->panel, nullptr);  // made when first shown

  // 上课计时 opens the main panel on the class-start page, beside the status window.
  QTest::mouseClick(status.findChild<TImageButton*>("suiImageButton1"), Qt::LeftButton);
  ASSERT_NE(windows->panel, nullptr);
  EXPECT_TRUE(windows->panel->isVisible());
  EXPECT_EQ(windows->panel->x(), status.x() - 360);
  EXPECT_EQ(windows->panel->currentPageKey(), "suiImageButton2");
  Tform_skjs& page = *windows->classStart;
  EXPECT_TRUE(page.isVisible());
  EXPECT_EQ(page.Edit_teacher->text(), QStringLiteral("张伟"));
  EXPECT_EQ(page.Edit_school->text(), QStringLiteral("东城区第一实验小学"));

  // Grade, class and subject from the server's lists, then 开始上课.
  ASSERT_TRUE(waitForLog("Tform_skjs.GetGrade : "));
  ASSERT_EQ(page.CB_grade->itemText(1), QStringLiteral("一年级"));
  choose(page.CB_grade, 1);
  ASSERT_TRUE(waitForLog("Tform_skjs.GetClass : "));
  ASSERT_EQ(page.CB_Class->itemText(1), QStringLiteral("一年级（1）班"));
  choose(page.CB_Class, 1);
  ASSERT_TRUE(waitForLog("Tform_skjs.GetSubject : "));
  ASSERT_GE(page.CB_Subject->count(), 2);
  choose(page.CB_Subject, 1);
  QTest::mouseClick(page.bu_kssk, Qt::LeftButton);
  ASSERT_TRUE(waitForLog("StartCountTime : "));

  // The server's lesson is this client's, the status window times it, and
  // the panel shows the courseware tab.
  const nlohmann::json lessons =
      nlohmann::json::parse(server_.control("lessons"), nullptr, false).value("jsonData", nlohmann::json());
  ASSERT_EQ(lessons.size(), 1u);
  EXPECT_EQ(windows->lesson.processID(), lessons[0].value("processID", ""));
  EXPECT_EQ(windows->lesson.classID(), "4001");
  EXPECT_TRUE(status.isLessonRunning());
  EXPECT_EQ(messages_, std::vector<std::string>{gbk("上课成功，请上传电子课件。")});
  EXPECT_EQ(windows->panel->currentPageKey(), "suiImageButton3");
  EXPECT_TRUE(windows->fileChoice->isVisible());
  EXPECT_EQ(windows->panel->Shape1->x(), 114);  // the tab marker under the courseware tab
  EXPECT_EQ(operations(), (std::vector<std::string>{"getCouterTime", "getGradeInfo", "getGradeInfo",
                                                    "getSubject", "getStartCountTime"}));
}

}  // namespace
