// The windows' typeface, "微软雅黑" on the classroom PC: here the first of
// Microsoft YaHei, WenQuanYi Micro Hei and Noto Sans CJK SC that is installed.
#pragma once

#include <QFont>

namespace platform {

QFont yaheiFont(int pointSize, bool bold = false);

}  // namespace platform
