// How the class-start and repair pages open the school and teacher picker,
// which lives elsewhere: the program hands each page this function. The
// page gives the picker's tab (1 = schools, 0 = teachers) and where it must
// stand: the main panel's top-left corner, so that it covers the panel.
#pragma once

#include <QPoint>
#include <functional>

namespace panels {

using OpenPicker = std::function<void(int schoolMode, const QPoint& topLeft)>;

}  // namespace panels
