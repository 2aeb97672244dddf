// A private X server for screen tests and the screenshot benchmark: Xvfb on
// a display number it picks itself, ended with its owner, and killed by the
// kernel should the owner die first. Also draws on the screen's root window.
#pragma once

#include <signal.h>
#include <sys/prctl.h>

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>
#include <string>

// Xlib's macros (None, Bool, Status...) clash with Qt's names, so Xlib comes
// after every Qt header; a test includes this header last.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace xvfbtest {

class XvfbDisplay {
 public:
  XvfbDisplay(int width, int height, int depth = 24) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) return;
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // -displayfd: the server takes the first free number and writes it once
    // it accepts clients.
    process_->start("Xvfb",
                    {"-displayfd", "1", "-screen", "0", QString("%1x%2x%3").arg(width).arg(height).arg(depth),
                     "-nolisten", "tcp", "-noreset"});
    std::string number;
    while (number.find('\n') == std::string::npos && process_->waitForReadyRead(20000)) {
      number += process_->readAllStandardOutput().toStdString();
    }
    if (number.find('\n') != std::string::npos) name_ = ":" + number.substr(0, number.find('\n'));
  }

  ~XvfbDisplay() {
    if (!process_) return;
    process_->terminate();
    if (!process_->waitForFinished(10000)) {
      process_->kill();
      process_->waitForFinished(10000);
    }
  }

  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  bool running() const { return !name_.empty(); }
  const std::string& name() const { return name_; }

 private:
  std::unique_ptr<QProcess> process_;
  std::string name_;
};

// Paints on the root window, in colours given as 0..255 channels and made
// into the screen's own pixel values.
class RootPainter {
 public:
  explicit RootPainter(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (display_ == nullptr) return;
    gc_ = XCreateGC(display_, DefaultRootWindow(display_), 0, nullptr);
  }
  ~RootPainter() {
    if (display_ == nullptr) return;
    XFreeGC(display_, gc_);
    XSync(display_, False);
    XCloseDisplay(display_);
  }
  RootPainter(const RootPainter&) = delete;
  RootPainter& operator=(const RootPainter&) = delete;

  bool ready() const { return display_ != nullptr; }

  void fill(int x, int y, int width, int height, int red, int green, int blue) {
    XSetForeground(display_, gc_, pixel(red, green, blue));
    XFillRectangle(display_, DefaultRootWindow(display_), gc_, x, y, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
  }

  // Covers the screen from 0,0 with the picture.
  void put(const QImage& picture) {
    const int screen = DefaultScreen(display_);
    XImage* image =
        XCreateImage(display_, DefaultVisual(display_, screen),
                     static_cast<unsigned>(DefaultDepth(display_, screen)), ZPixmap, 0, nullptr,
                     static_cast<unsigned>(picture.width()), static_cast<unsigned>(picture.height()), 32, 0);
    if (image == nullptr) return;
    image->data =
        static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
      for (int x = 0; x < picture.width(); ++x) {
        const QRgb colour = picture.pixel(x, y);
        XPutPixel(image, x, y, pixel(qRed(colour), qGreen(colour), qBlue(colour)));
      }
    }
    XPutImage(display_, DefaultRootWindow(display_), gc_, image, 0, 0, 0, 0,
              static_cast<unsigned>(picture.width()), static_cast<unsigned>(picture.height()));
    XDestroyImage(image);  // frees the data as well
  }

  void sync() { XSync(display_, False); }

 private:
  unsigned long pixel(int red, int green, int blue) const {
    const Visual* visual = DefaultVisual(display_, DefaultScreen(display_));
    return scale(red, visual->red_mask) | scale(green, visual->green_mask) | scale(blue, visual->blue_mask);
  }

  static unsigned long scale(int value, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const unsigned long top = mask >> shift;
    return ((static_cast<unsigned long>(value) * top + 127) / 255) << shift;
  }

  Display* display_;
  GC gc_{};
};

}  // namespace xvfbtest
