// The hash of a local courseware copy, worked out once: an upload that is
// retried, or a file queued again, reuses the hash of a copy whose path,
// size and modification time have not changed since it was hashed.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace courseware {

struct FileStamp {
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// Size and modification time of the file `fsPath`; none when it cannot be
// read.
std::optional<FileStamp> fileStamp(const std::string& fsPath);

struct KnownHash {
  std::string fsPath;
  FileStamp stamp;
  std::string hash;
};

// The hash of `fsPath` (run on a worker): `known` when it describes the same
// unchanged file, otherwise MD5 over the file. None when the file cannot be
// read or `cancel` is set first.
std::optional<KnownHash> hashLocalCopy(const std::string& fsPath, const std::optional<KnownHash>& known,
                                       const std::atomic<bool>* cancel);

// The hashes worked out so far, newest last; a few dozen at most.
class HashMemory {
 public:
  std::optional<KnownHash> find(const std::string& fsPath) const;
  void remember(const KnownHash& entry);

 private:
  std::deque<KnownHash> entries_;
};

}  // namespace courseware
