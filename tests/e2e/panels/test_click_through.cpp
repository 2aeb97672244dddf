// A teacher's way through the real program, clicked with xdotool on a
// 1920 x 1080 X server: the status window's 上课计时 opens the main panel
// to its left; the picker changes the teacher; grade, class and subject are
// picked from the combos' popups and 开始上课 starts the lesson; a fault is
// typed in Chinese on the repair tab and reported; courseware chosen in the
// file dialog goes through the queue and the catalog page onto a real FTP
// server and into the development server's registry. What the client asks
// the server is read from the development server's request log, and each
// step waits for what it needs: a window shown, a request logged, its answer
// handled (the client's own log says so), a page on the screen. Pictures of
// every step are kept in build/tests/artefacts/click_through, and those that
// are the same in every run are compared with tests/reference/click_through.
#include <QCryptographicHash>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <optional>
#include <vector>

#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/ftp_server.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

// Gives every character of `text` that the keyboard map of `display` lacks
// a key code of its own. xdotool types a missing character by changing the
// map for that one key press and back, and a client that reads the map
// only after it was changed back loses the character; a map that already
// holds every character is never changed while typing.
bool mapCharacters(const std::string& display, const QString& text) {
  Display* x = XOpenDisplay(display.c_str());
  if (x == nullptr) return false;
  int low = 0, high = 0;
  XDisplayKeycodes(x, &low, &high);
  int perCode = 0;
  KeySym* map = XGetKeyboardMapping(x, static_cast<KeyCode>(low), high - low + 1, &perCode);
  std::vector<KeySym> present(map, map + (high - low + 1) * perCode);
  std::vector<int> freeCodes;
  for (int code = high; code >= low; --code) {
    const auto first = present.begin() + (code - low) * perCode;
    if (std::all_of(first, first + perCode, [](KeySym symbol) { return symbol == NoSymbol; }))
      freeCodes.push_back(code);
  }
  XFree(map);
  bool complete = true;
  for (const char32_t character : text.toStdU32String()) {
    const KeySym symbol = character < 0x100 ? character : 0x1000000 | character;
    if (std::find(present.begin(), present.end(), symbol) != present.end()) continue;
    if (freeCodes.empty()) {
      complete = false;
      break;
    }
    KeySym both[2] = {symbol, symbol};
    XChangeKeyboardMapping(x, freeCodes.back(), 2, both, 1);
    freeCodes.pop_back();
    present.push_back(symbol);
  }
  XSync(x, False);
  XCloseDisplay(x);
  return complete;
}

using testsupport::DevServerProcess;
using testsupport::DevServerRequest;

// The development server's seed: the teacher who signs in, his school and
// district, and what the lists hold for the first grade.
const char* const kTeacher =
    "2001|张伟|13810012001|1001|东城区第一实验小学|110000|北京市|110100|北京市|110101|东城区";

// Control positions as the windows' designs give them (left, top, width,
// height inside their window or page).
const QRect kLessonButton(4, 96, 118, 41);  // status window: 上课计时
const QRect kTimeDisplay(98, 38, 126, 52);  // status window: the lesson time
// Main panel.
const QRect kTabLesson(26, 28, 73, 25);
const QRect kTabRepair(188, 28, 79, 25);
const QPoint kPageArea(2, 61);
// Class-start page.
const QRect kStartSchool(18, 24, 311, 29);
const QRect kStartGrade(18, 141, 311, 28);
const QRect kStartClass(18, 199, 311, 28);
const QRect kStartSubject(18, 258, 311, 28);
// The wide button of every page: 开始上课, 选择上传文件, 选择课程章节,
// 上传文件 and 上报故障.
const QRect kWideButton(50, 460, 253, 42);
// Repair page.
const QRect kRepairGrade(20, 142, 309, 28);
const QRect kRepairClass(20, 186, 309, 28);
const QRect kRepairMemo(20, 232, 311, 185);
// Catalog page.
const QRect kCatalogSubject(14, 125, 315, 28);
const QRect kCatalogEntry(14, 180, 315, 28);
// Picker: the school list on its first panel, the teacher list on its
// second; both panels stand at 6,66 and their items are 20 pixels high.
const QPoint kPickerPanel(6, 66);
const QPoint kSchoolList(18, 181);
const QPoint kTeacherList(8, 40);
constexpr int kListItemHeight = 20;

// The panel, the picker (which covers it) and the status window beside them.
const QRect kPanelAndStatus(1300, 40, 610, 620);
// In a picture of that area, what is right of the panel: the status window,
// whose lesson time runs.
const QRect kStatusInPicture(370, 0, 240, 620);
// The same with the file dialog, which opens centred over the panel.
const QRect kPanelAndDialog(1150, 40, 760, 620);

std::string appKey() { return DevServerProcess::kApplicationKey; }

std::string md5Of(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
}

QJsonArray devTable(const DevServerProcess& server, const char* name) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(server.control(name)))
      .object()
      .value("jsonData")
      .toArray();
}

