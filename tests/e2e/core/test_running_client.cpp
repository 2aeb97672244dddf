// The client as a classroom runs it: a copy of the program folder on a
// 1920 x 1080 X server, the development server behind it, the teacher
// signed in and out with the login sender. Each test starts its own client
// from the same fixture, so one behaviour that fails hides none of the
// others: signed out and signed in; a lesson the server still counts taken
// up from its time; a second copy stepping aside; the lesson's picture of
// the screen kept and posted, and the failure notice when the server's
// answer breaks off; the lesson stopped at logout. What the status window
// reads is checked against the same labels drawn by the test in the
// window's typeface on the window's own background picture. Pictures of
// the window (signed out, signed in, in a lesson) and of the notice are kept
// in build/tests/artefacts and compared with those in tests/reference.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "core/shot_notice.h"
#include "platform/gui/ui_fonts.h"
#include "sys/hd_serial.h"
#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_ca.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

using testsupport::DevServerProcess;
using testsupport::DevServerRequest;

// A teacher of the development server's seed, and the lesson it reports.
const QString kTeacherName = QString::fromUtf8("张伟");
const QString kTeacherPhone = "13810012001";
constexpr int kTimeDiff = 125;
const char* const kLessonChoices = "&schoolID=1001&gradeID=3001&classesID=4001&subjectID=5002";

// Where the status window shows what: the status label (Label1) and the
// time display (Label2), with room for longer texts; the lamp (Shape1).
const QRect kStatusArea(14, 4, 150, 24);
const QRect kTimeArea(98, 38, 126, 52);
const QRect kLampArea(28, 44, 35, 30);

using testsupport::differingPixels;

// At most one pixel in 200 differs: the same text, while a different glyph
// anywhere changes far more.
bool looksLike(const QImage& seen, const QImage& expected) {
  return !seen.isNull() && differingPixels(seen, expected) <= expected.width() * expected.height() / 200;
}

// The status window as a teacher should see it: its background picture with
// one silver label in "微软雅黑" placed where the window has it.
class ExpectedStatusWindow {
 public:
  ExpectedStatusWindow()
      : background_(QString::fromStdString(testsupport::programDir()) + "/assets/status_background.png") {}

  bool ready() const { return !background_.isNull(); }

  // Label1: 9 pt at 14,6.
  QImage statusLabel(const QString& text) const { return draw(text, 9, false, {14, 6}, kStatusArea); }
  // Label2: 24 pt bold at 100,40.
  QImage timeDisplay(const QString& text) const { return draw(text, 24, true, {100, 40}, kTimeArea); }

  // The lesson time that a picture of the time display shows, in seconds
  // (mm:ss with a plain colon, up to 10 minutes); nothing when none fits.
  std::optional<int> readTime(const QImage& seen) {
    std::optional<int> best;
    int fewest = kTimeArea.width() * kTimeArea.height();
    for (int seconds = 0; seconds < 600; ++seconds) {
      auto drawn = times_.find(seconds);
      if (drawn == times_.end()) {
        const QString text =
            QString("%1:%2").arg(seconds / 60, 2, 10, QChar('0')).arg(seconds % 60, 2, 10, QChar('0'));
        drawn = times_.emplace(seconds, timeDisplay(text)).first;
      }
      const int differing = differingPixels(seen, drawn->second);
      if (differing < fewest) {
        fewest = differing;
        best = seconds;
      }
    }
    if (!best || !looksLike(seen, times_.at(*best))) return std::nullopt;
    return best;
  }

 private:
  QImage draw(const QString& text, int pointSize, bool bold, QPoint at, const QRect& area) const {
    QImage surface = background_.toImage().convertToFormat(QImage::Format_RGB32);
    QWidget parent;
    parent.setFixedSize(background_.size());
    QLabel label(&parent);
    label.setFont(platform::yaheiFont(pointSize, bold));
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, QColor(192, 192, 192));
    label.setPalette(palette);
    label.move(at);
    label.setText(text);
    label.adjustSize();
    // The label is transparent: it is drawn over the window's picture.
    label.render(&surface, at, QRegion(), QWidget::DrawChildren);
    return surface.copy(area);
  }

  QPixmap background_;
  std::map<int, QImage> times_;
};

