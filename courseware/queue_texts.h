// The small texts of the upload queue: file name parts, the size and the
// progress shown in a row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace courseware {

// The part after the last "/" or "\" (a path from a drop may carry either).
std::string fileNamePart(std::string_view path);
// The file name without its extension: "课件.v2.ppt" gives "课件.v2".
std::string nameWithoutExtension(std::string_view path);
// The extension with its dot, "" when the name has none: ".ppt".
std::string extensionOf(std::string_view path);

// A size in MiB rounded up, followed by "M": 0 bytes "0M", one byte "1M".
std::string sizeText(uint64_t bytes);

// The share sent in whole percent, rounded to the nearest, halves to the
// even neighbour; 0 when nothing is to be sent.
int progressPercent(int64_t sent, int64_t total);

}  // namespace courseware
