// The look the courseware pages share: the "微软雅黑" typeface in pixel
// sizes, the wide picture button with its white caption, and where the
// pictures lie.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <string>

class QFrame;
class QLabel;
class QPushButton;
class QRect;
class QWidget;

namespace courseware {

// The pages' typeface at `pixelSize` pixels.
QFont pageFont(int pixelSize);

// The hint and file texts of the pages, RGB 4,104,147.
inline QColor hintColour() { return QColor(4, 104, 147); }

// A page at its design size: white, text in 14 px.
void setUpPage(QWidget* page, const char* objectName, int width, int height);

// A page's hint label at `left`,`top` in the colour given as a style sheet.
QLabel* makeHint(QWidget* parent, const QString& text, int left, int top, const QString& style);

// A sunken divider line.
QFrame* makeDivider(QWidget* parent, const QRect& geometry);

// "<program folder>/assets", where the pictures are installed.
std::string defaultAssetsDir();

// The 253 x 42 picture button at 50,460 that every courseware page carries,
// named suiImageButton6: a face stretched over the button, caption in 16 px
// white.
QPushButton* makeWideButton(QWidget* parent, const QString& caption, const std::string& assetsDir);

// "<assetsDir>/<name>" as a style-sheet or file path.
QString picturePath(const std::string& assetsDir, const char* name);

}  // namespace courseware