// One parameter's value as sent, from a request target.
std::string sentParameter(const std::string& target, const std::string& name) {
  const size_t at = target.find("&" + name + "=");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 2;
  return target.substr(from, target.find('&', from) - from);
}

std::vector<DevServerRequest> requestsTo(const DevServerProcess& server, const std::string& operation) {
  std::vector<DevServerRequest> found;
  for (const DevServerRequest& request : server.requests()) {
    if (request.path() == "/clientInterface-" + operation) found.push_back(request);
  }
  return found;
}

// What a clock formatted with `format` read at some moment from `from` to
// `to` (30 s steps cannot skip a minute).
QStringList clockTexts(const QDateTime& from, const QDateTime& to, const QString& format) {
  QStringList texts;
  for (QDateTime t = from; t < to; t = t.addSecs(30)) texts << t.toString(format);
  texts << to.toString(format);
  texts.removeDuplicates();
  return texts;
}

class RunningClientTest : public clienttest::ClientProgramFixture {
 protected:
  void SetUp() override {
    ClientProgramFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(expected_.ready());
    if (!testsupport::placeBesideTestProgram("diskid"))
      SKIP_WITHOUT_TOOL("diskid not built (build the diskid target)");
    diskID_ = ReadDiskIdentity();
    ASSERT_FALSE(diskID_.empty());
    ASSERT_TRUE(server_.running());
    ASSERT_TRUE(copyProgramFolder(folder_.path(), server_.port()));
  }

  QString login() {
    const QString user = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", "ftpuser"}));
    const QString password = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", "secret"}));
    return QString::fromUtf8(
               "online|2001|%1|%2|1001|东城区第一实验小学|110000|北京市|110100|北京市|110101|东城区|"
               "127.0.0.1:%3|1|0|60|127.0.0.1|2121|0|5.0.33|0|5.0.33|0|http://127.0.0.1/upgrade.xml|0|%4|%5")
        .arg(kTeacherName, kTeacherPhone)
        .arg(server_.port())
        .arg(user, password);
  }

  QImage statusLabelSeen() { return statusWindowArea(kStatusArea); }
  QImage timeDisplaySeen() { return statusWindowArea(kTimeArea); }
  QImage signedOutLabel() const { return expected_.statusLabel(QString::fromUtf8("未登录")); }
  QImage signedInLabel() const { return expected_.statusLabel(kTeacherName + QString::fromUtf8(" 老师")); }

  // Waits on what a picture of the screen shows, a few times a second.
  static bool waitOnScreen(const std::function<bool()>& condition, int timeoutMs = 15000) {
    return testsupport::waitFor(condition, timeoutMs, 100);
  }

  // The client started from the copy, its window reading 未登录.
  void startSignedOut() {
    ASSERT_NO_FATAL_FAILURE(startClient(folder_.filePath("edu-client")));
    ASSERT_TRUE(waitOnScreen([&] { return looksLike(statusLabelSeen(), signedOutLabel()); }))
        << "the status window does not read 未登录";
  }

  // The teacher signed in; returns once the client has handled the
  // server's answer to its question for a running lesson.
  void signIn() {
    const int answered = requestOutcomes(folder_.path(), "/clientInterface-getCouterTime");
    ASSERT_EQ(sendLogin(login()), 0);
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return requestOutcomes(folder_.path(), "/clientInterface-getCouterTime") > answered; }, 20000,
        20))
        << "the log holds no answer to the question for a running lesson";
  }

  // The server counts a lesson of this teacher on this computer that began
  // 125 s ago.
  void presetLesson() {
    const std::string preset = server_.control("lesson?hardDiskID=" + diskID_ + "&teacherID=2001&timeDiff=" +
                                               std::to_string(kTimeDiff) + kLessonChoices);
    processID_ = QJsonDocument::fromJson(QByteArray::fromStdString(preset))
                     .object()["lesson"]
                     .toObject()["processID"]
                     .toString();
    ASSERT_FALSE(processID_.isEmpty()) << preset;
  }

  // Signed in while the server counts the lesson: the time display counts
  // on from the server's time. Returns when the login was sent.
  QDateTime enterLesson() {
    presetLesson();
    if (HasFatalFailure()) return {};
    startSignedOut();
    if (HasFatalFailure()) return {};
    const QDateTime loggedIn = QDateTime::currentDateTime();
    signIn();
    if (HasFatalFailure()) return {};
    EXPECT_TRUE(waitOnScreen([&] {
      shownTime_ = expected_.readTime(timeDisplaySeen());
      return shownTime_ && *shownTime_ >= kTimeDiff;
    })) << "the time display does not show the server's lesson time";
    return loggedIn;
  }

  // Whether `unchanged` holds throughout three ticks of the 1 s class timer
  // (and every look at the screen in between): what must not happen is
  // watched for, and the wait ends as soon as it does happen.
  static bool holdsForThreeTicks(const std::function<bool()>& unchanged) {
    return !testsupport::waitFor([&] { return !unchanged(); }, 3000, 100);
  }

  ExpectedStatusWindow expected_;
  DevServerProcess server_;
  QTemporaryDir folder_;
  std::string diskID_;
  QString processID_;
  std::optional<int> shownTime_;
};

