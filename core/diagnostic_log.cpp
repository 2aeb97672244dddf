#include "core/diagnostic_log.h"

#include <cstdio>
#include <filesystem>

#include "sys/local_time.h"
#include "sys/text_codec.h"

namespace {

namespace fs = std::filesystem;

// "2026-05-04 08:30:15.123", local time.
std::string timestamp() {
  const LocalTime now = localTimeNow();
  char text[32];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &now.date);
  std::snprintf(text + length, sizeof text - length, ".%03d", now.millis);
  return text;
}

}  // namespace

std::string cutLogLine(std::string_view gbkLine, size_t limit) {
  if (gbkLine.size() <= limit) return std::string(gbkLine);
  // "…" in GBK; the cut line with its ending stays within the limit, so a
  // cut line is never cut again.
  const std::string ending = "\xA1\xAD(" + std::to_string(gbkLine.size()) + " bytes)";
  const size_t keep = limit > ending.size() ? limit - ending.size() : 0;
  // A lead byte (0x81..0xFE) and its trail byte stay together.
  size_t end = 0;
  while (end < keep) {
    const size_t step = static_cast<unsigned char>(gbkLine[end]) >= 0x81 ? 2 : 1;
    if (end + step > keep) break;
    end += step;
  }
  return std::string(gbkLine.substr(0, end)) + ending;
}

RotatingLogFile::RotatingLogFile(std::string folder, std::string name, std::uintmax_t maxBytes, int files)
    : folder_(std::move(folder)),
      path_(folder_ + "/" + name),
      maxBytes_(maxBytes),
      files_(files < 1 ? 1 : files) {}

bool RotatingLogFile::open() {
  const auto tell = [this](const std::string& what) {
    // Once per finding, not once per line.
    if (what == lastNotice_) return;
    lastNotice_ = what;
    if (notice_)
      notice_(what);
    else
      std::fprintf(stderr, "%s\n", what.c_str());
  };
  std::error_code error;
  fs::create_directories(fs::path(folder_).parent_path(), error);
  // The log holds what the client was told (a login carries the FTP
  // credentials, merely disguised): for this user's eyes only.
  std::string why;
  if (!platform::prepareOwnFolder(folder_, &why)) {
    tell("log folder " + folder_ + " not used: " + why);
    return false;
  }
  if (!out_.open(path_, &why)) {
    const std::string kind = platform::unsafeKind(path_);
    if (kind.empty()) {
      tell("log file " + path_ + " cannot be opened: " + why);
      return false;
    }
    // Moved aside, never written through: the name is the client's.
    const std::string aside = platform::moveAside(path_, &why);
    tell("log file " + path_ + " was " + kind + "; moved aside as " + aside +
         (aside.empty() ? " failed: " + why : ""));
    if (aside.empty() || !out_.open(path_, &why)) return false;
  }
  size_ = out_.sizeAtOpen();
  return true;
}

void RotatingLogFile::rotate() {
  out_.close();
  std::error_code error;
  const auto numbered = [this](int n) { return path_ + "." + std::to_string(n); };
  fs::remove(numbered(files_ - 1), error);
  for (int n = files_ - 2; n >= 1; --n) fs::rename(numbered(n), numbered(n + 1), error);
  if (files_ > 1)
    fs::rename(path_, numbered(1), error);
  else
    fs::remove(path_, error);
}

bool RotatingLogFile::write(std::string_view line) {
  if (!out_.isOpen() && !open()) return false;
  if (size_ > 0 && size_ + line.size() + 1 > maxBytes_) {
    rotate();
    if (!open()) return false;
  }
  std::string withEnd(line);
  withEnd += '\n';
  if (!out_.write(withEnd)) {
    // A full disk or a vanished folder: try afresh with the next line.
    out_.close();
    return false;
  }
  size_ += withEnd.size();
  return true;
}

DiagnosticLog::DiagnosticLog(const std::string& folder)
    : file_(folder, "edu-client.log", kFileBytes, kFiles) {}

void DiagnosticLog::write(std::string_view gbkLine) {
  const std::string line = timestamp() + " " + text::gbkToUtf8(cutLogLine(gbkLine));
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  const bool written = file_.write(line);
  // Said once per failure streak, on standard error only (the file is what
  // failed).
  if (!written && !fileFailed_)
    std::fprintf(stderr, "%s log file %s cannot be written\n", timestamp().c_str(), file_.path().c_str());
  fileFailed_ = !written;
}
