// The courseware hash: MD5 of a file's whole content as 32 lowercase
// hexadecimal digits, the form in which the server stores and finds files.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace courseware {

std::string md5Hex(std::string_view bytes);

// MD5 of the file `fsPath` (named as the file system spells it), read in
// pieces. None when the file cannot be opened or read, or when `cancel`
// (may be null) is set before the end.
std::optional<std::string> md5OfFile(const std::string& fsPath, const std::atomic<bool>* cancel = nullptr);

}  // namespace courseware
