#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

FileMapping::~FileMapping() { close(); }

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      open_(std::exchange(other.open_, false)),
      error_(std::move(other.error_)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    open_ = std::exchange(other.open_, false);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool FileMapping::open(const std::string& path) {
  close();
  error_.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    error_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error_ = "not a regular file";
    ::close(fd);
    return false;
  }
  size_ = static_cast<size_t>(info.st_size);
  if (size_ > 0) {
    void* view = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
      error_ = std::strerror(errno);
      size_ = 0;
      ::close(fd);
      return false;
    }
    // The readers go through the file once, front to back.
    madvise(view, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const unsigned char*>(view);
  }
  // The mapping keeps the file's pages; the descriptor is no longer needed.
  ::close(fd);
  open_ = true;
  return true;
}

void FileMapping::close() {
  if (data_) munmap(const_cast<unsigned char*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
  open_ = false;
}

}  // namespace platform