class ClickThroughTest : public clienttest::ClientProgramFixture {
 protected:
  void SetUp() override {
    ClientProgramFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(server_.running());
    ASSERT_TRUE(copyProgramFolder(folder_.path(), server_.port()));
    // The file dialog remembers its last folder in the user's settings; the
    // client gets settings of its own, so the dialog opens in its working
    // folder.
    environment_.insert("XDG_CONFIG_HOME", settings_.path());
  }

  // Starts the copied client and signs the seed's teacher in, with the FTP
  // server of the login's items 16, 17, 25 and 26.
  void startSignedIn(int ftpPort = 21, const QString& ftpUser = "teacher", const QString& ftpPassword = "x") {
    ASSERT_NO_FATAL_FAILURE(startClient(folder_.path() + "/edu-client"));
    const QString login = loginText(ftpPort, ftpUser, ftpPassword);
    ASSERT_FALSE(login.isEmpty());
    ASSERT_EQ(sendLogin(login), 0);
    // The login asks whether a lesson of this computer still runs.
    const DevServerRequest resume = nextRequest("getCouterTime");
    diskID_ = resume.target.substr(resume.target.find("hardDiskID=") + 11);
    ASSERT_FALSE(diskID_.empty());
  }

  // The seed's teacher's login, with the FTP server of the login's items
  // 16, 17, 25 and 26; empty when the credentials cannot be protected.
  QString loginText(int ftpPort = 21, const QString& ftpUser = "teacher", const QString& ftpPassword = "x") {
    const QString user = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", ftpUser}));
    const QString password = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", ftpPassword}));
    if (user.isEmpty() || password.isEmpty()) return {};
    return QString(
               "online|%1|127.0.0.1:%2|0|0|60|127.0.0.1|%3|0|5.0.33|0|5.0.33|0|"
               "http://127.0.0.1/upgrade.xml|0|%4|%5")
        .arg(QString::fromUtf8(kTeacher))
        .arg(server_.port())
        .arg(ftpPort)
        .arg(user, password);
  }

  // Screen points of a control's centre.
  static QPoint inStatus(const QRect& control) { return kStatusWindowAt + control.center(); }
  static QPoint panelAt() { return kStatusWindowAt - QPoint(360, 0); }
  static QPoint inPanel(const QRect& control) { return panelAt() + control.center(); }
  static QPoint inPage(const QRect& control) { return panelAt() + kPageArea + control.center(); }
  static QPoint listItem(const QPoint& list, int item) {
    return panelAt() + kPickerPanel + list + QPoint(150, item * kListItemHeight + kListItemHeight / 2);
  }
  // The ellipsis button at the right end of an edit.
  static QPoint ellipsisOf(const QRect& edit) {
    return panelAt() + kPageArea + QPoint(edit.right() - 12, edit.center().y());
  }

