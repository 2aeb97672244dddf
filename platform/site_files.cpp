#include "platform/site_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {

namespace fs = std::filesystem;

std::string siteSettingsDir() {
  const char* root = std::getenv("EDU_ETC_DIR");
  return std::string(root != nullptr && root[0] != '\0' ? root : "/etc") + "/edu-client";
}

std::string siteFile(const std::string& name, const std::string& programDir) {
  for (const std::string& folder : {siteSettingsDir(), programDir}) {
    const std::string path = folder + "/" + name;
    if (!folder.empty() && regularFile(path)) return path;
  }
  return {};
}

std::vector<std::string> confFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code code;
  for (fs::directory_iterator entry(folder, code), end; !code && entry != end; entry.increment(code)) {
    const std::string name = entry->path().filename().string();
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".conf") == 0 && name[0] != '.' &&
        entry->is_regular_file(code))
      files.push_back(entry->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool regularFile(const std::string& path) {
  std::error_code code;
  return fs::is_regular_file(path, code);
}

bool readableByOthers(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IROTH) != 0;
}

bool readWholeFile(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return !file.bad();
}

bool replaceFile(const std::string& path, const std::string& text, unsigned mode, std::string* error) {
  const fs::path target(path);
  std::error_code code;
  fs::create_directories(target.parent_path(), code);
  if (code) {
    *error = target.parent_path().string() + ": " + code.message();
    return false;
  }
  const std::string part = path + "." + std::to_string(::getpid()) + ".part";
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = part + ": " + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool complete = written == text.size() && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  const int savedErrno = errno;
  if (::close(fd) != 0 || !complete || ::rename(part.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(complete ? errno : savedErrno);
    ::unlink(part.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
