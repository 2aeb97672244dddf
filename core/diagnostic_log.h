// The diagnostic log beyond the status window's hidden box: each line, with
// its local time, in log/edu-client.log of the data folder (size-bounded,
// the older lines in edu-client.log.1 ... .4) and on standard error, so a
// service manager's journal holds it too. Lines are cut to a bounded length
// first, so no log grows with the size of a server's reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

// A line longer than `limit` bytes, cut at a character boundary of the
// client's GBK text and ended with "…(N bytes)", N being the whole line's
// size, `limit` bytes in all; shorter lines come back as they are.
inline constexpr size_t kLogLineLengthLimit = 4096;
std::string cutLogLine(std::string_view gbkLine, size_t limit = kLogLineLengthLimit);

// One log file kept below a byte bound: when a line would take it past the
// bound, the file becomes NAME.1 (NAME.1 becomes NAME.2 and so on; the
// oldest goes) and a new NAME is begun. Neither the folder nor the file is
// followed when it is a symbolic link, nor waited on when it is a FIFO: a
// planted file is moved aside (NAME.unsafe-N) and a new one begun; a planted
// folder leaves the log to standard error. Each such finding goes to the
// notice (standard error by default).
class RotatingLogFile {
 public:
  RotatingLogFile(std::string folder, std::string name, std::uintmax_t maxBytes, int files);
  void setNotice(std::function<void(const std::string&)> notice) { notice_ = std::move(notice); }

  // Appends the line and a line end; returns whether it reached the file.
  bool write(std::string_view line);
  const std::string& path() const { return path_; }

 private:
  bool open();
  void rotate();

  std::string folder_;
  std::string path_;
  std::uintmax_t maxBytes_;
  int files_;
  platform::AppendFile out_;
  std::uintmax_t size_ = 0;
  std::function<void(const std::string&)> notice_;
  std::string lastNotice_;
};

class DiagnosticLog {
 public:
  static constexpr std::uintmax_t kFileBytes = 1024 * 1024;
  static constexpr int kFiles = 5;

  // The log file goes into `folder` (made when missing).
  explicit DiagnosticLog(const std::string& folder);

  // One line of the client's GBK text; written in UTF-8 after the time.
  void write(std::string_view gbkLine);
  const std::string& filePath() const { return file_.path(); }

 private:
  RotatingLogFile file_;
  bool fileFailed_ = false;
};