  void click(const QPoint& at, int clicks = 1) {
    run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "--repeat",
                    QString::number(clicks), "--delay", "80", "1"});
  }

  void keys(const QStringList& names) { run("xdotool", QStringList{"key", "--delay", "30"} + names); }

  // Types text (UTF-8, Chinese included) into the focused control.
  void typeText(const QString& text) {
    ASSERT_TRUE(mapCharacters(xvfb_.name(), text)) << "no free key codes";
    run("xdotool", {"type", "--delay", "30", text});
  }

  // The visible windows whose name matches a pattern ("" for all).
  QList<QByteArray> shownWindows(const QString& namePattern = "") {
    const QByteArray found = run("xdotool", {"search", "--onlyvisible", "--name", namePattern});
    return found.isEmpty() ? QList<QByteArray>() : found.split('\n');
  }

  QRect geometryOf(const QByteArray& window) {
    const QString text = QString::fromUtf8(run("xdotool", {"getwindowgeometry", window}));
    const QRegularExpressionMatch match =
        QRegularExpression(R"(Position: (\d+),(\d+).*Geometry: (\d+)x(\d+))",
                           QRegularExpression::DotMatchesEverythingOption)
            .match(text);
    if (!match.hasMatch()) return {};
    return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                 match.captured(4).toInt());
  }

  // Waits on a condition that asks the X server, so it is asked a few times
  // a second rather than on every turn of the event loop.
  static bool waitOnScreen(const std::function<bool()>& condition, int timeoutMs = 20000) {
    return testsupport::waitFor(condition, timeoutMs, 100);
  }

  // The next logged request of an operation after the ones already taken;
  // requests of other operations in between (screenshots) are passed over.
  std::optional<DevServerRequest> awaitRequest(const std::string& operation, int timeoutMs = 20000) {
    const std::string path = "/clientInterface-" + operation;
    std::optional<DevServerRequest> found;
    testsupport::waitFor(
        [&] {
          const std::vector<DevServerRequest> all = server_.requests();
          for (size_t i = taken_; i < all.size(); ++i) {
            if (all[i].path() != path) continue;
            found = all[i];
            taken_ = i + 1;
            return true;
          }
          return false;
        },
        timeoutMs, 20);
    return found;
  }

  DevServerRequest nextRequest(const std::string& operation) {
    std::optional<DevServerRequest> request = awaitRequest(operation);
    EXPECT_TRUE(request) << "no " << operation << " request";
    return request.value_or(DevServerRequest());
  }

  // The client's target for an operation with its parameters after the key.
  static std::string target(const std::string& operation, const std::string& parameters) {
    return "/clientInterface-" + operation + "?appKey=" + appKey() + parameters;
  }

  // Checks the next request of an operation against the parameters
  // expected after the key, then waits until the client has handled the
  // answer, so that a list it fills is complete before its popup opens.
  void expectRequest(const std::string& operation, const std::string& parameters) {
    const DevServerRequest request = nextRequest(operation);
    EXPECT_EQ(request.target, target(operation, parameters));
    if (!request.target.empty()) awaitAnswerHandled(request.target);
  }

  // The client's log has the outcome of every request to `target` that the
  // server has logged up to the last one taken: the client then handles
  // that answer before anything the test does next.
  void awaitAnswerHandled(const std::string& target) {
    const std::vector<DevServerRequest> all = server_.requests();
    const int asked =
        static_cast<int>(std::count_if(all.begin(), all.begin() + std::min(taken_, all.size()),
                                       [&](const DevServerRequest& r) { return r.target == target; }));
    EXPECT_TRUE(
        testsupport::waitFor([&] { return requestOutcomes(folder_.path(), target) >= asked; }, 20000, 20))
        << "the client's log holds no outcome of " << target;
  }

  // The page area of the main panel as it is on the screen now.
  QImage pageSeen() { return screenArea(QRect(panelAt() + kPageArea, QSize(355, 536))); }

  // Clicks and waits until the panel's page shows something else (a tab or
  // a link that brings up another page).
  void clickForAnotherPage(const QPoint& at) {
    const QImage before = pageSeen();
    click(at);
    EXPECT_TRUE(waitOnScreen([&] { return testsupport::differingPixels(pageSeen(), before) > 500; }))
        << "the page stays as it was";
  }

  // Picks item `item` of a combo through its popup: the popup opens on a
  // click, Home and Down walk to the item, Return chooses it. The list was
  // filled when the answer that fills it was handled; every item is at
  // least 20 pixels high.
  void chooseItem(const QPoint& combo, int item) {
    const QList<QByteArray> before = shownWindows();
    click(combo);
    QByteArray popup;
    ASSERT_TRUE(waitOnScreen([&] {
      for (const QByteArray& window : shownWindows())
        if (!before.contains(window)) return !(popup = window).isEmpty();
      return false;
    })) << "no popup";
    EXPECT_GE(geometryOf(popup).height(), (item + 1) * kListItemHeight) << "the list is not filled";
    QStringList walk{"Home"};
    for (int i = 0; i < item; ++i) walk << "Down";
    keys(walk << "Return");
    ASSERT_TRUE(waitOnScreen([&] { return shownWindows().size() == before.size(); })) << "popup stays";
  }

  // Waits for the client's message box, keeps its picture, gives it the
  // focus, waits until it has it and presses OK (Return).
  void answerMessage(const QString& picture) {
    QList<QByteArray> boxes;
    ASSERT_TRUE(waitOnScreen([&] { return !(boxes = shownWindows("^提示$")).isEmpty(); })) << "no message";
    keep(picture, kPanelAndStatus);
    run("xdotool", {"windowfocus", "--sync", boxes.front()});
    ASSERT_TRUE(waitOnScreen([&] { return run("xdotool", {"getwindowfocus"}) == boxes.front(); }))
        << "the message never has the focus";
    keys({"Return"});
    ASSERT_TRUE(waitOnScreen([&] { return shownWindows("^提示$").isEmpty(); })) << "the message stays";
  }

  void keep(const QString& name, const QRect& area) { keepPicture("click_through/" + name, area); }

  // Keeps a picture of the panel and the status window and compares the
  // panel with its reference picture.
  void keepAndCompare(const QString& name) {
    ClientProgramFixture::keepAndCompare("click_through/" + name, kPanelAndStatus, {kStatusInPicture});
  }

  QImage timeDisplay() { return statusWindowArea(kTimeDisplay); }

  // The main panel, opened with the status window's first button: 360 x 600,
  // to the left of the status window, tops aligned.
  void openPanel() {
    click(inStatus(kLessonButton));
    QByteArray panel;
    ASSERT_TRUE(waitOnScreen([&] {
      for (const QByteArray& window : shownWindows())
        if (geometryOf(window) == QRect(panelAt(), QSize(360, 600))) return !(panel = window).isEmpty();
      return false;
    })) << "no main panel at the status window's left";
    panel_ = panel;
  }

  // From the open panel on the class-start page: grade 一年级, class
  // 一年级（1）班, subject 语文, 开始上课; the message answered. Pictures
  // of the choice and of the start's message are kept under `pictures`.
  void startLesson(const std::string& teacherID, const QString& pictures) {
    ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kStartGrade), 1));
    expectRequest("getGradeInfo", "&schoolID=1001&gradeID=3001");
    ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kStartClass), 1));
    expectRequest("getSubject", "&gradeID=3001");
    ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kStartSubject), 1));
    keepAndCompare(pictures + "_lesson_chosen.png");

    const QImage idleTime = timeDisplay();
    click(inPage(kWideButton));
    expectRequest("getStartCountTime", "&schoolID=1001&gradeID=3001&classesID=4001&teacherID=" + teacherID +
                                           "&subjectID=5001&deviceID=" + diskID_ + "&offLine=0&beginTime=");
    ASSERT_NO_FATAL_FAILURE(answerMessage(pictures + "_lesson_started.png"));
    // The class timer runs: the status window's time display moves on.
    EXPECT_TRUE(waitOnScreen([&] { return timeDisplay() != idleTime; })) << "the lesson time stands still";
  }

  DevServerProcess server_;
  QTemporaryDir folder_;
  QTemporaryDir settings_;
  std::string diskID_;
  QByteArray panel_;
  size_t taken_ = 0;
};