TEST_F(RunningClientTest, SignedInTheWindowNamesTheTeacherAndAsksForThisComputersLesson) {
  ASSERT_NO_FATAL_FAILURE(startSignedOut());
  const QImage idleTime = timeDisplaySeen();
  EXPECT_TRUE(looksLike(idleTime, expected_.timeDisplay(QString::fromUtf8("00：00"))));
  keepAndCompare("e2e_status_signed_out.png", statusWindowSurroundings());

  // No lesson on the server: the window names the teacher and the time
  // stands still. The question for a running lesson names this computer's
  // disk.
  ASSERT_NO_FATAL_FAILURE(signIn());
  const std::vector<DevServerRequest> asked = requestsTo(server_, "getCouterTime");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(sentParameter(asked.front().target, "hardDiskID"), diskID_);
  EXPECT_TRUE(waitOnScreen([&] { return looksLike(statusLabelSeen(), signedInLabel()); }))
      << "the status window does not name the teacher";
  EXPECT_FALSE(looksLike(statusLabelSeen(), signedOutLabel()));
  EXPECT_TRUE(holdsForThreeTicks([&] { return timeDisplaySeen() == idleTime; })) << "the time runs";
  keepAndCompare("e2e_status_signed_in.png", statusWindowSurroundings());
}

TEST_F(RunningClientTest, TakesUpTheLessonTheServerStillCountsFromItsTime) {
  const QDateTime loggedIn = enterLesson();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(shownTime_.has_value());
  EXPECT_LE(*shownTime_, kTimeDiff + loggedIn.secsTo(QDateTime::currentDateTime()) + 1);
  EXPECT_TRUE(looksLike(statusLabelSeen(), signedInLabel()));
  // The time display and the blinking lamp change from run to run.
  keepAndCompare("e2e_status_lesson.png", statusWindowSurroundings(),
                 {kTimeArea.translated(15, 15), kLampArea.translated(15, 15)});
}

TEST_F(RunningClientTest, ASecondCopyStepsAsideAndTheFirstGoesOn) {
  ASSERT_NO_FATAL_FAILURE(startSignedOut());
  int secondExit = -1;
  run(folder_.filePath("edu-client"), {}, &secondExit);
  EXPECT_EQ(secondExit, 0);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(run("xdotool", {"search", "--name", "^edu_main$"}).split('\n').size(), 1);
}

