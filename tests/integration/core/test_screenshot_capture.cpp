// The real screen: a private Xvfb with known colours on its root window,
// captured through shared memory and through the plain request (of the
// primary monitor when the screen is split into several), written as JPEG,
// and one whole tick sent to the development server.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "core/jpeg_writer.h"
#include "core/screenshot_taker.h"
#include "platform/gui/screen_capture.h"
#include "state/client_state.h"
#include "sys/text_codec.h"
#include "tests/integration/core/xvfb_display.h"
#include "tests/support/devserver_process.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Rgb {
  int red, green, blue;
};

// Left half red, right half blue, a green square at 100,50.
void paintScene(const std::string& display) {
  xvfbtest::RootPainter painter(display);
  ASSERT_TRUE(painter.ready());
  painter.fill(0, 0, kWidth / 2, kHeight, 255, 0, 0);
  painter.fill(kWidth / 2, 0, kWidth / 2, kHeight, 0, 0, 255);
  painter.fill(100, 50, 40, 40, 0, 255, 0);
  painter.sync();
}

Rgb pixelAt(const platform::ScreenFrame& frame, int x, int y) {
  const unsigned char* p = frame.pixels + y * frame.bytesPerRow() + x * frame.bytesPerPixel();
  switch (frame.layout) {
    case platform::PixelLayout::Bgrx:
      return {p[2], p[1], p[0]};
    case platform::PixelLayout::Rgbx:
    case platform::PixelLayout::Rgb:
      break;
  }
  return {p[0], p[1], p[2]};
}

void expectColour(Rgb seen, Rgb wanted, int tolerance, const std::string& where) {
  EXPECT_NEAR(seen.red, wanted.red, tolerance) << where;
  EXPECT_NEAR(seen.green, wanted.green, tolerance) << where;
  EXPECT_NEAR(seen.blue, wanted.blue, tolerance) << where;
}

const std::vector<std::pair<QPoint, Rgb>> kProbes{
    {{10, 10}, {255, 0, 0}}, {{300, 200}, {0, 0, 255}}, {{120, 70}, {0, 255, 0}}, {{159, 239}, {255, 0, 0}}};

TEST(ScreenCapture, TheWholeScreenComesOutExactlyAndEncodesAtItsSize) {
  struct Case {
    int depth;
    bool sharedMemory;
    platform::PixelLayout layout;
  };
  const std::vector<Case> cases{{24, true, platform::PixelLayout::Bgrx},
                                {24, false, platform::PixelLayout::Bgrx},
                                {16, true, platform::PixelLayout::Rgb}};
  for (const Case& c : cases) {
    const std::string what = "depth " + std::to_string(c.depth) + (c.sharedMemory ? " shared" : " plain");
    xvfbtest::XvfbDisplay xvfb(kWidth, kHeight, c.depth);
    if (!xvfb.running()) SKIP_WITHOUT_TOOL("no Xvfb could be started (package xvfb)");
    paintScene(xvfb.name());

    platform::ScreenCapture capture(xvfb.name(), c.sharedMemory);
    platform::ScreenFrame frame;
    ASSERT_TRUE(capture.grab(frame)) << what;
    EXPECT_EQ(capture.lastGrabSharedMemory(), c.sharedMemory) << what;
    EXPECT_EQ(frame.width, kWidth) << what;
    EXPECT_EQ(frame.height, kHeight) << what;
    EXPECT_EQ(frame.layout, c.layout) << what;
    for (const auto& [at, colour] : kProbes) expectColour(pixelAt(frame, at.x(), at.y()), colour, 0, what);

    // A second grab reuses the shared image and sees what changed.
    xvfbtest::RootPainter(xvfb.name()).fill(40, 150, 20, 20, 255, 255, 255);
    ASSERT_TRUE(capture.grab(frame)) << what;
    expectColour(pixelAt(frame, 45, 155), {255, 255, 255}, 0, what);

    QTemporaryDir dir;
    const std::string path = dir.filePath("screen.jpg").toStdString();
    ASSERT_TRUE(writeJpeg(frame, path)) << what;
    const QImage image(QString::fromStdString(path), "JPEG");
    ASSERT_EQ(image.size(), QSize(kWidth, kHeight)) << what;
    for (const auto& [at, colour] : kProbes) {
      const QColor seen = image.pixelColor(at.x() == 159 ? 150 : at.x(), at.y() == 239 ? 230 : at.y());
      expectColour({seen.red(), seen.green(), seen.blue()}, colour, 40, what);
    }
  }
}

