// The built edu-client on desktops as schools run them: under a window
// manager that holds Alt+F4 itself (xfwm4), the status window is kept above
// a window covering the screen and a close request through the manager
// does not end a signed-in client with the F4 hook on; with two monitors,
// the window sits in the primary monitor's corner and is in its pictures.
#include <QTemporaryDir>
#include <optional>

#include "platform/gui/screen_capture.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

// Signed in with the lock-screen flag "1": the F4 hook is on.
const char* const kLogin =
    "online|T1001|张明|13812345678|S01|实验小学|P44|广东省|C01|广州市|A06|天河区|127.0.0.1:1|1|x|60|"
    "127.0.0.1|21|x|5.0.33|x|5.0.33|x|http://up/info.xml|x|1039|1039";

class StatusWindowDesktopTest : public clienttest::ClientProgramFixture {
 protected:
  void TearDown() override {
    ClientProgramFixture::TearDown();
    // The bus last: its settings daemon ends with it.
    for (QProcess* process : {&cover_, &windowManager_, &sessionBus_}) {
      if (process->state() == QProcess::NotRunning) continue;
      process->terminate();
      if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished(10000);
      }
    }
  }

  // xfwm4 on the private display, with a session bus of its own for its
  // settings daemon and its settings in a folder of the test's.
  bool startWindowManager() {
    if (QStandardPaths::findExecutable("xfwm4").isEmpty() ||
        QStandardPaths::findExecutable("dbus-daemon").isEmpty())
      return false;
    QProcessEnvironment environment = environment_;
    environment.insert("HOME", home_.path());
    environment.insert("XDG_CONFIG_HOME", home_.filePath("config"));
    environment.insert("NO_AT_BRIDGE", "1");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home_.filePath("bus"));
    for (QProcess* process : {&sessionBus_, &windowManager_}) {
      process->setProcessEnvironment(environment);
      process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
      process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    sessionBus_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile",
                                      "--address=unix:path=" + home_.filePath("bus")});
    if (!testsupport::waitFor([&] { return QFile::exists(home_.filePath("bus")); }, 10000)) return false;
    windowManager_.start("xfwm4", {"--compositor=off"});
    // The manager announces itself on the root window once it runs.
    return windowManager_.waitForStarted(10000) &&
           testsupport::waitFor(
               [&] {
                 return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
               },
               20000, 100);
  }

  QByteArray statusWindow() { return run("xdotool", {"search", "--name", "^edu_main$"}); }

  QTemporaryDir home_;
  QProcess sessionBus_;
  QProcess windowManager_;
  QProcess cover_;
};

TEST_F(StatusWindowDesktopTest, UnderAWindowManagerItStaysAboveAndAltF4DoesNotEndASignedInClient) {
  if (!startWindowManager()) SKIP_WITHOUT_TOOL("xfwm4 or dbus-daemon missing (packages xfwm4, dbus)");
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), testsupport::freePort()));
  startClient(folder.filePath("edu-client"));
  const QByteArray window = statusWindow();
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        return run("xprop", {"-id", window, "_NET_WM_STATE"}).contains("_NET_WM_STATE_ABOVE");
      },
      10000, 100))
      << run("xprop", {"-id", window}).toStdString();
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin)), 0);
  // The window inside its rounded corners (where what lies behind shows).
  const QRect inside(12, 36, 206, 100);
  const QImage shown = statusWindowArea(inside);
  ASSERT_FALSE(shown.isNull());

  // A window covering the whole screen, brought to the front, leaves the
  // status window in view.
  cover_.setProcessEnvironment(environment_);
  cover_.start("xmessage", {"-name", "cover", "-geometry", "1920x1080+0+0", "covering window"});
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        return !run("xdotool", {"search", "--name", "^cover$"}).isEmpty();
      },
      20000, 100));
  run("xdotool", {"search", "--name", "^cover$", "windowactivate", "--sync"});
  EXPECT_TRUE(testsupport::waitFor(
      [&] { return testsupport::differingPixels(statusWindowArea(inside), shown) < 20; }, 10000, 200));
  keepPicture("status_window_above_cover.png", statusWindowSurroundings());

  // Alt+F4 on the focused status window goes to the window manager, which
  // asks the window to close: refused, and said in the log.
  run("xdotool", {"windowactivate", "--sync", window});
  run("xdotool", {"key", "--clearmodifiers", "alt+F4"});
  const std::string logPath = folder.filePath("log/edu-client.log").toStdString();
  EXPECT_TRUE(testsupport::waitFor(
      [&] {
        return testsupport::readFile(logPath).find("status window: the window manager asked it to close") !=
               std::string::npos;
      },
      10000, 100))
      << testsupport::readFile(logPath);
  EXPECT_FALSE(client_.waitForFinished(1000));
  EXPECT_EQ(client_.state(), QProcess::Running);
  EXPECT_FALSE(statusWindow().isEmpty());
}

