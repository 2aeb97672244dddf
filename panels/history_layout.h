// The fixed layout the two history views share: the date range at the top,
// the sample entries between dividers, and the paging buttons.
#pragma once

#include <QColor>
#include <QPoint>
#include <QSize>
#include <string>

class QPushButton;
class QWidget;

namespace panels {

// "DateTimePicker1", "Label7" ("至"), "DateTimePicker2" and the ">>" button
// "FlatButton3", as both views place them.
void addDateRange(QWidget* surface);
// A horizontal line across the whole surface.
void addDivider(QWidget* surface, int top, int thickness);
// A small flat button with a thin frame.
QPushButton* flatButton(QWidget* parent, const char* name, const QPoint& at, const QSize& size,
                        const std::string& text);
// One sample entry at `top`: its first line at `textLeft`, the two notes
// below it at `textLeft` and `secondLeft`, and a divider `height` - 8 below
// its top. A valid `marker` colour adds the round marker at the left.
void addEntry(QWidget* surface, int top, int height, int textLeft, const std::string& line,
              const std::string& firstNote, const std::string& secondNote, int secondLeft,
              const QColor& marker = QColor());
// "<", the page number "3" and ">" with their left ends at `x`.
void addPaging(QWidget* surface, int previousX, int numberX, int nextX, int top);

}  // namespace panels