TEST_F(RunningClientTest, PhotographsTheScreenInTheLessonKeepsThePictureAndPostsIt) {
  const QDateTime loggedIn = enterLesson();
  ASSERT_FALSE(HasFatalFailure());
  // The server will take the screenshot and then break off its answer: the
  // client must see a failed upload.
  ASSERT_FALSE(server_.control("mode?set=close&count=1&only=postScreenShot").empty());
  const QRect noticeArea = ShotNotice::placeIn(QRect(0, 0, kScreenWidth, kScreenHeight));
  const QImage beforeNotice = screenArea(noticeArea);

  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(server_, "postScreenShot").empty(); }, 90000, 50))
      << "no screenshot within 90 s of the login";
  const QDateTime shot = QDateTime::currentDateTime();

  // The picture on disk: screen_pic/yyyy-mm/<name><phone>/<processID>/hh.mm__2.jpg.
  QStringList pictures;
  QDirIterator files(folder_.filePath("screen_pic"), QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) pictures << files.next();
  ASSERT_EQ(pictures.size(), 1) << pictures.join(", ").toStdString();
  const QString picture = pictures.front();
  const QString relative = QDir(folder_.path()).relativeFilePath(picture);
  bool named = false;
  for (const QString& month : clockTexts(loggedIn, shot, "yyyy-MM")) {
    for (const QString& minute : clockTexts(loggedIn, shot, "HH.mm")) {
      named = named || relative == QString("screen_pic/%1/%2%3/%4/%5__2.jpg")
                                       .arg(month, kTeacherName, kTeacherPhone, processID_, minute);
    }
  }
  EXPECT_TRUE(named) << relative.toStdString();
  const QImage taken(picture, "JPEG");
  EXPECT_EQ(taken.size(), QSize(kScreenWidth, kScreenHeight));

  // The upload: the lesson's values in the query, the form's parts in the
  // server's order, the picture under its full local path.
  const DevServerRequest upload = requestsTo(server_, "postScreenShot").front();
  EXPECT_EQ(upload.method, "POST");
  EXPECT_EQ(upload.target,
            "/clientInterface-postScreenShot?appKey=" + std::string(DevServerProcess::kApplicationKey) +
                "&processID=" + processID_.toStdString() +
                "&schoolID=1001&gradeID=3001&classesID=4001&teacherID=2001&subjectID=5002&deviceID=" +
                diskID_ + "&offLine=0&shotTime=");
  EXPECT_EQ(upload.mode, "close");
  EXPECT_TRUE(upload.multipartComplete);
  std::vector<std::string> names;
  for (const auto& part : upload.parts) names.push_back(part.name);
  EXPECT_EQ(names, (std::vector<std::string>{"act", "upcount", "filepath", "Submit", "screenFile"}));
  if (!upload.parts.empty()) {
    const DevServerRequest::Part& file = upload.parts.back();
    EXPECT_TRUE(file.hasFilename);
    const QFileInfo sentAs(QString::fromStdString(text::gbkToUtf8(file.filename)));
    EXPECT_TRUE(sentAs.isAbsolute()) << file.filename;
    EXPECT_EQ(sentAs.canonicalFilePath(), QFileInfo(picture).canonicalFilePath());
    EXPECT_EQ(file.contentType, "text/plain");
  }
  // The server logs a request before it stores what came with it.
  const std::string kept = testsupport::readFile(picture.toStdString());
  std::string received;
  EXPECT_TRUE(testsupport::waitFor(
      [&] {
        received =
            testsupport::readFile(server_.dataDir() + "/screens/" + processID_.toStdString() + "/1.jpg");
        return !kept.empty() && received == kept;
      },
      10000, 20))
      << "the server kept " << received.size() << " bytes of the " << kept.size() << "-byte picture";

  // The answer broke off: the notice stands at the bottom-right corner.
  ShotNotice notice;
  notice.resize(ShotNotice::kWidth, ShotNotice::kHeight);
  const QImage noticeLook = notice.grab().toImage();
  EXPECT_TRUE(waitOnScreen([&] { return looksLike(screenArea(noticeArea), noticeLook); }))
      << "the failure notice is not shown";
  keepAndCompare("e2e_shot_notice.png", noticeArea.adjusted(-40, -40, 18, 0));
  EXPECT_FALSE(looksLike(beforeNotice, noticeLook));
}

// The service manager's end of the notify protocol: a datagram socket the
// test binds, as systemd does for a Type=notify unit.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }
  // Every datagram that came since the last call.
  std::vector<std::string> received() {
    std::vector<std::string> datagrams;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) >= 0;) datagrams.emplace_back(buffer, n);
    return datagrams;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

