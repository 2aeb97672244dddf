// One screenshot tick (capture of a 1920 x 1080 screen, JPEG at quality 80,
// file written) against cjpeg -quality 80 encoding the same frame from a PPM
// file, on a private Xvfb showing a desktop-like picture. The runs alternate;
// the medians are compared and the ratio ours/cjpeg printed (goal: at most
// 1.2). The tick is timed until its picture is written (the encoding runs
// on its worker); the upload is left out.
// An optional argument names a file to keep the last picture in.
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/screen_bench_common.h"
#include "core/screenshot_taker.h"
#include "platform/gui/screen_capture.h"
#include "tests/integration/core/xvfb_display.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRuns = 21;

// A teacher's screen: a gradient desktop, a slide with a title bar and lines
// of Chinese and Latin text, a photograph-like area and some shapes.
QImage classroomScreen() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient desktop(0, 0, 0, kHeight);
  desktop.setColorAt(0, QColor(20, 60, 120));
  desktop.setColorAt(1, QColor(90, 150, 200));
  painter.fillRect(image.rect(), desktop);

  const QRect slide(120, 80, 1500, 900);
  painter.fillRect(slide, Qt::white);
  painter.fillRect(slide.x(), slide.y(), slide.width(), 40, QColor(0, 84, 166));
  QFont font;
  font.setFamilies({"WenQuanYi Micro Hei", "Noto Sans CJK SC"});
  font.setPixelSize(22);
  painter.setFont(font);
  painter.setPen(Qt::black);
  for (int line = 0; line < 30; ++line) {
    painter.drawText(
        slide.x() + 30, slide.y() + 80 + line * 27,
        QString::fromUtf8("第%1节 光的折射 Refraction of light: n1 sin θ1 = n2 sin θ2 — 练习与思考 %2")
            .arg(line + 1)
            .arg(line * 37 % 101));
  }
  // Smooth shapes with fine detail, like a photograph.
  QImage photo(640, 420, QImage::Format_RGB32);
  for (int y = 0; y < photo.height(); ++y) {
    for (int x = 0; x < photo.width(); ++x) {
      const double r = 128 + 100 * std::sin(x * 0.021) * std::cos(y * 0.017) + 20 * std::sin(x * y * 0.0007);
      const double g = 128 + 90 * std::sin((x + y) * 0.013) + 25 * std::cos(x * 0.31) * std::sin(y * 0.27);
      const double b = 128 + 110 * std::cos(std::hypot(x - 320, y - 210) * 0.04);
      photo.setPixel(x, y,
                     qRgb(std::clamp(static_cast<int>(r), 0, 255), std::clamp(static_cast<int>(g), 0, 255),
                          std::clamp(static_cast<int>(b), 0, 255)));
    }
  }
  painter.drawImage(slide.right() - 700, slide.y() + 420, photo);
  painter.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 12; ++i) {
    painter.setBrush(QColor::fromHsv(i * 30, 200, 230));
    painter.drawEllipse(QPoint(1700, 100 + i * 80), 30, 30);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  xvfbtest::XvfbDisplay xvfb(kWidth, kHeight);
  if (!screenbench::showOnPrivateDisplay(xvfb, classroomScreen(), "bench_screenshot")) return 1;

  QTemporaryDir dir;
  const std::string ppm = dir.filePath("frame.ppm").toStdString();
  const std::string cjpegOut = dir.filePath("cjpeg.jpg").toStdString();
  {
    platform::ScreenCapture capture;
    platform::ScreenFrame frame;
    if (!capture.grab(frame) || !screenbench::writePpm(frame, ppm)) {
      std::fprintf(stderr, "bench_screenshot: the screen could not be captured\n");
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

  std::vector<double> ours, cjpeg;
  for (int run = 0; run < kRuns; ++run) {
    job.counter = run + 2;
    bool ended = false;
    const QMetaObject::Connection watch =
        QObject::connect(&taker, &ScreenshotTaker::tickEnded, [&ended] { ended = true; });
    QElapsedTimer timer;
    timer.start();
    taker.tick(job);
    while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ours.push_back(timer.nsecsElapsed() / 1e6);
    QObject::disconnect(watch);
    if (taker.lastScreenshotPath().empty()) {
      std::fprintf(stderr, "bench_screenshot: the tick wrote no picture\n");
      return 1;
    }
    QCoreApplication::processEvents();

    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    timer.restart();
    tool.start("cjpeg",
               {"-quality", "80", "-outfile", QString::fromStdString(cjpegOut), QString::fromStdString(ppm)});
    if (!tool.waitForFinished(-1) || tool.exitCode() != 0) {
      std::fprintf(stderr, "bench_screenshot: cjpeg failed\n");
      return 1;
    }
    cjpeg.push_back(timer.nsecsElapsed() / 1e6);
  }
  while (taker.uploadsRunning() > 0) QCoreApplication::processEvents();

  const double oursMs = screenbench::median(ours);
  const double cjpegMs = screenbench::median(cjpeg);
  std::printf("screenshot tick %dx%d (capture + JPEG q80 + file): %.1f ms, %zu bytes\n", kWidth, kHeight,
              oursMs, static_cast<size_t>(std::filesystem::file_size(taker.lastScreenshotPath())));
  std::printf("cjpeg -quality 80 from PPM:                           %.1f ms, %zu bytes\n", cjpegMs,
              static_cast<size_t>(std::filesystem::file_size(cjpegOut)));
  if (argc > 1) {
    std::error_code error;
    std::filesystem::copy_file(taker.lastScreenshotPath(), argv[1],
                               std::filesystem::copy_options::overwrite_existing, error);
  }
  std::printf("ratio ours/cjpeg: %.2f (goal <= 1.20; medians of %d runs)\n", oursMs / cjpegMs, kRuns);
  return 0;
}