TEST_F(ClickThroughTest, PickerLessonStartAndRepairReportThroughTheRealWindows) {
  ASSERT_NO_FATAL_FAILURE(startSignedIn());
  ASSERT_NO_FATAL_FAILURE(openPanel());
  // Shown on the class-start page, which asks for the school's grades.
  expectRequest("getGradeInfo", "&schoolID=1001");
  keepAndCompare("01_panel_class_start.png");

  // The school's "..." opens the picker over the panel on its school tab,
  // which asks for the district's schools.
  click(ellipsisOf(kStartSchool));
  expectRequest("getAreaData", "&type=4&id=110101");
  keepAndCompare("02a_picker_schools.png");
  // A double-click on the first school (东城区第一实验小学) goes on to its
  // teachers: the three recent ones after their heading, then the heading
  // of all teachers and 李娜, 王芳, 张伟 by their initials.
  click(listItem(kSchoolList, 0), 2);
  expectRequest("getAreaData", "&type=5&id=1001");
  keepAndCompare("02b_picker_teachers.png");
  // 王芳 from the full list: the choice is committed, the picker closes and
  // the class-start page refreshes its grades.
  click(listItem(kTeacherList, 6), 2);
  expectRequest("getGradeInfo", "&schoolID=1001");
  keepAndCompare("02c_teacher_chosen.png");

  // The lesson starts for the teacher chosen in the picker.
  ASSERT_NO_FATAL_FAILURE(startLesson("2002", "03"));
  keepAndCompare("04_courseware_tab.png");

  // The repair tab, shown for the first time, asks for the grades again.
  // It shows the lesson's grade and class, and their lists do not open.
  click(inPanel(kTabRepair));
  expectRequest("getGradeInfo", "&schoolID=1001");
  for (const QRect& list : {kRepairGrade, kRepairClass}) {
    const QList<QByteArray> before = shownWindows();
    click(inPage(list));
    EXPECT_FALSE(waitOnScreen([&] { return shownWindows().size() != before.size(); }, 1500))
        << "a list opened during the lesson";
    if (shownWindows().size() != before.size()) keys({"Escape"});
  }
  // The fault in two lines, over the prompt text; "+" and "%" must survive
  // the query.
  click(inPage(kRepairMemo));
  run("xdotool", {"windowfocus", "--sync", panel_});
  keys({"ctrl+a"});
  ASSERT_NO_FATAL_FAILURE(typeText(QString::fromUtf8("投影仪不亮，开机无信号")));
  keys({"Return"});
  ASSERT_NO_FATAL_FAILURE(typeText(QString::fromUtf8("A+B 班 100%")));
  keep("05_repair_typed.png", kPanelAndStatus);
  click(inPage(kWideButton));
  // The teacher's phone is the one the picker gave (王芳's); the room is the
  // lesson's, 一年级（1）班.
  expectRequest("insertRepairs",
                "&schoolID=1001&gradeID=3001&classID=4001&teacherID=2002&tel=13810012002&faultDetail="
                "%e6%8a%95%e5%bd%b1%e4%bb%aa%e4%b8%8d%e4%ba%ae%ef%bc%8c%e5%bc%80%e6%9c%ba%e6%97%a0%e4%bf%a1"
                "%e5%8f%b7%0d%0aA%2bB+%e7%8f%ad+100%25%0d%0a&address=");
  ASSERT_NO_FATAL_FAILURE(answerMessage("06_repair_reported.png"));
  const QJsonArray repairs = devTable(server_, "repairs");
  ASSERT_EQ(repairs.size(), 1);
  EXPECT_EQ(repairs[0].toObject().value("faultDetail").toString(),
            QString::fromUtf8("投影仪不亮，开机无信号\r\nA+B 班 100%\r\n"));
  keepAndCompare("07_repair_after.png");

  // During the lesson the class-start page refuses another school: the
  // refusal is its answer to the click, and the picker has asked nothing.
  click(inPanel(kTabLesson));
  click(ellipsisOf(kStartSchool));
  ASSERT_NO_FATAL_FAILURE(answerMessage("08_school_refused.png"));
  EXPECT_FALSE(awaitRequest("getAreaData", 0)) << "the picker opened during the lesson";
}

