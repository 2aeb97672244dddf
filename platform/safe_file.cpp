#include "platform/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::string kindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return S_ISREG(mode) ? "" : "not a regular file";
}

}  // namespace

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path, std::string* why) {
  close();
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    *why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *why = "it is " + kindOf(info.st_mode);
    ::close(fd);
    return false;
  }
  // Writes to a regular file wait for the disk as they should.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ::fchmod(fd, 0600);
  fd_ = fd;
  sizeAtOpen_ = static_cast<std::uintmax_t>(info.st_size);
  return true;
}

bool AppendFile::write(std::string_view bytes) {
  if (fd_ < 0) return false;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

void AppendFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool prepareOwnFolder(const std::string& folder, std::string* why) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = std::strerror(errno);
    return false;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    struct stat info {};
    *why = ::lstat(folder.c_str(), &info) == 0 ? "it is " + kindOf(info.st_mode) : std::strerror(errno);
    return false;
  }
  struct stat info {};
  const bool ours = ::fstat(fd, &info) == 0 && info.st_uid == ::getuid();
  if (ours) ::fchmod(fd, 0700);
  ::close(fd);
  if (!ours) *why = "it belongs to another user";
  return ours;
}

std::string unsafeKind(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return {};
  return kindOf(info.st_mode);
}

}  // namespace platform