// Under a Type=notify unit: READY=1 once the window shows, then the
// watchdog's beat from the UI thread, each with a line of state that
// follows the sign-in.
TEST_F(RunningClientTest, TellsTheServiceManagerItIsReadyAliveAndWhoIsSignedIn) {
  NotifySocket manager(folder_.filePath("notify").toStdString());
  ASSERT_TRUE(manager.bound());
  environment_.insert("NOTIFY_SOCKET", folder_.filePath("notify"));
  environment_.insert("WATCHDOG_USEC", "1000000");
  ASSERT_NO_FATAL_FAILURE(startSignedOut());
  std::vector<std::string> heard;
  const auto heardOne = [&](const std::string& text) {
    return testsupport::waitFor(
        [&] {
          for (std::string& datagram : manager.received()) heard.push_back(std::move(datagram));
          return std::any_of(heard.begin(), heard.end(),
                             [&](const std::string& d) { return d.find(text) != std::string::npos; });
        },
        15000, 50);
  };
  ASSERT_TRUE(heardOne("READY=1\n"));
  EXPECT_EQ(heard.front(), "READY=1\nSTATUS=signed out, nothing waiting");
  EXPECT_TRUE(heardOne("WATCHDOG=1\nSTATUS=signed out, nothing waiting"));
  ASSERT_NO_FATAL_FAILURE(signIn());
  EXPECT_TRUE(heardOne("WATCHDOG=1\nSTATUS=signed in: " + kTeacherName.toStdString() + ", nothing waiting"));
  EXPECT_EQ(std::count_if(heard.begin(), heard.end(),
                          [](const std::string& d) { return d.find("READY=1") != std::string::npos; }),
            1);
}

// The admin moves the server in /etc while a lesson runs: within ten
// seconds the client says so, edu.db holds the new address, the lesson
// counts on, and its next picture goes to the new server.
TEST_F(RunningClientTest, FollowsTheSiteAddressMidLessonWithoutLosingTheLesson) {
  enterLesson();
  ASSERT_FALSE(HasFatalFailure());
  DevServerProcess moved;
  ASSERT_TRUE(moved.running());
  const std::string address = "127.0.0.1:" + std::to_string(moved.port());
  ASSERT_TRUE(writeSiteFile("conf.d/50-edu-admin.conf", "server=" + address + "\n"));
  const std::string logFile = folder_.filePath("log/edu-client.log").toStdString();
  const std::string said = "server address changed to " + address + " from " + etc_.path().toStdString() +
                           "/edu-client/conf.d/50-edu-admin.conf";
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return testsupport::readFile(logFile).find(said) != std::string::npos; }, 12000, 100))
      << testsupport::readFile(logFile);
  std::string stored;
  EXPECT_TRUE(testsupport::waitFor(
      [&] {
        QProcess sqlite;
        sqlite.start("sqlite3", {"-cmd", ".timeout 2000", folder_.filePath("edu.db"),
                                 "SELECT http_url FROM t_login_info"});
        sqlite.waitForFinished(10000);
        stored = sqlite.readAllStandardOutput().trimmed().toStdString();
        return stored == address;
      },
      10000, 200))
      << "edu.db holds " << stored;

  const std::optional<int> before = expected_.readTime(timeDisplaySeen());
  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(moved, "postScreenShot").empty(); }, 90000, 50))
      << "no picture reached the new server within 90 s";
  EXPECT_NE(requestsTo(moved, "postScreenShot").front().target.find("&processID=" + processID_.toStdString()),
            std::string::npos);
  const std::optional<int> after = expected_.readTime(timeDisplaySeen());
  ASSERT_TRUE(before && after);
  EXPECT_GT(*after, *before) << "the lesson did not count on";
}