// A desk screen and a projector side by side: the picture is the primary
// monitor's part of the screen; with none marked, the whole screen.
TEST(ScreenCapture, TakesThePrimaryMonitorOfSeveral) {
  if (QStandardPaths::findExecutable("xrandr").isEmpty())
    SKIP_WITHOUT_TOOL("xrandr (x11-xserver-utils) missing");
  const struct {
    const char* what;
    QStringList left, right;  // each monitor's name and geometry
    bool sharedMemory;
    QSize size;
    std::vector<std::pair<QPoint, Rgb>> probes;
  } cases[] = {
      {"none marked",
       {"L", "160/40x240/60+0+0"},
       {"R", "160/40x240/60+160+0"},
       true,
       {kWidth, kHeight},
       kProbes},
      {"right one primary",
       {"L", "160/40x240/60+0+0"},
       {"*R", "160/40x240/60+160+0"},
       true,
       {160, kHeight},
       {{{0, 0}, {0, 0, 255}}, {{159, 239}, {0, 0, 255}}}},
      {"left one primary, plain request",
       {"*L", "160/40x240/60+0+0"},
       {"R", "160/40x240/60+160+0"},
       false,
       {160, kHeight},
       {{{10, 10}, {255, 0, 0}}, {{120, 70}, {0, 255, 0}}, {{159, 239}, {255, 0, 0}}}},
  };
  for (const auto& c : cases) {
    xvfbtest::XvfbDisplay xvfb(kWidth, kHeight);
    if (!xvfb.running()) SKIP_WITHOUT_TOOL("no Xvfb could be started (package xvfb)");
    paintScene(xvfb.name());
    for (const QStringList& monitor : {c.left, c.right}) {
      QProcess xrandr;
      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
      environment.insert("DISPLAY", QString::fromStdString(xvfb.name()));
      xrandr.setProcessEnvironment(environment);
      xrandr.start("xrandr", QStringList{"--setmonitor"} + monitor + QStringList{"none"});
      ASSERT_TRUE(xrandr.waitForFinished(10000) && xrandr.exitCode() == 0) << c.what;
    }
    platform::ScreenCapture capture(xvfb.name(), c.sharedMemory);
    platform::ScreenFrame frame;
    ASSERT_TRUE(capture.grab(frame)) << c.what;
    EXPECT_EQ(capture.lastGrabSharedMemory(), c.sharedMemory) << c.what;
    EXPECT_EQ(QSize(frame.width, frame.height), c.size) << c.what;
    for (const auto& [at, colour] : c.probes) expectColour(pixelAt(frame, at.x(), at.y()), colour, 0, c.what);
  }
}

TEST(ScreenCapture, NoDisplayIsAFailedGrab) {
  platform::ScreenCapture capture(":65000");
  platform::ScreenFrame frame;
  EXPECT_FALSE(capture.grab(frame));
}

// One tick as the status window makes it: the real capture of $DISPLAY,
// the picture below the program folder, the upload to the server's own port.
class ScreenshotToServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xvfb_.running()) SKIP_WITHOUT_TOOL("no Xvfb could be started (package xvfb)");
    paintScene(xvfb_.name());
    previousDisplay_ = qgetenv("DISPLAY");
    qputenv("DISPLAY", QByteArray::fromStdString(xvfb_.name()));
    state_.teacherName = text::utf8ToGbk("张明");
    state_.teacherPhone = "13812345678";
    state_.schoolID = "1";
    state_.teacherID = "2001";
    state_.diskID = "DISK1";
    state_.serverHost = "127.0.0.1";
    state_.serverPath = "/";
    lesson_.start("4711", {}, "2026-12-10 09:00:00");
    lesson_.countScreenshot();  // the second picture
  }
  void TearDown() override { qputenv("DISPLAY", previousDisplay_); }

  void sendTo(const testsupport::DevServerProcess& server) {
    ASSERT_TRUE(server.running());
    state_.serverPort = server.port();
  }

  xvfbtest::XvfbDisplay xvfb_{kWidth, kHeight};
  QByteArray previousDisplay_;
  QTemporaryDir programDir_;
  ClientStateRecord state_;
  Lesson lesson_;
};

