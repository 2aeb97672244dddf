// A read-only view of a whole file, for reading large files without copying
// them through a buffer. Others may go on reading and writing the file while
// it is mapped; a writer that replaces the file should write a new file and
// rename it over the old one, since shrinking a mapped file in place makes
// reads past its new end fault.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping();
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Maps the file `path` (named as the file system spells it) whole. An
  // empty file gives an empty view. False when the file cannot be opened,
  // is no regular file or cannot be mapped; errorText() then says why.
  bool open(const std::string& path);
  void close();

  bool isOpen() const { return open_; }
  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  const std::string& errorText() const { return error_; }

 private:
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
  bool open_ = false;
  std::string error_;
};

}  // namespace platform