// Killed mid-lesson and started again at once, as the user unit does: the
// same teacher is signed in, the server is asked for the lesson as at a
// re-login, the time counts on from the server's, and the next picture of
// the lesson reaches the server.
TEST_F(RunningClientTest, AClientKilledMidLessonComesBackSignedInWithTheLesson) {
  enterLesson();
  ASSERT_FALSE(HasFatalFailure());
  const size_t asked = requestsTo(server_, "getCouterTime").size();
  ASSERT_EQ(::kill(static_cast<pid_t>(client_.processId()), SIGKILL), 0);
  ASSERT_TRUE(client_.waitForFinished(10000));
  QElapsedTimer sinceKill;
  sinceKill.start();
  ASSERT_NO_FATAL_FAILURE(startClient(folder_.filePath("edu-client")));
  ASSERT_TRUE(
      testsupport::waitFor([&] { return requestsTo(server_, "getCouterTime").size() > asked; }, 15000, 20))
      << "the restarted client did not ask for its lesson";
  EXPECT_TRUE(waitOnScreen([&] {
    shownTime_ = expected_.readTime(timeDisplaySeen());
    return shownTime_ && *shownTime_ > kTimeDiff;
  })) << "the time display does not count on";
  std::printf("back in the lesson %lld ms after the kill\n", static_cast<long long>(sinceKill.elapsed()));
  EXPECT_TRUE(looksLike(statusLabelSeen(), signedInLabel()));
  const std::string log = testsupport::readFile(folder_.filePath("log/edu-client.log").toStdString());
  EXPECT_NE(log.find("restarted: teacher 2001 signed in again, lesson " + processID_.toStdString()),
            std::string::npos)
      << log;
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        const auto posted = requestsTo(server_, "postScreenShot");
        return !posted.empty() &&
               posted.back().target.find("&processID=" + processID_.toStdString()) != std::string::npos;
      },
      90000, 50))
      << "no picture of the lesson after the restart";
}

// The service manager's stop (SIGTERM) and a kill, each while a picture's
// post is on its way to a server that never answers: a stopped client ends
// within two seconds and says so in its log; either way the picture waits
// in edu.db and reaches the server exactly once after the next start.
TEST_F(RunningClientTest, APicturePostCutOffByAStopOrAKillArrivesOnceAfterTheRestart) {
  enterLesson();
  ASSERT_FALSE(HasFatalFailure());
  for (const int stop : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(stop == SIGTERM ? "SIGTERM" : "SIGKILL");
    ASSERT_FALSE(server_.control("mode?set=silent&count=1&only=postScreenShot").empty());
    const size_t postsBefore = requestsTo(server_, "postScreenShot").size();
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return requestsTo(server_, "postScreenShot").size() > postsBefore; }, 150000, 50))
        << "no picture posted";
    const DevServerRequest cut = requestsTo(server_, "postScreenShot").back();
    ASSERT_EQ(cut.mode, "silent");
    ASSERT_FALSE(cut.parts.empty());
    const std::string picture = cut.parts.back().filename;

    QElapsedTimer stopping;
    stopping.start();
    ASSERT_EQ(::kill(static_cast<pid_t>(client_.processId()), stop), 0);
    ASSERT_TRUE(client_.waitForFinished(10000));
    if (stop == SIGTERM) {
      EXPECT_LT(stopping.elapsed(), 2000);
      EXPECT_EQ(client_.exitStatus(), QProcess::NormalExit);
      const std::string log = clientLog(folder_.path());
      for (const char* line :
           {"edu-client stopping on SIGTERM", "screenshot post abandoned", "edu-client stopped"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }

    // Started again, it comes back signed in by itself (it kept the sign-in
    // and the lesson): the lesson goes on, and the picture goes as one sent
    // later.
    ASSERT_NO_FATAL_FAILURE(startClient(folder_.filePath("edu-client")));
    ASSERT_TRUE(waitOnScreen([&] { return looksLike(statusLabelSeen(), signedInLabel()); }))
        << "the restarted client is not signed in";
    const auto arrivals = [&] {
      std::vector<DevServerRequest> found;
      for (const DevServerRequest& post : requestsTo(server_, "postScreenShot"))
        if (post.mode != "silent" && !post.parts.empty() && post.parts.back().filename == picture)
          found.push_back(post);
      return found;
    };
    ASSERT_TRUE(testsupport::waitFor([&] { return !arrivals().empty(); }, 90000, 100))
        << "the picture did not arrive after the restart: " << picture;
    // Given time to be sent twice, it is not.
    EXPECT_FALSE(testsupport::waitFor([&] { return arrivals().size() > 1; }, 3000, 100));
    const DevServerRequest arrived = arrivals().front();
    EXPECT_EQ(sentParameter(arrived.target, "offLine"), "1");
    EXPECT_EQ(sentParameter(arrived.target, "processID"), processID_.toStdString());
  }
}

