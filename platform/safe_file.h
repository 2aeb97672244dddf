// Files the client writes in its data folder, opened so that nothing
// planted there can turn the write elsewhere or hold the client up: a
// symbolic link is never followed, a FIFO or device is never waited on
// (O_NOFOLLOW and O_NONBLOCK, then a check that what opened is a regular
// file). The client's data folder may sit beside the program, where other
// users of the machine can reach it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A regular file opened for appending, created (mode 0600) when missing.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens `path`; anything there that is not a regular file (a link, a
  // FIFO, a folder) is refused with the reason in `why`. The file is made
  // owner-only through the open file, never through the path.
  bool open(const std::string& path, std::string* why);
  bool isOpen() const { return fd_ >= 0; }
  // The file's size when it was opened.
  std::uintmax_t sizeAtOpen() const { return sizeAtOpen_; }
  // Writes all of `bytes`; false when any of it could not be written.
  bool write(std::string_view bytes);
  void close();

 private:
  int fd_ = -1;
  std::uintmax_t sizeAtOpen_ = 0;
};

// Makes `folder` (one level) when missing and checks that it is a real
// folder of this user's, not a link to one; made owner-only through the
// open folder. `why` says what was wrong.
bool prepareOwnFolder(const std::string& folder, std::string* why);

// What `path` is when it is there and not a regular file ("a symbolic
// link", "a FIFO", ...); empty for a regular file or nothing.
std::string unsafeKind(const std::string& path);

// Moves what stands at `path` to the first free "<path>.unsafe-N" and
// returns that name; "" when it could not be moved (`why` says why).
std::string moveAside(const std::string& path, std::string* why);

// Files written whole under a temporary name and then given their real
// name. What stands at either name and is not a regular file (a link, a
// FIFO, a folder) is moved aside, never written through nor waited on; each
// name moved aside is added to `movedAside` as "<path> was <kind>; moved
// aside as <name>" for the caller's log.
//
// A new regular file at `path`, open for writing (mode 0600); a regular
// file left there by an earlier write is removed first. The descriptor, or
// -1 with the reason in `why`.
int createFresh(const std::string& path, std::vector<std::string>* movedAside, std::string* why);
// The same, as a stream for writing ("wb"); null on failure.
std::FILE* createFreshStream(const std::string& path, std::vector<std::string>* movedAside, std::string* why);
// Copies the regular file `from` (never waiting on a FIFO there) into a new
// file at `to`, as createFresh makes it; a failed copy leaves nothing.
bool copyToFresh(const std::string& from, const std::string& to, std::vector<std::string>* movedAside,
                 std::string* why);
// Renames the finished `part` to `to`, replacing a regular file there.
bool giveName(const std::string& part, const std::string& to, std::vector<std::string>* movedAside,
              std::string* why);

}  // namespace platform
