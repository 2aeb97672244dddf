// A picture of a Wayland desktop as the client takes it, against grim writing
// its PNG of the same output, on a headless sway with XWayland run as nobody
// with the portal stack (tests/support/wayland_session.sh): straight from
// the compositor through screencopy (what the client uses where the
// compositor offers it) and through the Screenshot portal (the general
// path: the portal call, its PNG file read back and removed). Each ends
// with four-byte pixels in memory. The runs alternate; the medians are
// compared and the ratios ours/grim printed (goal: at most 1.0).
//
// Run as root: it starts the session as nobody and runs itself again as
// nobody inside it (--measure) for the timing.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/gui/portal_screenshot.h"
#include "platform/gui/wlr_screencopy.h"

namespace {

constexpr int kRuns = 15;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int measure(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  platform::PortalScreenshot portal;
  platform::WlrScreencopy screencopy;
  std::vector<double> ours, direct, grim;
  QSize size;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer timer;
    timer.start();
    platform::ScreenFrame frame;
    std::string why;
    if (!portal.grab(frame, why)) {
      std::fprintf(stderr, "bench_wayland_capture: the portal gave no picture: %s\n", why.c_str());
      return 1;
    }
    ours.push_back(timer.nsecsElapsed() / 1e6);
    size = QSize(frame.width, frame.height);

    timer.restart();
    platform::ScreenFrame copied;
    if (!screencopy.grab(copied, why)) {
      std::fprintf(stderr, "bench_wayland_capture: screencopy gave no picture: %s\n", why.c_str());
      return 1;
    }
    direct.push_back(timer.nsecsElapsed() / 1e6);

    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    timer.restart();
    tool.start("grim", {folder + "/grim.png"});
    if (!tool.waitForFinished(-1) || tool.exitCode() != 0) {
      std::fprintf(stderr, "bench_wayland_capture: grim failed\n");
      return 1;
    }
    grim.push_back(timer.nsecsElapsed() / 1e6);
  }
  const double oursMs = median(ours);
  const double directMs = median(direct);
  const double grimMs = median(grim);
  std::printf("screencopy, picture in memory (%dx%d):        %.1f ms\n", size.width(), size.height(),
              directMs);
  std::printf("Screenshot portal, picture in memory:          %.1f ms\n", oursMs);
  std::printf("grim, PNG written:                             %.1f ms\n", grimMs);
  std::printf("ratio screencopy/grim: %.2f (goal <= 1.00; medians of %d runs)\n", directMs / grimMs, kRuns);
  std::printf("ratio portal/grim: %.2f (the path where no screencopy is offered)\n", oursMs / grimMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && QString(argv[1]) == "--measure") return measure(argc, argv);
  QCoreApplication app(argc, argv);
  if (geteuid() != 0) {
    std::fprintf(stderr, "bench_wayland_capture: run it as root (the desktop runs as nobody)\n");
    return 1;
  }
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) return 1;
  const QStringList asNobody{"--reuid",        QString::number(nobody->pw_uid),
                             "--regid",        QString::number(nobody->pw_gid),
                             "--clear-groups", "--"};
  QTemporaryDir base;
  chmod(base.path().toLocal8Bit().constData(), 0755);
  const QString runtime = base.filePath("runtime");
  QDir().mkpath(runtime);
  if (chown(runtime.toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) != 0 ||
      chmod(runtime.toLocal8Bit().constData(), 0700) != 0)
    return 1;

  QProcess session;
  session.setProcessChannelMode(QProcess::ForwardedChannels);
  QProcessEnvironment bare;
  bare.insert("PATH", "/usr/bin:/bin");
  session.setProcessEnvironment(bare);
  session.start("setpriv", asNobody + QStringList{EDU_SOURCE_DIR "/tests/support/wayland_session.sh", runtime,
                                                  "1920", "1080"});
  for (int i = 0; i < 600 && !QFile::exists(runtime + "/session.env"); ++i) QThread::msleep(100);
  if (!QFile::exists(runtime + "/session.env")) {
    std::fprintf(stderr, "bench_wayland_capture: the Wayland session did not come up\n");
    return 1;
  }
  QProcessEnvironment environment = bare;
  environment.insert("HOME", runtime);
  environment.insert("XDG_RUNTIME_DIR", runtime);
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  QFile env(runtime + "/session.env");
  env.open(QIODevice::ReadOnly);
  for (const QByteArray& line : env.readAll().split('\n'))
    if (line.contains('=')) environment.insert(line.left(line.indexOf('=')), line.mid(line.indexOf('=') + 1));
  // Something on the screen besides the background: a terminal.
  QProcess terminal;
  terminal.setProcessEnvironment(environment);
  terminal.start("setpriv", asNobody + QStringList{"foot", "-e", "sleep", "600"});
  QThread::msleep(1000);

  QProcess bench;
  bench.setProcessEnvironment(environment);
  bench.setProcessChannelMode(QProcess::ForwardedChannels);
  bench.start("setpriv", asNobody + QStringList{QCoreApplication::applicationFilePath(), "--measure"});
  bench.waitForFinished(-1);
  const int result = bench.exitStatus() == QProcess::NormalExit ? bench.exitCode() : 1;
  terminal.kill();
  terminal.waitForFinished();
  session.terminate();
  session.waitForFinished();
  return result;
}
