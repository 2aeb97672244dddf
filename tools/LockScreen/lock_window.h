// The lock screen: covers the primary screen until a teacher of the school
// picks their name. The list comes from the server (getAreaData, type 5) or,
// when the server does not answer, from the teachers cached in edu.db. The
// chosen teacher's login goes to the running client through its login
// channel; once the client has taken it the window reports signedIn.
#pragma once

#include <QWidget>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "panels/school_lists.h"
#include "platform/login_channel.h"
#include "server/get_client.h"
#include "server/http_helpers.h"
#include "tools/LockScreen/lock_settings.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Where the lock screen finds its things.
struct LockScreenPlace {
  std::string programDir;   // LockScreen.ini
  std::string dataDir;      // the client's edu.db
  std::string channelPath;  // the client's login channel
};

class LockWindow : public QWidget {
  Q_OBJECT

 public:
  explicit LockWindow(LockScreenPlace place, QWidget* parent = nullptr);
  // Waits for a login still being handed over.
  ~LockWindow() override;

  // The cached teachers at once, then the server's list when it answers.
  void refreshTeachers();
  // Signs the selected teacher in.
  void bu_loginClick();

  server::GetClient& getClient() { return getClient_; }

 signals:
  // The client has taken the login: the lock screen's work is done.
  void signedIn();

 protected:
  // Only a login or the client ends the lock screen.
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void loadSettings();
  void showCachedTeachers();
  void showTeachers(std::vector<PickerTeacher> teachers);
  void filterTeachers();
  void getTeacher(const std::string& replyText);
  void loginAnswered(const platform::LoginSendResult& result);
  // The list's state and the login's outcome, UTF-8 text.
  void setStatus(const std::string& utf8, bool problem);
  void setLoginStatus(const std::string& utf8, bool problem);
  void setSending(bool sending);

  LockScreenPlace place_;
  LockSettings settings_;
  std::string settingsNote_;  // UTF-8, shown under the school's name
  bool haveDatabase_ = false;
  bool haveCachedTeachers_ = false;
  ServerAddress server_;
  std::vector<PickerTeacher> teachers_;

  server::GetClient getClient_;
  std::thread sender_;
  bool sending_ = false;

  QLabel* Label_school = nullptr;
  QLabel* Label_note = nullptr;
  QLabel* Label_status = nullptr;
  QLabel* Label_login = nullptr;
  QLineEdit* Edit_search = nullptr;
  QListWidget* LB_teacher = nullptr;
  QPushButton* bu_login = nullptr;
  QPushButton* bu_refresh = nullptr;
};
