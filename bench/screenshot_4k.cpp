// How long a screenshot tick holds up the UI thread on a 3840 x 2160 screen:
// the capture runs there, the blank check and the JPEG encoding on the
// encoder's worker. A zero-time timer beats on the UI thread while the tick
// runs; the most CPU time the UI thread spent between two beats is the
// longest block (its wall-clock gap is printed too: on a loaded machine it
// also holds the time the thread waited for a processor). Printed: the
// median and the worst of the per-tick longest blocks (goal: at most 20 ms),
// and the whole tick until its picture is written, for scale, against cjpeg
// encoding the same frame.
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

#include "bench/screen_bench_common.h"
#include "core/screenshot_taker.h"
#include "platform/gui/screen_capture.h"
#include "tests/integration/core/xvfb_display.h"

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;
constexpr int kRuns = 11;

// A busy 4K desktop: gradients, text and shapes everywhere, so that the
// encoder has real work.
QImage busyScreen() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient desktop(0, 0, kWidth, kHeight);
  desktop.setColorAt(0, QColor(20, 60, 110));
  desktop.setColorAt(1, QColor(120, 170, 210));
  painter.fillRect(image.rect(), desktop);
  painter.fillRect(300, 200, 2600, 1700, Qt::white);
  QFont font;
  font.setFamilies({"WenQuanYi Micro Hei"});
  font.setPixelSize(44);
  painter.setFont(font);
  for (int line = 0; line < 34; ++line)
    painter.drawText(360, 280 + line * 48,
                     QString::fromUtf8("第%1行：课堂教学设备使用情况 The quick brown fox jumps").arg(line));
  painter.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 40; ++i) {
    painter.setBrush(QColor::fromHsv(i * 9, 200, 230));
    painter.drawEllipse(QPoint(3100 + (i % 4) * 160, 200 + (i / 4) * 180), 70, 70);
  }
  return image;
}

// The CPU time of the calling thread, in milliseconds.
double threadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  xvfbtest::XvfbDisplay xvfb(kWidth, kHeight);
  if (!screenbench::showOnPrivateDisplay(xvfb, busyScreen(), "bench_screenshot_4k")) return 1;

  QTemporaryDir dir;
  const std::string ppm = dir.filePath("frame.ppm").toStdString();
  {
    platform::ScreenCapture capture;
    platform::ScreenFrame frame;
    if (!capture.grab(frame) || frame.layout != platform::PixelLayout::Bgrx ||
        !screenbench::writePpm(frame, ppm)) {
      std::fprintf(stderr, "bench_screenshot_4k: the screen could not be captured\n");
      return 1;
    }
  }

  ScreenshotTaker taker;
  taker.setUploader(
      [](const std::string&, const std::string&, std::stop_token) { return std::string("ok"); });
  ScreenshotJob job;
  job.dataDir = dir.path().toStdString();
  job.lesson.teacherName = "bench";
  job.lesson.processID = "1";

  QElapsedTimer beat;
  double beatCpu = 0;
  double longestGap = 0, longestCpu = 0;
  QTimer heartbeat;
  heartbeat.setInterval(0);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const double cpu = threadCpuMs();
    longestGap = std::max(longestGap, beat.nsecsElapsed() / 1e6);
    longestCpu = std::max(longestCpu, cpu - beatCpu);
    beat.restart();
    beatCpu = cpu;
  });

  std::vector<double> blocks, gaps, wholeTicks, cjpeg;
  for (int run = 0; run < kRuns; ++run) {
    job.counter = run + 2;
    bool ended = false;
    const QMetaObject::Connection watch =
        QObject::connect(&taker, &ScreenshotTaker::tickEnded, [&ended] { ended = true; });
    heartbeat.start();
    QCoreApplication::processEvents();
    longestGap = 0;
    longestCpu = 0;
    beat.start();
    beatCpu = threadCpuMs();
    QElapsedTimer whole;
    whole.start();
    taker.tick(job);
    const double inTick = threadCpuMs() - beatCpu;
    while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    wholeTicks.push_back(whole.nsecsElapsed() / 1e6);
    heartbeat.stop();
    QObject::disconnect(watch);
    blocks.push_back(std::max(inTick, longestCpu));
    gaps.push_back(longestGap);
    if (taker.lastScreenshotPath().empty()) {
      std::fprintf(stderr, "bench_screenshot_4k: the tick wrote no picture\n");
      return 1;
    }
    while (taker.uploadsRunning() > 0) QCoreApplication::processEvents();

    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    tool.start("cjpeg",
               {"-quality", "80", "-outfile", dir.filePath("cjpeg.jpg"), QString::fromStdString(ppm)});
    if (!tool.waitForFinished(-1) || tool.exitCode() != 0) {
      std::fprintf(stderr, "bench_screenshot_4k: cjpeg failed\n");
      return 1;
    }
    cjpeg.push_back(timer.nsecsElapsed() / 1e6);
  }
  const double worst = *std::max_element(blocks.begin(), blocks.end());
  std::printf("UI thread's longest block per tick at %dx%d: median %.1f ms, worst %.1f ms (goal <= 20 ms)\n",
              kWidth, kHeight, screenbench::median(blocks), worst);
  std::printf("longest wall-clock gap between beats: median %.1f ms\n", screenbench::median(gaps));
  std::printf("whole tick until the picture is written: %.1f ms; cjpeg -quality 80 from PPM: %.1f ms\n",
              screenbench::median(wholeTicks), screenbench::median(cjpeg));
  std::printf("ratio longest block/20 ms: %.2f (goal <= 1.00; median of %d ticks)\n",
              screenbench::median(blocks) / 20.0, kRuns);
  return 0;
}
