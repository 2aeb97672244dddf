#include "tests/support/pictures.h"

#include <QDir>
#include <QFileInfo>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

bool ignored(const QList<QRect>& ignore, int x, int y) {
  for (const QRect& area : ignore)
    if (area.contains(x, y)) return true;
  return false;
}

bool differ(QRgb p, QRgb q, int channelTolerance) {
  return std::abs(qRed(p) - qRed(q)) > channelTolerance ||
         std::abs(qGreen(p) - qGreen(q)) > channelTolerance ||
         std::abs(qBlue(p) - qBlue(q)) > channelTolerance;
}

}  // namespace

bool remakingReferences() { return qEnvironmentVariable("EDU_REMAKE_REFERENCES") == "1"; }

QString referenceFolder() { return QString::fromStdString(sourcePath("tests/reference")); }

int differingPixels(const QImage& seen, const QImage& expected, int channelTolerance,
                    const QList<QRect>& ignore) {
  if (seen.size() != expected.size()) return seen.width() * seen.height() + 1;
  const QImage a = seen.convertToFormat(QImage::Format_RGB32);
  const QImage b = expected.convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (differ(a.pixel(x, y), b.pixel(x, y), channelTolerance) && !ignored(ignore, x, y)) ++count;
    }
  }
  return count;
}

QString compareWithReference(const QString& name, const QImage& seen, const QString& artefact,
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
                        differ(now.pixel(x, y), q, 40) && !ignored(ignore, x, y) ? qRgb(255, 0, 0)
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
