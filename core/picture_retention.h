// The retention of lesson pictures: what a year of lessons leaves on the
// disk stays within bounds. Delivered pictures go after a number of days;
// over the folder's size bound, or over the share of its file system the
// pictures may take it to, the oldest delivered pictures go first and the
// pictures the server has not got yet only as a last resort, oldest first.
// A picture in use (being written or posted) is never touched, nor a
// picture written after the records were read. Empty folders go too.
//
// A pass works on files only and may run on a worker; its caller reads the
// records before and marks the discarded ones after (picture_keeper.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_system_use.h"

namespace pictures {

struct RetentionBounds {
  int keepDays = 30;                       // delivered pictures older than this go
  int64_t maxBytes = int64_t{2048} << 20;  // the picture folder's size bound
  int fileSystemPercent = 90;              // the file system is kept under this use
};

struct RetentionPass {
  std::string folder;  // the picture folder, as named on disk
  RetentionBounds bounds;
  std::chrono::system_clock::time_point now;
  // Pictures the server has not got, by name on disk: waiting ones with
  // their record, and the ones whose post is on its way.
  std::unordered_map<std::string, long long> waiting;
  std::unordered_set<std::string> posting;
  // When the records were read: a file changed since is one whose record
  // the pass has not seen, and is left.
  std::filesystem::file_time_type recordsReadAt = std::filesystem::file_time_type::max();
  // The file system's use; none leaves that bound out.
  std::function<std::optional<platform::FileSystemUse>()> fileSystemUse;
};

struct DiscardedPicture {
  long long recordId = 0;
  std::string diskPath;
};

struct RetentionOutcome {
  int removedByAge = 0;
  int removedForRoom = 0;  // delivered pictures removed over a size bound
  std::vector<DiscardedPicture> discarded;
  int foldersRemoved = 0;
  int64_t keptBytes = 0;  // what the folder's files hold afterwards
  int keptWaiting = 0;
};

RetentionOutcome runRetention(const RetentionPass& pass);

}  // namespace pictures