TEST_F(ClickThroughTest, CoursewareChosenInTheDialogIsStoredOnTheFtpServerAndRegistered) {
  // About 1 MiB a second into the FTP server: the first file's store lasts
  // long enough to be seen in its row.
  testsupport::FtpServer::Options options;
  options.receiveLimit = 1 << 20;
  testsupport::FtpServer ftp(options);
  if (!ftp.start()) SKIP_WITHOUT_TOOL("pyftpdlib (python3-pyftpdlib) missing");

  // Two files as a teacher brings them, one with a Chinese name and a blank.
  QTemporaryDir files;
  const QString names[] = {QString::fromUtf8("第一课 课件.pptx"), "notes.pdf"};
  QByteArray contents[2];
  quint32 seed = 12345;
  for (int n = 0; n < 2; ++n) {
    contents[n].resize(n == 0 ? 3 * 1024 * 1024 + 17 : 200 * 1024);
    for (char& byte : contents[n]) byte = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    ASSERT_TRUE(testsupport::writeFile(files.filePath(names[n]).toStdString(), contents[n].toStdString()));
  }
  const QString monthBefore = QDate::currentDate().toString("yyyy-MM");
  // The file dialog opens where they are.
  client_.setWorkingDirectory(files.path());

  ASSERT_NO_FATAL_FAILURE(
      startSignedIn(ftp.port(), QString::fromStdString(ftp.user()), QString::fromStdString(ftp.password())));
  ASSERT_NO_FATAL_FAILURE(openPanel());
  expectRequest("getGradeInfo", "&schoolID=1001");
  ASSERT_NO_FATAL_FAILURE(startLesson("2001", "c0"));
  // The lesson has moved the panel on to the file-choice page.
  keepAndCompare("c1_file_choice.png");
  const QImage fileChoicePage = pageSeen();

  // 选择上传文件: the dialog takes both files, quoted, in its name field.
  click(inPage(kWideButton));
  QList<QByteArray> dialogs;
  ASSERT_TRUE(waitOnScreen([&] { return !(dialogs = shownWindows("^请选择需要上传的文件$")).isEmpty(); }));
  run("xdotool", {"windowfocus", "--sync", dialogs.front()});
  ASSERT_NO_FATAL_FAILURE(
      typeText(QString("\"%1\" \"%2\"").arg(files.filePath(names[0]), files.filePath(names[1]))));
  keep("c2_file_dialog.png", kPanelAndDialog);
  keys({"Return"});
  ASSERT_TRUE(waitOnScreen([&] { return shownWindows("^请选择需要上传的文件$").isEmpty(); }));

  // Both are copied below courseware/<name><phone>/<month>/ and queued: the
  // queue page shows their rows.
  const QString localFolder = folder_.path() + QString::fromUtf8("/courseware/张伟13810012001/") +
                              QDate::currentDate().toString("yyyy-MM");
  ASSERT_TRUE(waitOnScreen([&] {
    return QFile::exists(localFolder + "/" + names[0]) && QFile::exists(localFolder + "/" + names[1]);
  })) << localFolder.toStdString();
  keepAndCompare("c3_queue_rows.png");

  // 选择课程章节: the catalog page asks for the catalog of the lesson's
  // subject; 数学 then asks for its own, and 准备课 is its first entry.
  click(inPage(kWideButton));
  expectRequest("getCatalog", "&schoolID=1001&gradeID=3001&subjectID=5001");
  ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kCatalogSubject), 2));
  expectRequest("getCatalog", "&schoolID=1001&gradeID=3001&subjectID=5002");
  ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kCatalogEntry), 1));
  keepAndCompare("c4_catalog_chosen.png");

  // 上传文件: the first file's hash is asked for, then it is stored.
  click(inPage(kWideButton));
  expectRequest("findFileByHash", "&hash=" + md5Of(contents[0]));
  ASSERT_TRUE(waitOnScreen([&] {
    for (const std::string& command : ftp.commands())
      if (command.rfind("STOR ", 0) == 0) return true;
    return false;
  })) << "no STOR";
  keep("c5_queue_storing.png", kPanelAndStatus);

  ASSERT_TRUE(awaitRequest("postCourseware", 60000)) << "the first file was not registered";
  expectRequest("findFileByHash", "&hash=" + md5Of(contents[1]));
  ASSERT_TRUE(awaitRequest("postCourseware", 60000)) << "the second file was not registered";
  // The empty queue gives way to the file-choice page again.
  EXPECT_TRUE(waitOnScreen([&] {
    return testsupport::differingPixels(pageSeen(), fileChoicePage) <= testsupport::kReferenceTolerance;
  })) << "the file-choice page does not come back";
  keepAndCompare("c6_queue_done.png");

  const QJsonArray lessons = devTable(server_, "lessons");
  ASSERT_EQ(lessons.size(), 1);
  const QString processID = lessons[0].toObject().value("processID").toString();
  const QString monthAfter = QDate::currentDate().toString("yyyy-MM");
  const QJsonArray registry = devTable(server_, "registry");
  ASSERT_EQ(registry.size(), 2);
  for (int n = 0; n < 2; ++n) {
    SCOPED_TRACE(names[n].toStdString());
    const QJsonObject entry = registry[n].toObject();
    EXPECT_EQ(entry.value("hash").toString().toStdString(), md5Of(contents[n]));
    EXPECT_EQ(entry.value("processID").toString(), processID);
    for (const auto& [key, value] :
         {std::pair("schoolID", "1001"), std::pair("teacherID", "2001"), std::pair("gradeID", "3001"),
          std::pair("classesID", "4001"), std::pair("subjectID", "5002"), std::pair("catalogID", "6004")})
      EXPECT_EQ(entry.value(key).toString(), value) << key;
    // The name without its extension, sent as GBK.
    const QString stem = names[n].left(names[n].lastIndexOf('.'));
    EXPECT_EQ(entry.value("fileName").toString(), stem);
    EXPECT_EQ(entry.value("fileNameGbkHex").toString().toStdString(),
              QByteArray::fromStdString(text::utf8ToGbk(stem.toStdString())).toHex().toStdString());
    // Stored as /courseware/<school>/<teacher>/<month>/{GUID}.<extension>,
    // byte for byte.
    const QString path = entry.value("path").toString();
    const QString extension = names[n].mid(names[n].lastIndexOf('.'));
    EXPECT_TRUE(QRegularExpression("^/courseware/1001/2001/(" + monthBefore + "|" + monthAfter +
                                   R"()/\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\})" +
                                   QRegularExpression::escape(extension) + "$")
                    .match(path)
                    .hasMatch())
        << path.toStdString();
    EXPECT_TRUE(testsupport::readFile(ftp.root() + path.toStdString()) == contents[n].toStdString())
        << "differs on the FTP server: " << path.toStdString();
  }
}

