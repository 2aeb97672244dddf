#include "platform/data_dir.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/program_dir.h"
#include "platform/safe_file.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

const char kDatabaseName[] = "edu.db";

std::string homeOfUser() {
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return {};
}

// The XDG base: $XDG_DATA_HOME when absolute (a relative one is to be
// ignored), else ~/.local/share.
std::string userDataBase(const DataFolderInputs& inputs) {
  if (!inputs.xdgDataHome.empty() && inputs.xdgDataHome.front() == '/') return inputs.xdgDataHome;
  const std::string home = inputs.home.empty() || inputs.home.front() != '/' ? homeOfUser() : inputs.home;
  if (home.empty()) return {};
  return home + "/.local/share";
}

bool makeFolders(const std::string& folder, std::string* error) {
  std::error_code code;
  fs::create_directories(folder, code);
  if (code) {
    *error = code.message();
    return false;
  }
  return true;
}

}  // namespace

bool copyDatabase(const std::string& from, const std::string& to, std::string* error) {
  const std::string part = to + "." + std::to_string(getpid()) + ".part";
  // Made new and owner-only (the user's copy must take rows, though the
  // delivered file may be read-only), never through a link planted there.
  std::vector<std::string> movedAside;
  const bool copied = copyToFresh(from, part, &movedAside, error);
  for (const std::string& line : movedAside) std::fprintf(stderr, "edu.db copy: %s\n", line.c_str());
  if (!copied) return false;
  if (::link(part.c_str(), to.c_str()) != 0 && errno != EEXIST) {
    // A file system without hard links: a plain rename still never shows a
    // half-copied file.
    if (::rename(part.c_str(), to.c_str()) != 0) {
      *error = std::strerror(errno);
      ::unlink(part.c_str());
      return false;
    }
    return true;
  }
  ::unlink(part.c_str());
  return true;
}

bool folderWritable(const std::string& folder) {
  const std::string probe = folder + "/.edu-write-probe-" + std::to_string(getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  const std::string database = folder + "/" + kDatabaseName;
  struct stat info {};
  return ::stat(database.c_str(), &info) != 0 || ::access(database.c_str(), W_OK) == 0;
}

bool packagedProgramFolder(const std::string& programDir) {
  struct stat mark {};
  return ::stat((programDir + "/" + kPackageMark).c_str(), &mark) == 0;
}

DataFolder decideDataFolder(const DataFolderInputs& inputs) {
  DataFolder result;
  result.path = inputs.programDir;
  const auto writable = inputs.writable ? inputs.writable : folderWritable;
  if (inputs.programDir.empty()) {
    result.note = "data folder: the program folder is unknown; nothing can be kept";
    return result;
  }
  const bool packaged = packagedProgramFolder(inputs.programDir);
  if (!packaged && writable(inputs.programDir)) {
    result.note = "data folder: " + inputs.programDir + " (the program folder, which is writable)";
    return result;
  }
  const std::string programWhy = packaged ? "belongs to the installed package" : "is read-only";
  const std::string base = userDataBase(inputs);
  if (base.empty()) {
    result.note = "data folder: " + inputs.programDir + " (the program folder " + programWhy +
                  " and no home folder is known; writes will fail)";
    return result;
  }
  const std::string folder = base + "/edu-client";
  std::string error;
  // What stands in the folder's place must be a folder of this user's: the
  // teacher's records and the log would otherwise go to someone else.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) == 0 && (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())) {
    result.refusal = folder;
    result.note =
        "data folder refused: " + folder +
        (S_ISDIR(info.st_mode) ? " belongs to user " + std::to_string(info.st_uid) : " is not a folder");
    return result;
  }
  if (!makeFolders(folder, &error)) {
    result.note = "data folder: " + inputs.programDir + " (the program folder " + programWhy + " and " +
                  folder + " cannot be made: " + error + "; writes will fail)";
    return result;
  }
  ::chmod(folder.c_str(), 0700);
  result.path = folder;
  result.besideProgram = false;
  result.note =
      "data folder: " + folder + " (the program folder " + inputs.programDir + " " + programWhy + ")";

  const std::string database = folder + "/" + kDatabaseName;
  const std::string delivered = inputs.programDir + "/" + kDatabaseName;
  std::error_code code;
  if (fs::exists(database, code)) {
    result.note += "; its edu.db is used";
  } else if (!fs::exists(delivered, code)) {
    result.note += "; the program folder holds no edu.db to copy";
  } else if (copyDatabase(delivered, database, &error)) {
    result.note += "; edu.db copied there from the program folder";
  } else {
    result.note += "; edu.db could not be copied there: " + error;
  }
  return result;
}

const DataFolder& dataFolder() {
  static const DataFolder decided = [] {
    DataFolderInputs inputs;
    inputs.programDir = programDir();
    if (const char* value = std::getenv("XDG_DATA_HOME")) inputs.xdgDataHome = value;
    if (const char* value = std::getenv("HOME")) inputs.home = value;
    return decideDataFolder(inputs);
  }();
  return decided;
}

const std::string& dataDir() { return dataFolder().path; }

}  // namespace platform
