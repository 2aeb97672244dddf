#include "core/fdck.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>

#include "core/auto_upgrader.h"
#include "core/diagnostic_log.h"
#include "core/image_button.h"
#include "core/lamp_shape.h"
#include "core/login_message.h"
#include "core/server_address.h"
#include "core/sign_in.h"
#include "platform/gui/ui_fonts.h"
#include "platform/process.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "sys/process_utils.h"
#include "sys/pumping_delay.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"
#include "ui/pictures.h"

namespace {

constexpr QSize kWindowSize(230, 144);
const QColor kKeyColour(0, 0, 255);
const QColor kSilver(192, 192, 192);
// The hidden log is never shown; the newest lines are enough. When either
// bound is passed, the oldest quarter goes at once, so the box is rebuilt
// rarely.
constexpr size_t kLogLineLimit = 10000;
constexpr size_t kLogByteLimit = 1024 * 1024;

QPixmap picture(const std::string& assetsDir, const char* name) {
  return ui::scaledPicture(QString::fromStdString(assetsDir + "/" + name));
}

QLabel* silverLabel(QWidget* parent, const char* name, int pointSize, bool bold, QPoint at) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setFont(platform::yaheiFont(pointSize, bold));
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, kSilver);
  label->setPalette(palette);
  label->move(at);
  return label;
}

}  // namespace

TForm1::TForm1(Lesson& lesson, const std::string& assetsDir, QWidget* parent)
    : QWidget(parent), lesson_(lesson) {
  setObjectName("Form1");
  setWindowTitle("edu_main");
  // Kept above other windows (the window manager's _NET_WM_STATE_ABOVE): a
  // maximised window would otherwise bury it, and without a taskbar button
  // a teacher could not get it back.
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  buildControls(assetsDir);

  Timer1.setObjectName("Timer1");
  Timer1.setInterval(1000);
  // Each tick counts one second of the lesson, so ticks must not drift.
  Timer1.setTimerType(Qt::PreciseTimer);
  Timer3.setObjectName("Timer3");
  Timer3.setInterval(300000);
  Timer4.setObjectName("Timer4");
  Timer4.setInterval(600000);
  connect(&Timer1, &QTimer::timeout, this, ui::guarded(this, &TForm1::Timer1Timer));
  connect(&Timer3, &QTimer::timeout, this, ui::guarded(this, &TForm1::Timer3Timer));
  connect(&Timer4, &QTimer::timeout, this, ui::guarded(this, &TForm1::Timer4Timer));

  // A lesson begun on the class-start page or taken up again is timed here.
  connect(&lesson_, &Lesson::started, this, &TForm1::startLessonTimers);
  connect(&lesson_, &Lesson::resumed, this, &TForm1::startLessonTimers);
  Label3->setText(" V5.0.33");
  Label3->adjustSize();
  followPrimaryMonitor();
  setServices({});
}

QPoint TForm1::placeIn(const QRect& workArea) { return {workArea.right() + 1 - 250, workArea.top() + 50}; }

void TForm1::placeOnPrimaryMonitor() {
  if (const QScreen* primary = QGuiApplication::primaryScreen()) move(placeIn(primary->availableGeometry()));
}

// The primary monitor may change while the client runs (a projector plugged
// in, the desk screen made primary, a panel resized): the window goes back
// to its corner each time.
void TForm1::followPrimaryMonitor() {
  placeOnPrimaryMonitor();
  const auto watch = [this](QScreen* primary) {
    QObject::disconnect(primaryWatch_);
    QObject::disconnect(primaryAreaWatch_);
    if (primary == nullptr) return;
    primaryWatch_ = connect(primary, &QScreen::geometryChanged, this, &TForm1::placeOnPrimaryMonitor);
    primaryAreaWatch_ =
        connect(primary, &QScreen::availableGeometryChanged, this, &TForm1::placeOnPrimaryMonitor);
  };
  watch(QGuiApplication::primaryScreen());
  connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this, watch](QScreen* primary) {
    watch(primary);
    placeOnPrimaryMonitor();
  });
}

TForm1::~TForm1() = default;

