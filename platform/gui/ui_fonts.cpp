#include "platform/gui/ui_fonts.h"

#include <QStringList>

namespace platform {

QFont yaheiFont(int pointSize, bool bold) {
  QFont font;
  font.setFamilies({"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

}  // namespace platform
