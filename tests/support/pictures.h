// Pictures of the screen compared pixel by pixel: with what a test draws
// itself, and with the reference pictures kept in tests/reference.
#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

namespace testsupport {

// Pixels whose colour differs in some channel by more than
// `channelTolerance` (a shade of font anti-aliasing stays below the
// default), leaving out the rectangles of `ignore`. Pictures of different
// sizes differ in every pixel, and one more.
int differingPixels(const QImage& seen, const QImage& expected, int channelTolerance = 40,
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
QString compareWithReference(const QString& name, const QImage& seen, const QString& artefact,
                             const QList<QRect>& ignore = {});
constexpr int kReferenceTolerance = 6;

// Whether EDU_REMAKE_REFERENCES=1 asks for new reference pictures.
bool remakingReferences();

// The folder of the reference pictures in the source tree.
QString referenceFolder();

}  // namespace testsupport
