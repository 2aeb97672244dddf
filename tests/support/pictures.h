// Pictures of the screen compared pixel by pixel: with what a test draws
// itself, and with the reference pictures kept in tests/reference.
// Only for programs with Qt Gui (the end-to-end tests): the core-only test
// helpers link none, so this header brings its own definitions.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace testsupport {

// Pixels whose colour differs in some channel by more than
// `channelTolerance` (a shade of font anti-aliasing stays below the
// default), leaving out the rectangles of `ignore`. Pictures of different
// sizes differ in every pixel, and one more.
inline int differingPixels(const QImage& seen, const QImage& expected, int channelTolerance = 40,
                           const QList<QRect>& ignore = {});

// Whether `seen` shows what the reference picture tests/reference/`name`
// shows, outside the rectangles of `ignore` (what changes from run to run,
// such as a running clock): at most kReferenceTolerance pixels may differ,
// which absorbs a stray anti-aliased pixel but not a label moved by one
// pixel. Empty when it does; otherwise what differs, with a picture of the
// differing pixels (red) kept as `artefact`.diff.png unless `artefact` is
// empty.
//
// With the environment variable EDU_REMAKE_REFERENCES=1, `seen` becomes
// the reference instead (after a deliberate change of a window: run the
// end-to-end tests so, look at the new pictures, commit them).
inline QString compareWithReference(const QString& name, const QImage& seen, const QString& artefact,
                                    const QList<QRect>& ignore = {});
constexpr int kReferenceTolerance = 6;

// Whether EDU_REMAKE_REFERENCES=1 asks for new reference pictures.
inline bool remakingReferences();

// The folder of the reference pictures in the source tree.
inline QString referenceFolder();

namespace picturedetail {

inline bool ignored(const QList<QRect>& ignore, int x, int y) {
  for (const QRect& area : ignore)
    if (area.contains(x, y)) return true;
  return false;
}

inline bool differ(QRgb p, QRgb q, int channelTolerance) {
  return std::abs(qRed(p) - qRed(q)) > channelTolerance ||
         std::abs(qGreen(p) - qGreen(q)) > channelTolerance ||
         std::abs(qBlue(p) - qBlue(q)) > channelTolerance;
}

}  // namespace picturedetail

inline bool remakingReferences() { return qEnvironmentVariable("EDU_REMAKE_REFERENCES") == "1"; }

inline QString referenceFolder() { return QString::fromStdString(sourcePath("tests/reference")); }

inline int differingPixels(const QImage& seen, const QImage& expected, int channelTolerance,
                           const QList<QRect>& ignore) {
  if (seen.size() != expected.size()) return seen.width() * seen.height() + 1;
  const QImage a = seen.convertToFormat(QImage::Format_RGB32);
  const QImage b = expected.convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (picturedetail::differ(a.pixel(x, y), b.pixel(x, y), channelTolerance) &&
          !picturedetail::ignored(ignore, x, y))
        ++count;
    }
  }
  return count;
}

inline QString compareWithReference(const QString& name, const QImage& seen, const QString& artefact,
                                    const QList<QRect>& ignore) {
  const QString reference = referenceFolder() + "/" + name;
  if (seen.isNull()) return "no picture of the screen for " + name;
  if (remakingReferences()) {
    QDir().mkpath(QFileInfo(reference).absolutePath());
    return seen.save(reference, "PNG") ? QString() : "cannot write " + reference;
  }
  const QImage expected(reference);
  if (expected.isNull())
    return "no reference picture " + reference + " (EDU_REMAKE_REFERENCES=1 makes it; see README.md)";
  const int differing = differingPixels(seen, expected, 40, ignore);
  if (differing <= kReferenceTolerance) return {};

  // Where they differ, in red over a pale copy of the reference.
  if (seen.size() == expected.size() && !artefact.isEmpty()) {
    QImage marked = expected.convertToFormat(QImage::Format_RGB32);
    const QImage now = seen.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < marked.height(); ++y) {
      for (int x = 0; x < marked.width(); ++x) {
        const QRgb q = marked.pixel(x, y);
        const int pale = 128 + qGray(q) / 2;
        marked.setPixel(x, y,
                        picturedetail::differ(now.pixel(x, y), q, 40) && !picturedetail::ignored(ignore, x, y)
                            ? qRgb(255, 0, 0)
                            : qRgb(pale, pale, pale));
      }
    }
    marked.save(artefact + ".diff.png", "PNG");
  }
  return QString(
             "%1 differs from its reference %2 in %3 pixels (at most %4 may; the differing pixels: "
             "%5.diff.png). "
             "After a deliberate change, EDU_REMAKE_REFERENCES=1 remakes the references (README.md).")
      .arg(name, reference)
      .arg(seen.size() == expected.size() ? differing : -1)
      .arg(kReferenceTolerance)
      .arg(artefact);
}

}  // namespace testsupport