// A desk monitor and a projector: the status window stands in the primary
// monitor's corner, wherever that monitor lies, and the primary monitor's
// picture shows it.
TEST_F(StatusWindowDesktopTest, SitsInThePrimaryMonitorsCornerAndIsInItsPictures) {
  if (QStandardPaths::findExecutable("xrandr").isEmpty())
    SKIP_WITHOUT_TOOL("xrandr (x11-xserver-utils) missing");
  const struct {
    const char* what;
    QStringList left, right;  // each monitor's name and geometry ("*": primary)
    QPoint at;                // where the status window stands
    QRect primary;
  } cases[] = {
      {"primary on the right",
       {"L", "1280/340x1080/280+0+0"},
       {"*R", "640/170x1080/280+1280+0"},
       {1670, 50},
       {1280, 0, 640, 1080}},
      {"smaller projector at 0,0",
       {"P", "800/210x600/160+0+0"},
       {"*D", "1120/300x1080/280+800+0"},
       {1670, 50},
       {800, 0, 1120, 1080}},
      {"primary on the left",
       {"*L", "1280/340x1080/280+0+0"},
       {"R", "640/170x1080/280+1280+0"},
       {1030, 50},
       {0, 0, 1280, 1080}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The display of the fixture is given other monitors for each case; the
    // client starts after them.
    run("xrandr", {"--delmonitor", "L"});
    for (const char* name : {"R", "P", "D"}) run("xrandr", {"--delmonitor", name});
    for (const QStringList& monitor : {c.left, c.right}) {
      int exitCode = -1;
      run("xrandr", QStringList{"--setmonitor"} + monitor + QStringList{"none"}, &exitCode);
      ASSERT_EQ(exitCode, 0);
    }
    QTemporaryDir folder;
    ASSERT_TRUE(copyProgramFolder(folder.path(), testsupport::freePort()));
    startClient(folder.filePath("edu-client"));
    const QByteArray geometry = run("xdotool", {"getwindowgeometry", statusWindow()});
    EXPECT_TRUE(geometry.contains(QString("Position: %1,%2").arg(c.at.x()).arg(c.at.y()).toUtf8()))
        << geometry.toStdString();

    // The screen's picture is the primary monitor's; the window's surface
    // (never the black of the bare screen) is in it where the window stands.
    platform::ScreenCapture capture(xvfb_.name());
    platform::ScreenFrame frame;
    const QPoint middle = c.at - c.primary.topLeft() + QPoint(115, 72);
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
          if (!capture.grab(frame) || QSize(frame.width, frame.height) != c.primary.size()) return false;
          const unsigned char* pixel = frame.pixels + static_cast<size_t>(middle.y()) * frame.bytesPerRow() +
                                       static_cast<size_t>(middle.x() * frame.bytesPerPixel());
          return pixel[0] + pixel[1] + pixel[2] > 0;
        },
        10000, 100))
        << frame.width << "x" << frame.height;

    client_.kill();
    client_.waitForFinished(10000);
  }
}

