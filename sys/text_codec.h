// The one place where text changes code page. Inside the client all text is
// GBK bytes in std::string; UTF-8 appears only at the borders (server
// replies, edu.db, file names, the fault text). A character that the target
// code page lacks, or a byte sequence that is not valid in the source, becomes
// "?".
#pragma once

#include <string>
#include <string_view>

namespace text {

std::string gbkToUtf8(std::string_view gbk);
std::string utf8ToGbk(std::string_view utf8);

// The client's own fixed texts are written as UTF-8 literals in the source;
// this makes one the GBK text the client works with.
std::string gbk(const char* utf8);

}  // namespace text
