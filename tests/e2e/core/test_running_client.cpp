// The client as a classroom runs it: a copy of the program folder on a
// 1920 x 1080 X server, the development server behind it, the teacher
// signed in and out with the login sender. The server reports the teacher's
// lesson as running for 125 s; the client takes it up, counts on from 02:05,
// photographs the screen after the login's 60 s interval, keeps the picture
// below screen_pic and posts it. The server takes the picture but its answer
// breaks off, so the failure notice slides up. What the status window reads
// is checked against the same labels drawn by the test in the window's
// typeface on the window's own background picture. Pictures of the window
// (signed out, signed in, in a lesson) and of the notice are kept in
// build/tests/artefacts.
#include <QDateTime>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>
#include <map>
#include <optional>

#include "core/shot_notice.h"
#include "platform/gui/ui_fonts.h"
#include "sys/hd_serial.h"
#include "sys/text_codec.h"
#include "tests/support/devserver_process.h"
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

// Pixels whose colour differs by more than a shade of anti-aliasing.
int differingPixels(const QImage& seen, const QImage& expected) {
  if (seen.size() != expected.size()) return seen.width() * seen.height() + 1;
  const QImage a = seen.convertToFormat(QImage::Format_RGB32);
  const QImage b = expected.convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > 40 || std::abs(qGreen(p) - qGreen(q)) > 40 ||
          std::abs(qBlue(p) - qBlue(q)) > 40)
        ++count;
    }
  }
  return count;
}

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
  QString login(int serverPort) {
    const QString user = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", "ftpuser"}));
    const QString password = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", "secret"}));
    return QString::fromUtf8(
               "online|2001|%1|%2|1001|东城区第一实验小学|110000|北京市|110100|北京市|110101|东城区|"
               "127.0.0.1:%3|1|0|60|127.0.0.1|2121|0|5.0.33|0|5.0.33|0|http://127.0.0.1/upgrade.xml|0|%4|%5")
        .arg(kTeacherName, kTeacherPhone)
        .arg(serverPort)
        .arg(user, password);
  }

  QImage statusLabelSeen() { return statusWindowArea(kStatusArea); }
  QImage timeDisplaySeen() { return statusWindowArea(kTimeArea); }

  // Waits until the server has heard nothing new for `quietMs`.
  static bool waitForQuiet(const DevServerProcess& server, int quietMs, int timeoutMs) {
    size_t count = server.requests().size();
    QDateTime changed = QDateTime::currentDateTime();
    return testsupport::waitFor(
        [&] {
          const size_t now = server.requests().size();
          if (now != count) {
            count = now;
            changed = QDateTime::currentDateTime();
          }
          return changed.msecsTo(QDateTime::currentDateTime()) >= quietMs;
        },
        timeoutMs);
  }

  ExpectedStatusWindow expected_;
};

