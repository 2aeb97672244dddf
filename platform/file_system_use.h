// How full the file system holding a folder is, as df counts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct FileSystemUse {
  uint64_t sizeBytes = 0;  // what ordinary users can fill: used + available
  uint64_t usedBytes = 0;
};

// None when the folder cannot be looked at.
std::optional<FileSystemUse> fileSystemUse(const std::string& folder);

}  // namespace platform
