// The lock screen against the development server and a real login channel
// in a temporary folder: the server's list or the cached one, the login the
// client receives, and what the screen says when something is missing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/login_message.h"
#include "platform/login_channel.h"
#include "state/client_state.h"
#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"
#include "tools/LockScreen/lock_window.h"

namespace {

using testsupport::waitFor;

class LockWindowTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  std::string folder = dir.path().toStdString();
  std::string channelPath = folder + "/edu_main";
  platform::LoginChannelServer client;
  std::vector<std::string> received;
  std::unique_ptr<LockWindow> window;
  bool signedIn = false;

  void SetUp() override {
    // The site's folder of the test's own, never the machine's /etc.
    ::setenv("EDU_ETC_DIR", (folder + "/etc").c_str(), 1);
    client.setHandler([this](uint32_t, const std::string& data) { received.push_back(data); });
  }

  void withDemoDatabase() { ASSERT_TRUE(testsupport::seedDemoDatabase(folder)); }
  void withSettings(const std::string& serverAddress) {
    ASSERT_TRUE(testsupport::writeFile(folder + "/LockScreen.ini",
                                       "[server]\naddress=" + serverAddress +
                                           "\n[school]\nid=1001\nname=东城区第一实验小学\n"
                                           "[ftp]\nuser=up\npassword=secret\n"));
    // It holds a password: only the user may read it.
    ASSERT_EQ(::chmod((folder + "/LockScreen.ini").c_str(), 0600), 0);
  }
  void TearDown() override { ::unsetenv("EDU_ETC_DIR"); }
  void open() {
    window = std::make_unique<LockWindow>(LockScreenPlace{folder, folder, channelPath});
    QObject::connect(window.get(), &LockWindow::signedIn, [this] { signedIn = true; });
  }

  QListWidget* list() const { return window->findChild<QListWidget*>("LB_teacher"); }
  std::string status() const { return window->findChild<QLabel*>("Label_status")->text().toStdString(); }
  std::string loginStatus() const { return window->findChild<QLabel*>("Label_login")->text().toStdString(); }
  std::string note() const { return window->findChild<QLabel*>("Label_note")->text().toStdString(); }
  bool pick(const std::string& nameUtf8) {
    for (int row = 0; row < list()->count(); ++row) {
      if (list()->item(row)->text().startsWith(QString::fromStdString(nameUtf8))) {
        list()->setCurrentRow(row);
        return true;
      }
    }
    return false;
  }
  void clickLogin() { window->findChild<QPushButton*>("bu_login")->click(); }
};

TEST_F(LockWindowTest, ListsTheServersTeachersAndHandsTheChosenLoginToTheClient) {
  testsupport::DevServerProcess server;
  ASSERT_TRUE(server.running());
  const std::string address = server.host() + ":" + std::to_string(server.port());
  withDemoDatabase();
  withSettings(address);
  ASSERT_TRUE(client.listen(channelPath));
  open();

  ASSERT_TRUE(waitFor([&] { return status() == "共 3 位老师。"; })) << status();
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].path(), "/clientInterface-getAreaData");
  EXPECT_EQ(list()->count(), 3);
  EXPECT_TRUE(note().empty()) << note();

  ASSERT_TRUE(pick("王芳"));
  clickLogin();
  ASSERT_TRUE(waitFor([&] { return signedIn; }));
  ASSERT_EQ(received.size(), 1u);
  const LoginParseResult parsed = parseLoginMessage(received[0]);
  ASSERT_TRUE(parsed.accepted) << text::gbkToUtf8(parsed.rejection);
  ClientStateRecord state;
  applyLogin(parsed.message, state);
  EXPECT_EQ(state.teacherID, "2002");
  EXPECT_EQ(state.teacherName, text::utf8ToGbk("王芳"));
  EXPECT_EQ(state.teacherPhone, "13810012002");
  EXPECT_EQ(state.schoolID, "1001");
  EXPECT_EQ(state.areaID, "110101");  // the stored login's, not in the file
  EXPECT_EQ(parsed.message.items[kItemServerUrl], address);
  EXPECT_EQ(state.ftpHost, server.host());
  EXPECT_EQ(state.ftpUser, "up");
  EXPECT_EQ(state.ftpPassword, "secret");
}

TEST_F(LockWindowTest, ShowsTheCachedTeachersWhenTheServerDoesNotAnswer) {
  withDemoDatabase();
  withSettings("127.0.0.1:" + std::to_string(testsupport::freePort()));
  open();
  ASSERT_TRUE(waitFor([&] { return status() == "无法连接服务器，显示本机保存的老师名单。"; })) << status();
  EXPECT_EQ(list()->count(), 3);
  EXPECT_TRUE(pick("李娜"));
}

TEST_F(LockWindowTest, SaysSoAndStaysWhenNoClientTakesTheLogin) {
  withDemoDatabase();
  withSettings("127.0.0.1:" + std::to_string(testsupport::freePort()));
  open();
  ASSERT_TRUE(pick("张伟"));
  clickLogin();
  ASSERT_TRUE(waitFor([&] {
    return loginStatus() == "登录信息没有送达教室客户端，请确认客户端已经启动后再试。";
  })) << loginStatus();
  EXPECT_FALSE(signedIn);
  EXPECT_TRUE(window->findChild<QPushButton*>("bu_login")->isEnabled());

  // Once the client runs, the same choice gets through.
  ASSERT_TRUE(client.listen(channelPath));
  clickLogin();
  ASSERT_TRUE(waitFor([&] { return signedIn; }));
  EXPECT_EQ(received.size(), 1u);
}

// /etc/edu-client's LockScreen.ini comes before the program folder's; one
// that holds the FTP password while every user may read it is not used, and
// the screen says which file and why.
TEST_F(LockWindowTest, TakesTheSiteFileFirstAndRefusesOneThatShowsItsPasswordToAll) {
  withSettings("10.0.0.1:1");
  const std::string site = folder + "/etc/edu-client/LockScreen.ini";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder + "/etc/edu-client")));
  ASSERT_TRUE(testsupport::writeFile(site, "[school]\nid=1002\nname=site\n[ftp]\npassword=secret\n"));
  for (const mode_t mode : {0600, 0640}) {
    ASSERT_EQ(::chmod(site.c_str(), mode), 0);
    open();
    EXPECT_EQ(window->findChild<QLabel*>("Label_school")->text().toStdString(), "site") << std::oct << mode;
    EXPECT_EQ(note().find("LockScreen.ini"), std::string::npos) << note();
  }
  ASSERT_EQ(::chmod(site.c_str(), 0644), 0);
  open();
  EXPECT_NE(note().find(site + " 含有密码，但所有用户都可以读取，未使用"), std::string::npos) << note();
  EXPECT_EQ(window->findChild<QLabel*>("Label_school")->text().toStdString(), "未设置学校");
}

TEST_F(LockWindowTest, NamesWhatIsMissingWithoutSettingsOrDatabase) {
  open();
  EXPECT_NE(note().find("未找到设置文件 LockScreen.ini"), std::string::npos) << note();
  EXPECT_NE(note().find("edu.db"), std::string::npos) << note();
  EXPECT_EQ(status().rfind("未设置学校", 0), 0u) << status();
  EXPECT_EQ(list()->count(), 0);
  clickLogin();
  EXPECT_EQ(loginStatus(), "请先选择您的姓名。");
  EXPECT_TRUE(received.empty());
}

}  // namespace