TEST_F(RunningClientTest, ResumesTheLessonPhotographsTheScreenAndStopsAtLogout) {
  ASSERT_TRUE(expected_.ready());
  if (!testsupport::placeBesideTestProgram("diskid"))
    SKIP_WITHOUT_TOOL("diskid not built (build the diskid target)");
  const std::string diskID = ReadDiskIdentity();
  ASSERT_FALSE(diskID.empty());
  DevServerProcess server;
  ASSERT_TRUE(server.running());
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), server.port()));

  startClient(folder.filePath("edu-client"));
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return looksLike(statusLabelSeen(), expected_.statusLabel(QString::fromUtf8("未登录"))); },
      10000));
  const QImage idleTime = timeDisplaySeen();
  EXPECT_TRUE(looksLike(idleTime, expected_.timeDisplay(QString::fromUtf8("00：00"))));
  keepPicture("e2e_status_signed_out.png", statusWindowSurroundings());

  // Signed in, no lesson on the server: the window names the teacher and
  // the time stands still. The question for a running lesson names this
  // computer's disk.
  const QString loginText = login(server.port());
  ASSERT_EQ(sendLogin(loginText), 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(server, "getCouterTime").empty(); }, 10000));
  EXPECT_EQ(sentParameter(requestsTo(server, "getCouterTime").front().target, "hardDiskID"), diskID);
  const QImage signedIn = expected_.statusLabel(kTeacherName + QString::fromUtf8(" 老师"));
  EXPECT_TRUE(testsupport::waitFor([&] { return looksLike(statusLabelSeen(), signedIn); }, 10000));
  EXPECT_FALSE(looksLike(statusLabelSeen(), expected_.statusLabel(QString::fromUtf8("未登录"))));
  ASSERT_TRUE(waitForQuiet(server, 1500, 20000));
  EXPECT_EQ(timeDisplaySeen(), idleTime);
  keepPicture("e2e_status_signed_in.png", statusWindowSurroundings());

  // The server now counts a lesson of this teacher on this computer that
  // began 125 s ago; the next login takes it up and counts on from 02:05.
  const std::string preset =
      server.control("lesson?hardDiskID=" + diskID + "&teacherID=2001&timeDiff=" + std::to_string(kTimeDiff) +
                     kLessonChoices);
  const QString processID = QJsonDocument::fromJson(QByteArray::fromStdString(preset))
                                .object()["lesson"]
                                .toObject()["processID"]
                                .toString();
  ASSERT_FALSE(processID.isEmpty()) << preset;
  const QDateTime loggedIn = QDateTime::currentDateTime();
  ASSERT_EQ(sendLogin(loginText), 0);
  std::optional<int> shown;
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        shown = expected_.readTime(timeDisplaySeen());
        return shown && *shown >= kTimeDiff;
      },
      15000))
      << "the time display does not show the server's lesson time";
  EXPECT_LE(*shown, kTimeDiff + loggedIn.secsTo(QDateTime::currentDateTime()) + 1);
  EXPECT_TRUE(looksLike(statusLabelSeen(), signedIn));
  keepPicture("e2e_status_lesson.png", statusWindowSurroundings());

  // A second copy started meanwhile steps aside at once; the first goes on.
  int secondExit = -1;
  run(folder.filePath("edu-client"), {}, &secondExit);
  EXPECT_EQ(secondExit, 0);
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_EQ(run("xdotool", {"search", "--name", "^edu_main$"}).split('\n').size(), 1);

  // The server will take the next request, the screenshot, and then break
  // off its answer: the client must see a failed upload.
  ASSERT_TRUE(waitForQuiet(server, 3000, 30000));
  ASSERT_FALSE(server.control("mode?set=close&count=1").empty());
  const QRect noticeArea = ShotNotice::placeIn(QRect(0, 0, kScreenWidth, kScreenHeight));
  const QImage beforeNotice = screenArea(noticeArea);

  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(server, "postScreenShot").empty(); }, 90000))
      << "no screenshot within 90 s of the login";
  const QDateTime shot = QDateTime::currentDateTime();

  // The picture on disk: screen_pic/yyyy-mm/<name><phone>/<processID>/hh.mm__2.jpg.
  QStringList pictures;
  QDirIterator files(folder.filePath("screen_pic"), QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) pictures << files.next();
  ASSERT_EQ(pictures.size(), 1) << pictures.join(", ").toStdString();
  const QString picture = pictures.front();
  const QString relative = QDir(folder.path()).relativeFilePath(picture);
  bool named = false;
  for (const QString& month : clockTexts(loggedIn, shot, "yyyy-MM")) {
    for (const QString& minute : clockTexts(loggedIn, shot, "HH.mm")) {
      named = named || relative == QString("screen_pic/%1/%2%3/%4/%5__2.jpg")
                                       .arg(month, kTeacherName, kTeacherPhone, processID, minute);
    }
  }
  EXPECT_TRUE(named) << relative.toStdString();
  const QImage taken(picture, "JPEG");
  EXPECT_EQ(taken.size(), QSize(kScreenWidth, kScreenHeight));

  // The upload: the lesson's values in the query, the form's parts in the
  // server's order, the picture under its full local path.
  const DevServerRequest upload = requestsTo(server, "postScreenShot").front();
  EXPECT_EQ(upload.method, "POST");
  EXPECT_EQ(upload.target,
            "/clientInterface-postScreenShot?appKey=" + std::string(DevServerProcess::kApplicationKey) +
                "&processID=" + processID.toStdString() +
                "&schoolID=1001&gradeID=3001&classesID=4001&teacherID=2001&subjectID=5002&deviceID=" +
                diskID + "&offLine=0&shotTime=");
  EXPECT_EQ(upload.mode, "close");
  ASSERT_TRUE(upload.multipartComplete);
  std::vector<std::string> names;
  for (const auto& part : upload.parts) names.push_back(part.name);
  EXPECT_EQ(names, (std::vector<std::string>{"act", "upcount", "filepath", "Submit", "screenFile"}));
  const DevServerRequest::Part& file = upload.parts.back();
  EXPECT_TRUE(file.hasFilename);
  const QFileInfo sentAs(QString::fromStdString(text::gbkToUtf8(file.filename)));
  EXPECT_TRUE(sentAs.isAbsolute()) << file.filename;
  EXPECT_EQ(sentAs.canonicalFilePath(), QFileInfo(picture).canonicalFilePath());
  EXPECT_EQ(file.contentType, "text/plain");
  // The server logs a request before it stores what came with it.
  const std::string kept = testsupport::readFile(picture.toStdString());
  std::string received;
  EXPECT_TRUE(testsupport::waitFor(
      [&] {
        received = testsupport::readFile(server.dataDir() + "/screens/" + processID.toStdString() + "/1.jpg");
        return !kept.empty() && received == kept;
      },
      10000))
      << "the server kept " << received.size() << " bytes of the " << kept.size() << "-byte picture";

  // The answer broke off: the notice stands at the bottom-right corner.
  ShotNotice notice;
  notice.resize(ShotNotice::kWidth, ShotNotice::kHeight);
  const QImage noticeLook = notice.grab().toImage();
  EXPECT_TRUE(testsupport::waitFor([&] { return looksLike(screenArea(noticeArea), noticeLook); }, 10000))
      << "the failure notice is not shown";
  keepPicture("e2e_shot_notice.png", noticeArea.adjusted(-40, -40, 18, 0));
  EXPECT_FALSE(looksLike(beforeNotice, noticeLook));

  // Signed out: the window reads 未登录 again, the display is back at
  // 00：00 and neither it nor the lamp changes any more.
  ASSERT_EQ(sendLogin("offline"), 0);
  EXPECT_TRUE(testsupport::waitFor(
      [&] { return looksLike(statusLabelSeen(), expected_.statusLabel(QString::fromUtf8("未登录"))); },
      10000));
  EXPECT_EQ(timeDisplaySeen(), idleTime);
  const QImage lamp = statusWindowArea(kLampArea);
  const QImage time = timeDisplaySeen();
  // The class timer ticked every second; two and a half seconds show it
  // stopped.
  testsupport::waitFor([] { return false; }, 2500);
  EXPECT_EQ(statusWindowArea(kLampArea), lamp);
  EXPECT_EQ(timeDisplaySeen(), time);
  EXPECT_EQ(client_.state(), QProcess::Running);
}

}  // namespace
