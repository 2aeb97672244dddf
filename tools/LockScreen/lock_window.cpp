#include "tools/LockScreen/lock_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <memory>

#include "core/server_address.h"
#include "platform/gui/ui_fonts.h"
#include "platform/random.h"
#include "platform/site_files.h"
#include "replies/json_func.h"
#include "server/http_url.h"
#include "store/db_func.h"
#include "sys/mask_phone.h"
#include "sys/qt_text.h"
#include "tools/LockScreen/reply_teachers.h"

namespace {

// The client answers once it has handled the login; it may be busy for a
// moment (a box of its own, a lesson being stopped).
constexpr std::chrono::seconds kAnswerTimeLimit{60};

const char* kStyle = R"(
  LockWindow { background-color: #17324d; }
  QLabel { color: #f0f4f8; }
  QLabel#Label_note { color: #f5c26b; }
  QLabel[problem="true"] { color: #ff9c8a; }
  QFrame#panel { background-color: #21456a; border-radius: 12px; }
  QListWidget { background-color: #f7f9fb; color: #17324d; border-radius: 6px; padding: 4px; }
  QListWidget::item { padding: 8px; }
  QListWidget::item:selected { background-color: #2f80c8; color: white; }
  QLineEdit { background-color: #f7f9fb; color: #17324d; border-radius: 6px; padding: 6px; }
  QPushButton { background-color: #2f80c8; color: white; border-radius: 6px; padding: 10px 28px; }
  QPushButton:disabled { background-color: #5b7a99; }
)";

void showMessage(QLabel* label, const std::string& utf8, bool problem) {
  label->setText(QString::fromStdString(utf8));
  label->setProperty("problem", problem);
  // The colour follows the property only after the style is applied again.
  label->style()->unpolish(label);
  label->style()->polish(label);
}

std::string teacherLine(const PickerTeacher& teacher) {
  return teacher.name + "  [" + maskPhone(teacher.phone) + "]";
}

}  // namespace

LockWindow::LockWindow(LockScreenPlace place, QWidget* parent) : QWidget(parent), place_(std::move(place)) {
  setObjectName("LockWindow");
  setWindowTitle("锁屏");
  setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(kStyle);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
  buildControls();
  loadSettings();
  refreshTeachers();
}

LockWindow::~LockWindow() {
  if (sender_.joinable()) sender_.join();
}

void LockWindow::buildControls() {
  auto* panel = new QFrame(this);
  panel->setObjectName("panel");
  panel->setFixedWidth(560);

  Label_school = new QLabel(panel);
  Label_school->setObjectName("Label_school");
  Label_school->setFont(platform::yaheiFont(22, true));
  Label_school->setAlignment(Qt::AlignCenter);
  Label_school->setWordWrap(true);
  auto* prompt = new QLabel("请选择您的姓名，双击或点击“登录”进入", panel);
  prompt->setFont(platform::yaheiFont(12));
  prompt->setAlignment(Qt::AlignCenter);
  Label_note = new QLabel(panel);
  Label_note->setObjectName("Label_note");
  Label_note->setFont(platform::yaheiFont(10));
  Label_note->setWordWrap(true);
  Label_note->setAlignment(Qt::AlignCenter);

  Edit_search = new QLineEdit(panel);
  Edit_search->setObjectName("Edit_search");
  Edit_search->setFont(platform::yaheiFont(12));
  Edit_search->setPlaceholderText("输入姓名或电话查找");
  connect(Edit_search, &QLineEdit::textChanged, this, &LockWindow::filterTeachers);

  LB_teacher = new QListWidget(panel);
  LB_teacher->setObjectName("LB_teacher");
  LB_teacher->setFont(platform::yaheiFont(14));
  LB_teacher->setMinimumHeight(360);
  // A double-click, or Enter on the selected name.
  connect(LB_teacher, &QListWidget::itemActivated, this, &LockWindow::bu_loginClick);

  bu_login = new QPushButton("登录", panel);
  bu_login->setObjectName("bu_login");
  bu_login->setFont(platform::yaheiFont(14, true));
  connect(bu_login, &QPushButton::clicked, this, &LockWindow::bu_loginClick);
  bu_refresh = new QPushButton("刷新名单", panel);
  bu_refresh->setObjectName("bu_refresh");
  bu_refresh->setFont(platform::yaheiFont(12));
  connect(bu_refresh, &QPushButton::clicked, this, &LockWindow::refreshTeachers);

  Label_status = new QLabel(panel);
  Label_status->setObjectName("Label_status");
  Label_status->setFont(platform::yaheiFont(12));
  Label_status->setWordWrap(true);
  Label_status->setAlignment(Qt::AlignCenter);

  // The outcome of a login has its own line, so that a list arriving late
  // does not wipe it out.
  Label_login = new QLabel(panel);
  Label_login->setObjectName("Label_login");
  Label_login->setFont(platform::yaheiFont(12, true));
  Label_login->setWordWrap(true);
  Label_login->setAlignment(Qt::AlignCenter);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(bu_refresh);
  buttons->addStretch();
  buttons->addWidget(bu_login);
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(32, 28, 32, 28);
  column->setSpacing(12);
  column->addWidget(Label_school);
  column->addWidget(prompt);
  column->addWidget(Label_note);
  column->addWidget(Edit_search);
  column->addWidget(LB_teacher, 1);
  column->addLayout(buttons);
  column->addWidget(Label_status);
  column->addWidget(Label_login);

  auto* centre = new QVBoxLayout(this);
  centre->addStretch();
  centre->addWidget(panel, 0, Qt::AlignHCenter);
  centre->addStretch();
}

void LockWindow::loadSettings() {
  haveDatabase_ = DB_Func::LocateDatabaseIn(place_.dataDir);
  LockSettings defaults;
  bool databaseFailed = false;
  if (haveDatabase_) {
    try {
      defaults = settingsFromLoginInfo(DB_Func::ReadLoginInfo());
    } catch (const DB_Func::DbError&) {
      databaseFailed = true;
    }
  }
  // /etc/edu-client's file first, then the one beside the program. A file
  // that holds the FTP password is used only while other users cannot read
  // it.
  bool fileFound = false;
  const std::string file = platform::siteFile(kLockSettingsFile, place_.programDir);
  const bool exposed = !file.empty() && platform::readableByOthers(file) &&
                       !readLockSettings(file, LockSettings{}).ftpPassword.empty();
  settings_ = file.empty() || exposed ? defaults : readLockSettings(file, defaults, &fileFound);
  server_ = splitServerAddress(settings_.serverUrl);

  settingsNote_.clear();
  if (exposed) {
    std::fprintf(stderr,
                 "LockScreen: %s holds the FTP password but every user may read it; not used "
                 "(chmod 0600, or 0640 with a group of your choice)\n",
                 file.c_str());
    settingsNote_ = "设置文件 " + file + " 含有密码，但所有用户都可以读取，未使用。请管理员修改其权限。";
  } else if (!fileFound) {
    settingsNote_ = "未找到设置文件 LockScreen.ini（可参照 LockScreen.ini.sample 填写）。";
  }
  if (!haveDatabase_) settingsNote_ += "未找到本机数据库 edu.db。";
  if (databaseFailed) settingsNote_ += "本机数据库 edu.db 无法读取。";
  Label_note->setText(QString::fromStdString(settingsNote_));
  Label_note->setVisible(!settingsNote_.empty());
  Label_school->setText(settings_.schoolName.empty() ? QString("未设置学校")
                                                     : text::toQString(settings_.schoolName));
}

void LockWindow::refreshTeachers() {
  if (settings_.schoolID.empty()) {
    showTeachers({});
    setStatus("未设置学校，无法列出老师。请在 LockScreen.ini 的 [school] 中填写 id 和 name。", true);
    return;
  }
  showCachedTeachers();
  if (server_.host.empty()) {
    setStatus(haveCachedTeachers_
                  ? "未设置服务器地址，显示本机保存的老师名单。"
                  : "未设置服务器地址，无法获取老师名单。请在 LockScreen.ini 的 [server] 中填写 address。",
              true);
    return;
  }
  setStatus("正在从服务器获取老师名单……", false);
  getClient_.setServer(server_.host, server_.port, server_.secure);
  getClient_.setReplyHandler([this](const std::string& reply) { getTeacher(reply); });
  getClient_.startRequest(HttpUrl::TeachersOfSchool(server_.path, settings_.schoolID));
}

void LockWindow::showCachedTeachers() {
  haveCachedTeachers_ = false;
  std::vector<PickerTeacher> cached;
  if (haveDatabase_) {
    try {
      cached = teachersFrom(DB_Func::QueryTeachers(settings_.schoolID));
    } catch (const DB_Func::DbError&) {
      // The server's list may still come; the note tells about the file.
    }
  }
  haveCachedTeachers_ = !cached.empty();
  showTeachers(std::move(cached));
}

void LockWindow::getTeacher(const std::string& replyText) {
  const std::string jsonPart = Json_Func::ExtractJsonPart(replyText);
  getClient_.finishRequest(jsonPart);
  std::optional<std::vector<PickerTeacher>> teachers;
  if (!jsonPart.empty()) teachers = teachersOfReply(jsonPart);
  if (!teachers) {
    setStatus(haveCachedTeachers_ ? "无法连接服务器，显示本机保存的老师名单。"
                                  : "无法连接服务器，本机也没有保存本校的老师名单。请稍后点击“刷新名单”。",
              true);
    return;
  }
  const size_t count = teachers->size();
  showTeachers(std::move(*teachers));
  if (count == 0) {
    setStatus("服务器上没有本校的老师名单。", true);
  } else {
    setStatus("共 " + std::to_string(count) + " 位老师。", false);
  }
}

void LockWindow::showTeachers(std::vector<PickerTeacher> teachers) {
  // The teacher already picked stays picked when the list is replaced.
  std::string pickedID;
  if (const QListWidgetItem* item = LB_teacher->currentItem())
    pickedID = teachers_.at(item->data(Qt::UserRole).toULongLong()).id;
  teachers_ = std::move(teachers);
  LB_teacher->clear();
  for (size_t i = 0; i < teachers_.size(); ++i) {
    auto* item = new QListWidgetItem(text::toQString(teacherLine(teachers_[i])), LB_teacher);
    item->setData(Qt::UserRole, static_cast<qulonglong>(i));
    if (!pickedID.empty() && teachers_[i].id == pickedID) LB_teacher->setCurrentItem(item);
  }
  filterTeachers();
}

void LockWindow::filterTeachers() {
  const QString wanted = Edit_search->text().trimmed();
  for (int row = 0; row < LB_teacher->count(); ++row) {
    QListWidgetItem* item = LB_teacher->item(row);
    const PickerTeacher& teacher = teachers_.at(item->data(Qt::UserRole).toULongLong());
    const bool shown = wanted.isEmpty() ||
                       text::toQString(teacher.name).contains(wanted, Qt::CaseInsensitive) ||
                       QString::fromStdString(teacher.phone).contains(wanted);
    item->setHidden(!shown);
  }
}

void LockWindow::bu_loginClick() {
  if (sending_) return;
  const QListWidgetItem* item = LB_teacher->currentItem();
  if (item == nullptr || item->isHidden()) {
    setLoginStatus("请先选择您的姓名。", true);
    return;
  }
  const PickerTeacher& teacher = teachers_.at(item->data(Qt::UserRole).toULongLong());
  const auto seeds = platform::randomBytes16();
  const LoginTextResult built = buildLoginText(loginValuesFor(settings_, teacher), seeds[0], seeds[1]);
  if (!built.problem.empty()) {
    setLoginStatus("无法登录：" + text::gbkToUtf8(built.problem) + "。请联系管理员。", true);
    return;
  }

  setSending(true);
  setLoginStatus("正在登录……", false);
  if (sender_.joinable()) sender_.join();  // the last attempt, long over
  // The client may take a moment to answer; the screen stays alive meanwhile.
  sender_ = std::thread([this, path = place_.channelPath, message = built.text] {
    const platform::LoginSendResult result = platform::sendLoginFrame(path, 0, message, kAnswerTimeLimit);
    QMetaObject::invokeMethod(
        this, [this, result] { loginAnswered(result); }, Qt::QueuedConnection);
  });
}

void LockWindow::loginAnswered(const platform::LoginSendResult& result) {
  setSending(false);
  if (!result.answered) {
    setLoginStatus("登录信息没有送达教室客户端，请确认客户端已经启动后再试。", true);
    return;
  }
  setLoginStatus("登录成功。", false);
  emit signedIn();
}

void LockWindow::setStatus(const std::string& utf8, bool problem) {
  showMessage(Label_status, utf8, problem);
}

void LockWindow::setLoginStatus(const std::string& utf8, bool problem) {
  showMessage(Label_login, utf8, problem);
}

void LockWindow::setSending(bool sending) {
  sending_ = sending;
  bu_login->setEnabled(!sending);
  bu_refresh->setEnabled(!sending);
}

void LockWindow::closeEvent(QCloseEvent* event) { event->ignore(); }
