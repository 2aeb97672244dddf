#include "platform/file_system_use.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform {

std::optional<FileSystemUse> fileSystemUse(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0 || info.f_blocks == 0) return std::nullopt;
  const uint64_t unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  FileSystemUse use;
  // The blocks kept for root count neither as used nor as available.
  use.usedBytes = (info.f_blocks - info.f_bfree) * unit;
  use.sizeBytes = use.usedBytes + info.f_bavail * unit;
  return use;
}

std::optional<FileFacts> fileFacts(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  FileFacts facts;
  facts.bytes = static_cast<int64_t>(info.st_size);
  facts.changed =
      std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
  return facts;
}

}  // namespace platform
