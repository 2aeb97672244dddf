#include "core/picture_retention.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "core/picture_files.h"

namespace pictures {
namespace {

namespace fs = std::filesystem;

enum class Kind { Delivered, Waiting, Untouchable };

struct Picture {
  std::string path;
  int64_t bytes = 0;
  std::chrono::system_clock::time_point changed;
  Kind kind = Kind::Delivered;
  long long recordId = 0;
};

bool isPicture(const fs::path& path) { return path.extension() == ".jpg"; }

// Every file below the folder (pictures sorted oldest first, the other
// files only counted), and every folder, deepest first.
void survey(const RetentionPass& pass, std::vector<Picture>& pictures, int64_t& otherBytes,
            std::vector<std::string>& folders, std::vector<std::string>& otherFiles) {
  std::error_code error;
  fs::recursive_directory_iterator it(pass.folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code entryError;
    if (it->is_directory(entryError)) {
      folders.push_back(it->path().string());
      continue;
    }
    if (!it->is_regular_file(entryError)) continue;
    std::string name = it->path().string();
    // One look at the file for both its size and its age.
    const std::optional<platform::FileFacts> facts = platform::fileFacts(name);
    if (!facts) continue;
    if (!isPicture(it->path())) {
      otherBytes += facts->bytes;
      otherFiles.push_back(std::move(name));
      continue;
    }
    Picture picture{std::move(name), facts->bytes, facts->changed};
    if (const auto waiting = pass.waiting.find(picture.path); waiting != pass.waiting.end()) {
      picture.kind = Kind::Waiting;
      picture.recordId = waiting->second;
    }
    if (pass.posting.count(picture.path) != 0 ||
        std::chrono::file_clock::from_sys(picture.changed) > pass.recordsReadAt)
      picture.kind = Kind::Untouchable;
    pictures.push_back(std::move(picture));
  }
  std::sort(pictures.begin(), pictures.end(), [](const Picture& a, const Picture& b) {
    return a.changed != b.changed ? a.changed < b.changed : a.path < b.path;
  });
  // Deepest first, so a folder emptied of empty folders goes in the same pass.
  const auto depth = [](const std::string& path) { return std::count(path.begin(), path.end(), '/'); };
  std::sort(folders.begin(), folders.end(),
            [&depth](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
}

}  // namespace

RetentionOutcome runRetention(const RetentionPass& pass) {
  RetentionOutcome outcome;
  std::vector<Picture> pictures;
  int64_t otherBytes = 0;
  std::vector<std::string> folders;
  std::vector<std::string> otherFiles;
  survey(pass, pictures, otherBytes, folders, otherFiles);
  std::vector<bool> gone(pictures.size(), false);

  // By age: delivered pictures past their days.
  const auto oldest = pass.now - std::chrono::hours(24) * std::max(0, pass.bounds.keepDays);
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
        outcome.discarded.push_back({picture.recordId, picture.path});
      }
    }
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (!gone[i] && pictures[i].kind == Kind::Waiting) ++outcome.keptWaiting;
  }
  outcome.keptBytes = keptBytes;

  // Only folders that may have been emptied are looked at: not those that
  // keep a file, nor the folders above them.
  std::unordered_set<std::string> occupied;
  const auto occupy = [&](const std::string& file) {
    for (std::string folder = file.substr(0, file.rfind('/'));
         folder.size() > pass.folder.size() && occupied.insert(folder).second;
         folder.resize(folder.rfind('/'))) {
    }
  };
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (!gone[i]) occupy(pictures[i].path);
  }
  for (const std::string& file : otherFiles) occupy(file);
  for (const std::string& folder : folders) {
    if (occupied.count(folder) != 0) continue;
    std::error_code error;
    if (fs::is_empty(folder, error) && !error && removeUnlessInUse(folder)) ++outcome.foldersRemoved;
  }
  return outcome;
}

}  // namespace pictures
