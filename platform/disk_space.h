// Room left on the file system holding a path, for the log line of a write
// that failed for lack of it.
#pragma once

#include <optional>
#include <string>

namespace platform {

// Bytes an unprivileged user may still write there; nothing when unknown.
std::optional<unsigned long long> freeBytes(const std::string& path);

// "N MiB free on PATH" (or "free space on PATH unknown"), for the log.
std::string freeSpaceText(const std::string& path);

}  // namespace platform
