// What the screenshot benchmarks share: a private X server showing a known
// picture, the captured frame written as PPM for cjpeg, and the median.
#pragma once

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/gui/screen_capture.h"
// The client's headers before X11's, whose macros (None, Status...) would
// break their names.
#include "store/offline_store.h"
#include "tests/integration/core/xvfb_display.h"

namespace screenbench {

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

inline bool writePpm(const platform::ScreenFrame& frame, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << frame.width << " " << frame.height << "\n255\n";
  std::vector<char> row(static_cast<size_t>(frame.width) * 3);
  for (int y = 0; y < frame.height; ++y) {
    const unsigned char* in = frame.pixels + y * frame.bytesPerRow();
    for (int x = 0; x < frame.width; ++x, in += frame.bytesPerPixel()) {
      const bool bgr = frame.layout == platform::PixelLayout::Bgrx;
      row[x * 3] = static_cast<char>(bgr ? in[2] : in[0]);
      row[x * 3 + 1] = static_cast<char>(in[1]);
      row[x * 3 + 2] = static_cast<char>(bgr ? in[0] : in[2]);
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  return static_cast<bool>(out);
}

// Paints `screen` on the running private display and makes it this
// process's DISPLAY; false (said on stderr under `program`'s name) when the
// X server did not start.
inline bool showOnPrivateDisplay(const xvfbtest::XvfbDisplay& xvfb, const QImage& screen,
                                 const char* program) {
  if (!xvfb.running()) {
    std::fprintf(stderr, "%s: Xvfb could not be started\n", program);
    return false;
  }
  {
    xvfbtest::RootPainter painter(xvfb.name());
    painter.put(screen);
    painter.sync();
  }
  qputenv("DISPLAY", QByteArray::fromStdString(xvfb.name()));
  return true;
}

}  // namespace screenbench
