#include "courseware/copy_hash.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "courseware/md5.h"

namespace courseware {
namespace {

constexpr size_t kRemembered = 32;

}  // namespace

std::optional<FileStamp> fileStamp(const std::string& fsPath) {
  std::error_code error;
  std::filesystem::path path(fsPath);
  uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  auto modified = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
  return FileStamp{static_cast<uint64_t>(size), static_cast<int64_t>(ns)};
}

std::optional<KnownHash> hashLocalCopy(const std::string& fsPath, const std::optional<KnownHash>& known,
                                       const std::atomic<bool>* cancel) {
  std::optional<FileStamp> before = fileStamp(fsPath);
  if (!before) return std::nullopt;
  if (known && known->fsPath == fsPath && known->stamp == *before) return known;
  std::optional<std::string> hash = md5OfFile(fsPath, cancel);
  if (!hash) return std::nullopt;
  return KnownHash{fsPath, *before, *hash};
}

std::optional<KnownHash> HashMemory::find(const std::string& fsPath) const {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (entry->fsPath == fsPath) return *entry;
  }
  return std::nullopt;
}

void HashMemory::remember(const KnownHash& entry) {
  std::erase_if(entries_, [&](const KnownHash& old) { return old.fsPath == entry.fsPath; });
  entries_.push_back(entry);
  if (entries_.size() > kRemembered) entries_.pop_front();
}

}  // namespace courseware
