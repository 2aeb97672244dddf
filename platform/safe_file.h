// Files the client writes in its data folder, opened so that nothing
// planted there can turn the write elsewhere or hold the client up: a
// symbolic link is never followed, a FIFO or device is never waited on
// (O_NOFOLLOW and O_NONBLOCK, then a check that what opened is a regular
// file). The client's data folder may sit beside the program, where other
// users of the machine can reach it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

}  // namespace platform
