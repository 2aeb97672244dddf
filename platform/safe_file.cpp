#include "platform/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

std::string moveAside(const std::string& path, std::string* why) {
  for (int n = 1; n < 100; ++n) {
    const std::string candidate = path + ".unsafe-" + std::to_string(n);
    struct stat info {};
    if (::lstat(candidate.c_str(), &info) == 0) continue;
    if (::rename(path.c_str(), candidate.c_str()) == 0) return candidate;
    *why = std::strerror(errno);
    return {};
  }
  *why = "no free name to move it to";
  return {};
}

namespace {

// Clears `path` of anything that is not a regular file; false when that
// cannot be done.
bool clearUnsafe(const std::string& path, std::vector<std::string>* movedAside, std::string* why) {
  const std::string kind = unsafeKind(path);
  if (kind.empty()) return true;
  std::string failure;
  const std::string aside = moveAside(path, &failure);
  movedAside->push_back(
      path + " was " + kind +
      (aside.empty() ? "; moving it aside failed: " + failure : "; moved aside as " + aside));
  if (aside.empty()) *why = "it is " + kind;
  return !aside.empty();
}

}  // namespace

int createFresh(const std::string& path, std::vector<std::string>* movedAside, std::string* why) {
  if (!clearUnsafe(path, movedAside, why)) return -1;
  ::unlink(path.c_str());
  // O_EXCL: whatever appears there meanwhile fails the open instead of being
  // opened.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *why = "it is " + kindOf(info.st_mode);
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::FILE* createFreshStream(const std::string& path, std::vector<std::string>* movedAside,
                             std::string* why) {
  const int fd = createFresh(path, movedAside, why);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    *why = std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
  }
  return file;
}

bool copyToFresh(const std::string& from, const std::string& to, std::vector<std::string>* movedAside,
                 std::string* why) {
  const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) {
    *why = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    *why = from + " is " + kindOf(info.st_mode);
    ::close(in);
    return false;
  }
  const int out = createFresh(to, movedAside, why);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool copied = true;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      copied = got == 0;
      if (!copied) *why = std::strerror(errno);
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        *why = put < 0 ? std::strerror(errno) : "nothing written";
        copied = false;
        break;
      }
      done += put;
    }
    if (!copied) break;
  }
  ::close(in);
  if (::close(out) != 0 && copied) {
    *why = std::strerror(errno);
    copied = false;
  }
  if (!copied) ::unlink(to.c_str());
  return copied;
}

bool giveName(const std::string& part, const std::string& to, std::vector<std::string>* movedAside,
              std::string* why) {
  if (!clearUnsafe(to, movedAside, why)) return false;
  if (::rename(part.c_str(), to.c_str()) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace platform
