// GBK text <-> QString at the widget boundary.
#pragma once

#include <QString>
#include <string>

#include "sys/text_codec.h"

namespace text {

inline QString toQString(const std::string& gbk) { return QString::fromStdString(gbkToUtf8(gbk)); }
inline std::string fromQString(const QString& value) { return utf8ToGbk(value.toStdString()); }

}  // namespace text
