#include "core/picture_retention.h"

#include <algorithm>
#include <system_error>

#include "core/picture_files.h"

namespace pictures {
namespace {

namespace fs = std::filesystem;

enum class Kind { Delivered, Waiting, Untouchable };

struct Picture {
  fs::path path;
  int64_t bytes = 0;
  fs::file_time_type changed;
  Kind kind = Kind::Delivered;
  long long recordId = 0;
};

bool isPicture(const fs::path& path) { return path.extension() == ".jpg"; }

// Every file below the folder (pictures sorted oldest first, the other
// files only counted), and every folder, deepest first.
void survey(const RetentionPass& pass, std::vector<Picture>& pictures, int64_t& otherBytes,
            std::vector<fs::path>& folders) {
  std::error_code error;
  fs::recursive_directory_iterator it(pass.folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code entryError;
    if (it->is_directory(entryError)) {
      folders.push_back(it->path());
      continue;
    }
    if (!it->is_regular_file(entryError)) continue;
    const int64_t bytes = static_cast<int64_t>(it->file_size(entryError));
    if (entryError) continue;
    if (!isPicture(it->path())) {
      otherBytes += bytes;
      continue;
    }
    Picture picture{it->path(), bytes, it->last_write_time(entryError)};
    const std::string name = picture.path.string();
    if (const auto waiting = pass.waiting.find(name); waiting != pass.waiting.end()) {
      picture.kind = Kind::Waiting;
      picture.recordId = waiting->second;
    }
    if (entryError || pass.posting.count(name) != 0 || picture.changed > pass.recordsReadAt)
      picture.kind = Kind::Untouchable;
    pictures.push_back(std::move(picture));
  }
  std::sort(pictures.begin(), pictures.end(), [](const Picture& a, const Picture& b) {
    return a.changed != b.changed ? a.changed < b.changed : a.path < b.path;
  });
  // Deepest first, so a folder emptied of empty folders goes in the same pass.
  std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
    return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
  });
}

}  // namespace

RetentionOutcome runRetention(const RetentionPass& pass) {
  RetentionOutcome outcome;
  std::vector<Picture> pictures;
  int64_t otherBytes = 0;
  std::vector<fs::path> folders;
  survey(pass, pictures, otherBytes, folders);
  std::vector<bool> gone(pictures.size(), false);

  // By age: delivered pictures past their days.
  const auto oldest = std::chrono::file_clock::from_sys(pass.now - std::chrono::hours(24) *
                                                                       std::max(0, pass.bounds.keepDays));
  int64_t keptBytes = otherBytes;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const Picture& picture = pictures[i];
    if (picture.kind == Kind::Delivered && picture.changed < oldest && removeUnlessInUse(picture.path)) {
      gone[i] = true;
      ++outcome.removedByAge;
    } else {
      keptBytes += picture.bytes;
    }
  }

  // By room: what must go to bring the folder under its bound and the file
  // system under its share.
  int64_t excess = keptBytes - std::max<int64_t>(0, pass.bounds.maxBytes);
  if (pass.fileSystemUse) {
    if (const std::optional<platform::FileSystemUse> use = pass.fileSystemUse()) {
      const auto allowed = static_cast<int64_t>(use->sizeBytes / 100 * pass.bounds.fileSystemPercent);
      excess = std::max(excess, static_cast<int64_t>(use->usedBytes) - allowed);
    }
  }
  for (const Kind kind : {Kind::Delivered, Kind::Waiting}) {
    for (size_t i = 0; i < pictures.size() && excess > 0; ++i) {
      const Picture& picture = pictures[i];
      if (gone[i] || picture.kind != kind || !removeUnlessInUse(picture.path)) continue;
      gone[i] = true;
      excess -= picture.bytes;
      keptBytes -= picture.bytes;
      if (kind == Kind::Delivered) {
        ++outcome.removedForRoom;
      } else {
        outcome.discarded.push_back({picture.recordId, picture.path.string()});
      }
    }
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (!gone[i] && pictures[i].kind == Kind::Waiting) ++outcome.keptWaiting;
  }
  outcome.keptBytes = keptBytes;

  for (const fs::path& folder : folders) {
    std::error_code error;
    if (fs::is_empty(folder, error) && !error && removeUnlessInUse(folder)) ++outcome.foldersRemoved;
  }
  return outcome;
}

}  // namespace pictures
