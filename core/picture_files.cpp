#include "core/picture_files.h"

#include <fstream>
#include <mutex>
#include <set>
#include <system_error>

namespace pictures {
namespace {

std::mutex inUseMutex;
std::multiset<std::string> inUse;

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether `path` is a picture in use or a folder holding one. Called with
// the mutex held.
bool usedLocked(const std::string& path) {
  const std::string below = path + "/";
  for (auto it = inUse.lower_bound(path); it != inUse.end(); ++it) {
    if (*it == path || it->rfind(below, 0) == 0) return true;
    if (it->compare(0, path.size(), path) != 0) break;
  }
  return false;
}

}  // namespace

PictureInUse::PictureInUse(std::string diskPath) : diskPath_(std::move(diskPath)) {
  const std::lock_guard lock(inUseMutex);
  inUse.insert(diskPath_);
}

PictureInUse::~PictureInUse() {
  const std::lock_guard lock(inUseMutex);
  const auto it = inUse.find(diskPath_);
  if (it != inUse.end()) inUse.erase(it);
}

bool removeUnlessInUse(const std::filesystem::path& path) {
  const std::lock_guard lock(inUseMutex);
  if (usedLocked(path.string())) return false;
  // remove() takes a folder only when it is empty.
  std::error_code error;
  return std::filesystem::remove(path, error);
}

bool isWholeJpeg(const std::string& diskPath) {
  std::ifstream file(diskPath, std::ios::binary);
  unsigned char start[2] = {0, 0};
  unsigned char end[2] = {0, 0};
  if (!file.read(reinterpret_cast<char*>(start), 2)) return false;
  if (!file.seekg(-2, std::ios::end) || !file.read(reinterpret_cast<char*>(end), 2)) return false;
  return start[0] == 0xFF && start[1] == 0xD8 && end[0] == 0xFF && end[1] == 0xD9;
}

int removeUnfinishedWrites(const std::string& folder) {
  int removed = 0;
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(
      folder, std::filesystem::directory_options::skip_permission_denied, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError) || !endsWith(it->path().filename().string(), kUnfinishedSuffix))
      continue;
    if (removeUnlessInUse(it->path())) ++removed;
  }
  return removed;
}

}  // namespace pictures
