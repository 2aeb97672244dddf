// The windows' pictures at the screen's scale: on a screen scaled x2 (or
// more) a picture's name@2x.png, drawn at twice the size, is taken where it
// exists, so the picture stays sharp; elsewhere the picture itself.
#pragma once

#include <QPixmap>
#include <QString>

namespace ui {

// `path` of the picture at scale 1. The picture returned has the size of
// that one in the window's units (QPixmap::deviceIndependentSize).
QPixmap scaledPicture(const QString& path);

// The picture at scale 1 of `picture`, as scaledPicture(path) returned it:
// a window's shape is cut from it, in the window's units.
QPixmap pictureAtScaleOne(const QPixmap& picture, const QString& path);

}  // namespace ui