void TForm1::buildControls(const std::string& assetsDir) {
  background_ = picture(assetsDir, "status_background.png");
  if (background_.isNull()) {
    // Without its picture the window is a plain dark panel.
    background_ = QPixmap(kWindowSize);
    background_.fill(QColor(43, 47, 52));
  }
  setFixedSize(background_.deviceIndependentSize().toSize());
  // The shape comes from the picture at scale 1, in the window's units.
  setMask(ui::pictureAtScaleOne(background_, QString::fromStdString(assetsDir + "/status_background.png"))
              .createMaskFromColor(kKeyColour));

  Label1 = silverLabel(this, "Label1", 9, false, {14, 6});
  Label1->setText("未登录");
  Label1->adjustSize();
  Label3 = silverLabel(this, "Label3", 9, false, {170, 6});
  Label2 = silverLabel(this, "Label2", 24, true, {100, 40});
  Label2->setText("00：00");
  Label2->adjustSize();

  Shape1 = new TShape(this);
  Shape1->setObjectName("Shape1");
  Shape1->setGeometry(28, 44, 35, 30);
  Shape1->setBrushColor(QColor(0, 255, 0));

  suiImageButton1 = new TImageButton(this);
  suiImageButton1->setObjectName("suiImageButton1");
  suiImageButton1->setText("上课计时");
  suiImageButton1->setGeometry(4, 96, 118, 41);
  suiImageButton1->setPictures(picture(assetsDir, "status_lesson_normal.png"),
                               picture(assetsDir, "status_lesson_hover.png"),
                               picture(assetsDir, "status_lesson_pressed.png"));
  connect(suiImageButton1, &QAbstractButton::clicked, this, ui::guarded(this, &TForm1::suiImageButton1Click));

  suiImageButton2 = new TImageButton(this);
  suiImageButton2->setObjectName("suiImageButton2");
  suiImageButton2->setText("更换老师");
  suiImageButton2->setGeometry(128, 96, 95, 40);
  suiImageButton2->setPictures(picture(assetsDir, "status_teacher_normal.png"),
                               picture(assetsDir, "status_teacher_hover.png"),
                               picture(assetsDir, "status_teacher_pressed.png"));
  connect(suiImageButton2, &QAbstractButton::clicked, this, ui::guarded(this, &TForm1::suiImageButton2Click));

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(22, 34, 193, 59);
  Memo1->setReadOnly(true);
  Memo1->hide();
}

void TForm1::setServices(StatusWindowServices services) {
  if (!services.storedServerUrl) services.storedServerUrl = [] { return std::optional<std::string>(); };
  if (!services.siteServerUrl) services.siteServerUrl = [] { return std::optional<panels::SettingSource>(); };
  if (!services.storeServerUrl) services.storeServerUrl = [](const std::string&) {};
  if (!services.askServerUrl) {
    services.askServerUrl = [this]() -> std::optional<std::string> {
      bool ok = false;
      const QString typed =
          QInputDialog::getText(this, "请输入服务器地址", "操作提示", QLineEdit::Normal, QString(), &ok);
      if (!ok) return std::nullopt;
      return text::fromQString(typed);
    };
  }
  if (!services.killProcess) services.killProcess = killProcessByName;
  if (!services.startProgram) services.startProgram = platform::startCompanion;
  if (!services.delay) services.delay = pumpingDelay;
  if (!services.installKeyHook) {
    f4Swallow_.setNotice([this](const std::string& what) { appendLog(what); });
    services.installKeyHook = [this] { return f4Swallow_.install(); };
  }
  if (!services.checkForUpgrade) {
    // The upgrader lives as long as the services that hold it; the window's
    // end waits for a check still running.
    auto upgrader = std::make_shared<AutoUpgrader>([this](const std::string& line) { appendLog(line); });
    services.checkForUpgrade = [upgrader](const std::string& version, const std::string& infoUrl) {
      upgrader->VersionNumber = version;
      upgrader->InfoFileURL = infoUrl;
      upgrader->CheckUpdate();
    };
  }
  services_ = std::move(services);
}

void TForm1::setUploadQueueClient(server::GetClient* client) {
  uploadQueueClient_ = client;
  if (client != nullptr && !ClientState.serverHost.empty())
    client->setServer(ClientState.serverHost, ClientState.serverPort, ClientState.serverSecure);
}