// A school network outage, clicked through the real program. The retry
// interval is shortened the way a school's installation can set it, in
// deployment.ini beside the program.
class OfflineClickThrough : public ClickThroughTest {
 protected:
  static constexpr QRect kTabOffline{266, 28, 79, 25};
  static constexpr QRect kRepairHistoryLink{106, 502, 141, 18};

  void SetUp() override {
    ClickThroughTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(testsupport::writeFile(folder_.filePath("deployment.ini").toStdString(),
                                       "[offline]\noffline_retry_seconds=5\n"));
  }

  QImage offlineTab() { return screenArea(QRect(panelAt() + kTabOffline.topLeft(), kTabOffline.size())); }

  // Whether the tab's caption shows: more than a few pixels differ from the
  // place without it (anti-aliasing and a passing hover stay below that).
  bool offlineTabShown() {
    const QImage now = offlineTab().convertToFormat(QImage::Format_RGB32);
    const QImage without = noTab_.convertToFormat(QImage::Format_RGB32);
    if (now.size() != without.size()) return true;
    int differing = 0;
    for (int y = 0; y < now.height(); ++y)
      for (int x = 0; x < now.width(); ++x) {
        const QRgb a = now.pixel(x, y);
        const QRgb b = without.pixel(x, y);
        if (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) >
            90)
          ++differing;
      }
    return differing > now.width() * now.height() / 20;
  }

  // Grade 一年级, class 一年级（1）班 and subject 语文 chosen while the server
  // answers; then the server goes away.
  void chooseLessonThenLoseTheServer() {
    ASSERT_NO_FATAL_FAILURE(openPanel());
    expectRequest("getGradeInfo", "&schoolID=1001");
    noTab_ = offlineTab();
    ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kStartGrade), 1));
    expectRequest("getGradeInfo", "&schoolID=1001&gradeID=3001");
    ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kStartClass), 1));
    expectRequest("getSubject", "&gradeID=3001");
    ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kStartSubject), 1));
    port_ = server_.port();
    server_.stop();
  }

  // 开始上课 without a server: the message, the running time, the tab.
  void startOffline(const QString& pictures) {
    const QImage idleTime = timeDisplay();
    click(inPage(kWideButton));
    ASSERT_NO_FATAL_FAILURE(answerMessage(pictures + "_offline_start.png"));
    EXPECT_TRUE(waitOnScreen([&] { return timeDisplay() != idleTime; })) << "the lesson time stands still";
    EXPECT_TRUE(waitOnScreen([&] { return offlineTabShown(); })) << "no 离线上传 tab";
  }

  // The pictures below screen_pic, by name.
  QStringList pictures() {
    QStringList found;
    QDirIterator files(folder_.filePath("screen_pic"), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) found << files.next();
    std::sort(found.begin(), found.end());
    return found;
  }

  // Rows of the copied program's edu.db, columns joined by "|".
  QStringList dbRows(const QString& sql) {
    const QString text = QString::fromUtf8(run("sqlite3", {folder_.filePath("edu.db"), sql}));
    return text.isEmpty() ? QStringList() : text.split('\n');
  }

  static std::string param(const std::string& target, const std::string& name) {
    const size_t at = target.find("&" + name + "=");
    if (at == std::string::npos) return {};
    const size_t from = at + name.size() + 2;
    return target.substr(from, target.find('&', from) - from);
  }

  static std::vector<DevServerRequest> requestsTo(const DevServerProcess& server,
                                                  const std::string& operation) {
    std::vector<DevServerRequest> found;
    for (const DevServerRequest& request : server.requests())
      if (request.path() == "/clientInterface-" + operation) found.push_back(request);
    return found;
  }

  // Every picture on disk reached `server` exactly once, with `processID`,
  // offLine=1 and the time in its name, byte for byte. The lesson's begin
  // time is `began`.
  void expectDelivered(const DevServerProcess& server, const QStringList& kept, const QDateTime& began) {
    const std::vector<DevServerRequest> starts = requestsTo(server, "getStartCountTime");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(param(starts[0].target, "offLine"), "1");
    // "2026-12-10+09%3a05%3a00": the local time, percent-encoded.
    const QString encoded =
        began.toString("yyyy-MM-dd+HH") + "%3a" + began.toString("mm") + "%3a" + began.toString("ss");
    EXPECT_EQ(param(starts[0].target, "beginTime"), encoded.toStdString());
    EXPECT_EQ(param(starts[0].target, "deviceID"), diskID_);
    const QJsonArray lessons = devTable(server, "lessons");
    ASSERT_EQ(lessons.size(), 1);
    EXPECT_EQ(lessons[0].toObject().value("beginTime").toString(), began.toString("yyyy-MM-dd HH:mm:ss"));
    const std::string processID = lessons[0].toObject().value("processID").toString().toStdString();

    const std::vector<DevServerRequest> shots = requestsTo(server, "postScreenShot");
    for (const QString& picture : kept) {
      SCOPED_TRACE(picture.toStdString());
      int arrivals = 0;
      for (size_t n = 0; n < shots.size(); ++n) {
        const DevServerRequest& shot = shots[n];
        if (shot.parts.empty() ||
            QFileInfo(QString::fromStdString(text::gbkToUtf8(shot.parts.back().filename))).fileName() !=
                QFileInfo(picture).fileName())
          continue;
        ++arrivals;
        EXPECT_EQ(param(shot.target, "processID"), processID);
        EXPECT_EQ(param(shot.target, "offLine"), "1");
        // hh.mm__N.jpg was taken at the shot time's hour and minute.
        EXPECT_EQ(QString::fromStdString(shot.shotTime).mid(11, 5).replace(':', '.'),
                  QFileInfo(picture).fileName().left(5));
        EXPECT_EQ(testsupport::readFile(server.dataDir() + "/screens/" + processID + "/" +
                                        std::to_string(n + 1) + ".jpg"),
                  testsupport::readFile(picture.toStdString()));
      }
      EXPECT_EQ(arrivals, 1);
    }
  }

  // The begin time the lesson's local id names.
  QDateTime beganAt(const QStringList& kept) {
    const QRegularExpressionMatch id = QRegularExpression("/offline-(\\d{14})/").match(kept.value(0));
    return QDateTime::fromString(id.captured(1), "yyyyMMddHHmmss");
  }

  QImage noTab_;
  int port_ = 0;
};