TEST_F(RunningClientTest, SignedOutTheLessonStopsAndTheWindowReadsNotSignedIn) {
  enterLesson();
  ASSERT_FALSE(HasFatalFailure());
  // Signed out: the window reads 未登录 again, the display is back at
  // 00：00 and neither it nor the lamp changes any more.
  ASSERT_EQ(sendLogin("offline"), 0);
  EXPECT_TRUE(waitOnScreen([&] { return looksLike(statusLabelSeen(), signedOutLabel()); }))
      << "the status window does not read 未登录";
  EXPECT_TRUE(waitOnScreen([&] {
    return looksLike(timeDisplaySeen(), expected_.timeDisplay(QString::fromUtf8("00：00")));
  })) << "the time display is not back at 00：00";
  const QImage lamp = statusWindowArea(kLampArea);
  const QImage time = timeDisplaySeen();
  EXPECT_TRUE(holdsForThreeTicks([&] {
    return statusWindowArea(kLampArea) == lamp && timeDisplaySeen() == time;
  })) << "the lamp or the time display still changes";
  EXPECT_EQ(client_.state(), QProcess::Running);
}

// With an https address every request of the client goes over TLS to the
// server whose certificate the school's CA file vouches for: the login's
// question for a running lesson, the lesson, the picture. Nothing reaches
// the plain port beside it. And nothing the client wrote meanwhile holds
// the FTP password where another user could read it.
TEST_F(RunningClientTest, OverHttpsEveryRequestIsEncryptedAndNoneGoesInClear) {
  const testsupport::TestCa& ca = testsupport::TestCa::shared();
  if (!ca.made()) GTEST_SKIP() << "the openssl command is needed to make a test CA";
  DevServerProcess secure({"--tls-cert", ca.certificate("good"), "--tls-key", ca.key("good")});
  ASSERT_TRUE(secure.running());
  ASSERT_TRUE(testsupport::writeFile(folder_.filePath("deployment.ini").toStdString(),
                                     "ca_file=" + ca.caFile() + "\n"));
  QProcess sqlite;
  sqlite.start("sqlite3",
               {folder_.filePath("edu.db"),
                QString("UPDATE t_login_info SET http_url = 'https://localhost:%1'").arg(secure.port())});
  ASSERT_TRUE(sqlite.waitForFinished(10000) && sqlite.exitCode() == 0);
  const std::string preset = secure.control("lesson?hardDiskID=" + diskID_ + "&teacherID=2001&timeDiff=" +
                                            std::to_string(kTimeDiff) + kLessonChoices);
  ASSERT_NE(preset.find("processID"), std::string::npos) << preset;

  ASSERT_NO_FATAL_FAILURE(startSignedOut());
  ASSERT_NO_FATAL_FAILURE(signIn());
  EXPECT_TRUE(waitOnScreen([&] {
    shownTime_ = expected_.readTime(timeDisplaySeen());
    return shownTime_ && *shownTime_ >= kTimeDiff;
  })) << "the time display does not show the server's lesson time";
  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(secure, "postScreenShot").empty(); }, 90000, 50))
      << "no screenshot within 90 s of the login";

  std::set<std::string> operations;
  for (const DevServerRequest& request : secure.requests()) {
    EXPECT_EQ(request.scheme, "https") << request.target;
    operations.insert(request.path());
  }
  for (const char* operation : {"/clientInterface-getCouterTime", "/clientInterface-postScreenShot"})
    EXPECT_TRUE(operations.count(operation)) << operation;
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_EQ(clientLog(folder_.path()).find("refused:"), std::string::npos);

  // The login carried the FTP password, merely disguised: whatever holds it
  // is for this user's eyes only.
  const std::string disguised =
      run(builtProgram("edu-login"), {"--protect", "secret"}).trimmed().toStdString();
  ASSERT_FALSE(disguised.empty());
  QDirIterator files(folder_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    const QString path = files.next();
    const std::string content = testsupport::readFile(path.toStdString());
    if (content.find(disguised) == std::string::npos) continue;
    const QFile::Permissions others = QFile::ReadGroup | QFile::ReadOther;
    EXPECT_FALSE(QFileInfo(path).permissions() & others) << path.toStdString() << " is readable by others";
  }
}

}  // namespace