void TForm1::appendLog(const std::string& line) {
  const std::string shown = cutLogLine(line);
  if (logSink_) logSink_(shown);
  logEntries_.push_back({text::toQString(shown), shown.size() + 1});
  logBytes_ += shown.size() + 1;
  if (logEntries_.size() <= kLogLineLimit && logBytes_ <= kLogByteLimit) {
    Memo1->appendPlainText(logEntries_.back().text);
    return;
  }
  while (logEntries_.size() > kLogLineLimit * 3 / 4 || logBytes_ > kLogByteLimit * 3 / 4) {
    logBytes_ -= logEntries_.front().bytes;
    logEntries_.pop_front();
  }
  QStringList kept;
  for (const LogEntry& entry : logEntries_) kept.append(entry.text);
  Memo1->setPlainText(kept.join('\n'));
}

void TForm1::FormActivate() {
  if (!ClientState.serverHost.empty() || askingServerUrl_) return;
  if (useSiteServerAddress()) return;
  const std::optional<std::string> stored = services_.storedServerUrl();
  if (!stored) return;  // no edu.db: the address is never asked for
  std::string url = *stored;
  if (!url.empty() && !usableServerAddress(url)) {
    // A stored address no request could use: the user is asked instead.
    if (!unusableStoredLogged_)
      appendLog("server address \"" + url + "\" stored in edu.db is not usable; asking for one");
    unusableStoredLogged_ = true;
    url.clear();
  }
  const bool typed = url.empty();
  if (typed) {
    if (!leftSinceCancelledAsk_) return;
    askingServerUrl_ = true;
    url = services_.askServerUrl().value_or(std::string());
    askingServerUrl_ = false;
    leftSinceCancelledAsk_ = false;
  }
  if (!url.empty()) useServerAddress(url, typed ? "typed in" : "stored in edu.db");
}

void TForm1::useServerAddress(const std::string& serverUrl, const char* source) {
  const std::optional<ServerAddress> usable = usableServerAddress(serverUrl);
  if (!usable) {
    // Asked again at the next activation.
    appendLog("server address \"" + serverUrl + "\" (" + source + ") is not usable");
    return;
  }
  const ServerAddress& address = *usable;
  appendLog("server address in use: " + std::string(address.secure ? "https://" : "") + address.host + ":" +
            std::to_string(address.port) + address.path + " (" + source + ")");
  serverUrlInUse_ = serverUrl;
  signin::useServerAddress(address);
  getClient_.setServer(address.host, address.port, address.secure);
  if (uploadQueueClient_ != nullptr)
    uploadQueueClient_->setServer(address.host, address.port, address.secure);
}

void TForm1::suiImageButton1Click() {
  if (Label1->text() == "未登录") {
    QMessageBox box(QMessageBox::NoIcon, "提示", "用户未登录成功，无法上课记时，请重新登录。",
                    QMessageBox::Ok, this);
    box.exec();
    return;
  }
  // The 360-pixel panel ends where the status window begins, tops aligned.
  callHook(AppHooks.moveMainPanel, x() - 360, y());
  callHook(AppHooks.showMainPanel);
}

void TForm1::suiImageButton2Click() {
  stopLesson();
  services_.killProcess("LockScreen.exe");
  services_.delay(500);
  services_.startProgram("LockScreen.exe");  // a missing lock screen is not reported
}

bool TForm1::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    ui::runGuarded(this, [this] { FormActivate(); });
  } else if (event->type() == QEvent::WindowDeactivate && !askingServerUrl_) {
    leftSinceCancelledAsk_ = true;
  }
  return QWidget::event(event);
}

void TForm1::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
}

void TForm1::mousePressEvent(QMouseEvent* event) {
  if (!drag_.press(*this, *event)) QWidget::mousePressEvent(event);
}

void TForm1::mouseMoveEvent(QMouseEvent* event) { drag_.move(*this, *event); }

void TForm1::mouseReleaseEvent(QMouseEvent*) { drag_.release(); }

void TForm1::closeEvent(QCloseEvent* event) {
  // With the F4 hook on, a teacher must not end the client: a window manager
  // that holds Alt+F4 itself asks the window to close instead, and a client
  // ended that way is not started again until the next session.
  if (event->spontaneous() && keyHookRequested_ && ClientState.loginState) {
    event->ignore();
    appendLog(
        "status window: the window manager asked it to close (Alt+F4); refused while the F4 hook is on "
        "and a teacher is signed in");
    return;
  }
  appendLog("status window closed: the client ends");
  event->accept();
  emit closed();
}

void installStatusWindowHooks(TForm1& form) {
  AppHooks.appendLog = [&form](const std::string& line) { form.appendLog(line); };
}
