#include "platform/disk_space.h"

#include <sys/statvfs.h>

namespace platform {

std::optional<unsigned long long> freeBytes(const std::string& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
}

std::string freeSpaceText(const std::string& path) {
  const std::optional<unsigned long long> bytes = freeBytes(path);
  if (!bytes) return "free space on " + path + " unknown";
  return std::to_string(*bytes / (1024 * 1024)) + " MiB (" + std::to_string(*bytes) + " bytes) free on " +
         path;
}

}  // namespace platform
