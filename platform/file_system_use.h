// How full the file system holding a folder is, as df counts it, and the
// size and age of a file.
#pragma once

#include <chrono>
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

// A file's size and last change, read in one look; none when it cannot be
// read (gone meanwhile).
struct FileFacts {
  int64_t bytes = 0;
  std::chrono::system_clock::time_point changed;
};
std::optional<FileFacts> fileFacts(const std::string& path);

}  // namespace platform