TEST_F(OfflineClickThrough, ALessonStartedWithoutServerReachesItWhenItIsBack) {
  ASSERT_NO_FATAL_FAILURE(startSignedIn());
  ASSERT_NO_FATAL_FAILURE(chooseLessonThenLoseTheServer());
  ASSERT_NO_FATAL_FAILURE(startOffline("o1"));

  // Two pictures of the lesson, one per minute, in the local id's folder.
  ASSERT_TRUE(waitOnScreen([&] { return pictures().size() >= 2; }, 240000)) << "no two pictures";
  const QStringList kept = pictures().mid(0, 2);
  const QDateTime began = beganAt(kept);
  ASSERT_TRUE(began.isValid()) << kept.join(", ").toStdString();
  // Each is kept for later right after it is written.
  EXPECT_TRUE(waitOnScreen([&] {
    return dbRows("SELECT state FROM t_offline_shot LIMIT 2") == QStringList{"pending", "pending"};
  }));
  clickForAnotherPage(inPanel(kTabOffline));
  keep("o2_offline_view.png", kPanelAndStatus);
  click(inPanel(kTabLesson));

  // The server is back: without a click, within a minute, the lesson goes
  // with its begin time, then both pictures with the server's lesson id.
  DevServerProcess later({"--port", std::to_string(port_)});
  ASSERT_TRUE(later.running());
  ASSERT_TRUE(waitOnScreen([&] { return requestsTo(later, "postScreenShot").size() >= 2; }, 60000))
      << "not delivered within 60 s";
  ASSERT_NO_FATAL_FAILURE(expectDelivered(later, kept, began));
  EXPECT_TRUE(waitOnScreen([&] { return !offlineTabShown(); })) << "the 离线上传 tab stays";
  keep("o3_delivered.png", kPanelAndStatus);

  // Signed in again, the server reports the lesson as running: it goes on
  // online. Its next picture's upload breaks off; that picture arrives
  // later all the same, marked offLine=1 with its time.
  const int resumes = requestOutcomes(folder_.path(), "/clientInterface-getCouterTime");
  ASSERT_EQ(sendLogin(loginText()), 0);
  const std::string processID =
      devTable(later, "lessons")[0].toObject().value("processID").toString().toStdString();
  // The lesson is resumed once the client has handled the server's answer.
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return requestOutcomes(folder_.path(), "/clientInterface-getCouterTime") > resumes; }, 20000, 20))
      << "the login's question for a running lesson was not answered";
  const size_t shotsBefore = requestsTo(later, "postScreenShot").size();
  ASSERT_FALSE(later.control("mode?set=close&count=1&only=postScreenShot").empty());
  ASSERT_TRUE(
      waitOnScreen([&] { return requestsTo(later, "postScreenShot").size() >= shotsBefore + 2; }, 120000))
      << "the broken-off picture did not arrive again";
  const std::vector<DevServerRequest> shots = requestsTo(later, "postScreenShot");
  const DevServerRequest& live = shots[shotsBefore];
  const DevServerRequest& again = shots[shotsBefore + 1];
  EXPECT_EQ(live.mode, "close");
  EXPECT_EQ(param(live.target, "offLine"), "0");
  EXPECT_EQ(param(live.target, "processID"), processID);
  EXPECT_EQ(param(again.target, "offLine"), "1");
  EXPECT_EQ(param(again.target, "processID"), processID);
  EXPECT_EQ(again.parts.back().filename, live.parts.back().filename);
  EXPECT_FALSE(again.shotTime.empty());
  // The login closed the panel; opened again, it has no 离线上传 tab.
  ASSERT_NO_FATAL_FAILURE(openPanel());
  EXPECT_TRUE(waitOnScreen([&] { return !offlineTabShown(); })) << "the 离线上传 tab stays";
}