// What a part of a window scaled x2 shows when drawn from the sharp
// pictures (`sharp`) or from the small ones blown up: the picture of a
// button at `at` (in the window's units) over its window's background; the
// button's key-coloured pixels (RGB 0,0,255) are cut away, so the
// background shows there.
QImage buttonOnBackground(const QString& assets, const char* background, const char* button, QPoint at,
                          bool sharp) {
  const auto load = [&](const char* name) {
    QImage picture(assets + "/" + name + (sharp ? "@2x.png" : ".png"));
    picture = picture.convertToFormat(QImage::Format_RGB32);
    return sharp ? picture
                 : picture.scaled(picture.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  };
  const QImage face = load(button);
  QImage shown = load(background).copy(QRect(at * 2, face.size()));
  for (int y = 0; y < face.height(); ++y)
    for (int x = 0; x < face.width(); ++x)
      if (face.pixel(x, y) != qRgb(0, 0, 255)) shown.setPixel(x, y, face.pixel(x, y));
  return shown;
}

// On a screen scaled x2 the windows are twice as large in pixels, the
// status window still in the corner, and drawn from the sharp pictures
// (name@2x.png), not from the small ones blown up: the status window and
// the main panel that its lesson button opens.
TEST_F(StatusWindowDesktopTest, ScaledTwiceItIsDrawnFromTheSharpPictures) {
  environment_.insert("QT_SCALE_FACTOR", "2");
  QTemporaryDir folder;
  ASSERT_TRUE(copyProgramFolder(folder.path(), testsupport::freePort()));
  startClient(folder.filePath("edu-client"));
  const QByteArray geometry = run("xdotool", {"getwindowgeometry", statusWindow()});
  EXPECT_TRUE(geometry.contains("Position: 1420,100")) << geometry.toStdString();
  EXPECT_TRUE(geometry.contains("Geometry: 460x288")) << geometry.toStdString();
  EXPECT_EQ(sendLogin(QString::fromUtf8(kLogin)), 0);

  // Where the client's shown window of this size (in pixels) stands.
  const auto windowAt = [&](const char* size) -> std::optional<QPoint> {
    const QStringList windows = QString::fromUtf8(run("xdotool", {"search", "--onlyvisible", "--pid",
                                                                  QString::number(client_.processId())}))
                                    .split('\n', Qt::SkipEmptyParts);
    for (const QString& window : windows) {
      const QString text = QString::fromUtf8(run("xdotool", {"getwindowgeometry", window}));
      if (!text.contains(QString("Geometry: ") + size)) continue;
      const QStringList at = text.section("Position: ", 1).section(' ', 0, 0).split(',');
      if (at.size() == 2) return QPoint(at[0].toInt(), at[1].toInt());
    }
    return std::nullopt;
  };
  const struct {
    const char* what;
    const char* size;  // the window's, in pixels
    const char* background;
    const char* button;
    QPoint at;  // the button's place in the window, in its units
  } cases[] = {
      {"status window", "460x288", "status_background", "status_lesson_normal", {4, 96}},
      {"main panel", "720x1200", "panel_background", "panel_close_normal", {336, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "main panel") {
      // 上课计时 (its middle, in pixels) opens the main panel.
      run("xdotool", {"mousemove", "1540", "332", "click", "1"});
      run("xdotool", {"mousemove", "10", "10"});
    }
    std::optional<QPoint> origin;
    ASSERT_TRUE(testsupport::waitFor([&] { return (origin = windowAt(c.size)).has_value(); }, 20000));
    const QImage sharp = buttonOnBackground(folder.filePath("assets"), c.background, c.button, c.at, true);
    const QImage blownUp = buttonOnBackground(folder.filePath("assets"), c.background, c.button, c.at, false);
    ASSERT_FALSE(sharp.isNull());
    // The check can tell the two apart.
    ASSERT_GT(testsupport::differingPixels(blownUp, sharp), 40);
    const QRect area(*origin + c.at * 2, sharp.size());
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return testsupport::differingPixels(screenArea(area), sharp) < 20; }, 10000, 200))
        << testsupport::differingPixels(screenArea(area), sharp) << " pixels differ from the sharp picture, "
        << testsupport::differingPixels(screenArea(area), blownUp) << " from the small one blown up";
  }
  keepPicture("status_window_scaled_x2.png", QRect(1390, 70, 520, 350));
  keepPicture("main_panel_scaled_x2.png", QRect(0, 0, 1920, 1080));
}

}  // namespace