TEST_F(ScreenshotToServer, ThePictureReachesTheServerOnItsPort) {
  testsupport::DevServerProcess server;
  ASSERT_NO_FATAL_FAILURE(sendTo(server));

  ScreenshotTaker taker;
  QSignalSpy finished(&taker, &ScreenshotTaker::uploadFinished);
  taker.tick(makeScreenshotJob(state_, lesson_, programDir_.path().toStdString()));
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 1; }, 30000));
  EXPECT_TRUE(finished.at(0).at(0).toBool());

  const std::string disk = text::gbkToUtf8(taker.lastScreenshotPath());
  const std::string below = disk.substr(programDir_.path().toStdString().size());
  EXPECT_TRUE(std::regex_match(
      below, std::regex(R"(/screen_pic/\d{4}-\d{2}/张明13812345678/4711/\d{2}\.\d{2}__2\.jpg)")))
      << below;
  EXPECT_EQ(QImage(QString::fromStdString(disk), "JPEG").size(), QSize(kWidth, kHeight));

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path(), "/clientInterface-postScreenShot");
  ASSERT_EQ(requests[0].parts.size(), 5u);
  EXPECT_EQ(requests[0].parts[4].name, "screenFile");
  EXPECT_EQ(requests[0].parts[4].filename, taker.lastScreenshotPath());
  EXPECT_EQ(requests[0].parts[4].size, std::filesystem::file_size(disk));
}

TEST_F(ScreenshotToServer, AnUnreachableServerBringsTheNoticeAndKeepsThePicture) {
  state_.serverPort = testsupport::freePort();
  ScreenshotTaker taker;
  QSignalSpy failed(&taker, &ScreenshotTaker::uploadFailed);
  taker.tick(makeScreenshotJob(state_, lesson_, programDir_.path().toStdString()));
  ASSERT_TRUE(testsupport::waitFor([&] { return failed.count() == 1; }, 30000));
  EXPECT_TRUE(std::filesystem::is_regular_file(text::gbkToUtf8(taker.lastScreenshotPath())));
}

// A redirect answer is a failed upload: the notice's signal carries the
// upload, the picture stays, and nothing is sent again (no GET without the
// picture after 302, no second form after 307).
TEST_F(ScreenshotToServer, ARedirectIsAFailedUploadThatKeepsThePicture) {
  testsupport::DevServerProcess server;
  ASSERT_NO_FATAL_FAILURE(sendTo(server));
  ScreenshotTaker taker;
  QSignalSpy failed(&taker, &ScreenshotTaker::uploadFailed);
  const std::vector<std::string> codes = {"302", "307"};
  for (size_t i = 0; i < codes.size(); ++i) {
    SCOPED_TRACE(codes[i]);
    ASSERT_FALSE(server.control("mode?set=redirect:" + codes[i] + "&count=1").empty());
    lesson_.countScreenshot();
    taker.tick(makeScreenshotJob(state_, lesson_, programDir_.path().toStdString()));
    ASSERT_TRUE(testsupport::waitFor([&] { return failed.count() == static_cast<int>(i) + 1; }, 30000));
    const auto upload = failed.back().at(0).value<ScreenshotUpload>();
    EXPECT_EQ(upload.localPath, taker.lastScreenshotPath());
    EXPECT_EQ(upload.job.lesson.processID, "4711");
    EXPECT_TRUE(std::filesystem::is_regular_file(text::gbkToUtf8(upload.localPath)));
  }
  ASSERT_TRUE(testsupport::waitFor([&] { return taker.uploadsRunning() == 0; }));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), codes.size());
  for (size_t i = 0; i < codes.size(); ++i) {
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].mode, "redirect:" + codes[i]);
  }
}

// The next tick stops an upload that the server holds without answering;
// the new upload goes on.
TEST_F(ScreenshotToServer, ANewTickStopsTheUploadTheServerHolds) {
  testsupport::DevServerProcess server;
  ASSERT_NO_FATAL_FAILURE(sendTo(server));
  ASSERT_FALSE(server.control("mode?set=silent&count=2").empty());
  ScreenshotTaker taker;
  QSignalSpy finished(&taker, &ScreenshotTaker::uploadFinished);
  taker.tick(makeScreenshotJob(state_, lesson_, programDir_.path().toStdString()));
  ASSERT_TRUE(server.waitForRequests(1, 30000));
  lesson_.countScreenshot();
  taker.tick(makeScreenshotJob(state_, lesson_, programDir_.path().toStdString()));
  ASSERT_TRUE(server.waitForRequests(2, 30000));
  // Well before the stall limit of 30 s that would end it otherwise.
  EXPECT_TRUE(testsupport::waitFor([&] { return taker.uploadsRunning() == 1; }, 15000));
  EXPECT_EQ(finished.count(), 0);
  // The server's end releases the second; it reports as the current one.
  server.stop();
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 1; }, 30000));
  EXPECT_FALSE(finished.at(0).at(0).toBool());
  EXPECT_EQ(taker.uploadsRunning(), 0);
}

}  // namespace