TEST_F(OfflineClickThrough, AKilledClientTakesTheLessonUpAndDeliversEverythingOnce) {
  ASSERT_NO_FATAL_FAILURE(startSignedIn());
  ASSERT_NO_FATAL_FAILURE(chooseLessonThenLoseTheServer());

  // A fault report while the server is away: kept, and listed as pending.
  // The repair tab asks for the grades when it is first shown, in vain.
  const int gradeOutcomes = requestOutcomes(folder_.path(), "/clientInterface-getGradeInfo");
  click(inPanel(kTabRepair));
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return requestOutcomes(folder_.path(), "/clientInterface-getGradeInfo") > gradeOutcomes; }, 20000,
      20))
      << "the repair tab's question for the grades has not ended";
  ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kRepairGrade), 1));
  ASSERT_NO_FATAL_FAILURE(chooseItem(inPage(kRepairClass), 1));
  click(inPage(kWideButton));
  ASSERT_NO_FATAL_FAILURE(answerMessage("k1_report_kept.png"));
  EXPECT_EQ(dbRows("SELECT state FROM t_repair_report"), QStringList{"pending"});
  clickForAnotherPage(inPage(kRepairHistoryLink));
  keep("k2_repair_history_pending.png", kPanelAndStatus);

  click(inPanel(kTabLesson));
  ASSERT_NO_FATAL_FAILURE(startOffline("k3"));
  ASSERT_TRUE(waitOnScreen(
      [&] {
        return pictures().size() >= 1 && dbRows("SELECT count(*) FROM t_offline_shot") == QStringList{"1"};
      },
      150000))
      << "no picture";

  // Killed, started again, the teacher signed in again: the lesson goes on.
  client_.kill();
  ASSERT_TRUE(client_.waitForFinished(10000));
  ASSERT_NO_FATAL_FAILURE(startClient(folder_.path() + "/edu-client"));
  const QImage idleTime = timeDisplay();
  ASSERT_EQ(sendLogin(loginText()), 0);
  EXPECT_TRUE(waitOnScreen([&] { return timeDisplay() != idleTime; }, 20000)) << "the lesson is not taken up";
  keep("k4_taken_up.png", statusWindowSurroundings());

  const QStringList kept = pictures();
  const QDateTime began = beganAt(kept);
  DevServerProcess later({"--port", std::to_string(port_)});
  ASSERT_TRUE(later.running());
  ASSERT_TRUE(waitOnScreen(
      [&] {
        return !requestsTo(later, "insertRepairs").empty() && requestsTo(later, "postScreenShot").size() >= 1;
      },
      60000))
      << "not delivered within 60 s";
  ASSERT_NO_FATAL_FAILURE(expectDelivered(later, kept, began));
  EXPECT_EQ(requestsTo(later, "insertRepairs").size(), 1u);
  EXPECT_TRUE(
      waitOnScreen([&] { return dbRows("SELECT state FROM t_repair_report") == QStringList{"delivered"}; }));
}

}  // namespace
