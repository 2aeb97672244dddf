#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string absoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? withoutTrailingSlashes(value) : std::string();
}

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

std::string privateFolderProblem(const std::string& path) {
  struct stat info {};
  // lstat: a link planted under our name is refused, never followed.
  if (::lstat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return path + " is not a folder";
  if (info.st_uid != ::geteuid())
    return path + " belongs to user " + std::to_string(info.st_uid) + ", not to user " +
           std::to_string(::geteuid());
  if ((info.st_mode & 077) != 0) return path + " is open to other users (mode " + octal(info.st_mode) + ")";
  return {};
}

RuntimeDir runtimeDir() {
  const std::string session = absoluteFromEnvironment("XDG_RUNTIME_DIR");
  if (!session.empty() && privateFolderProblem(session).empty()) return {session, {}};

  std::string base = absoluteFromEnvironment("TMPDIR");
  if (base.empty()) base = "/tmp";
  RuntimeDir dir{(base == "/" ? "" : base) + "/edu-" + std::to_string(::geteuid()), {}};
  if (::mkdir(dir.path.c_str(), 0700) == 0) {
    // Ours from the start; the umask may have taken the owner's own rights.
    ::chmod(dir.path.c_str(), 0700);
  } else if (errno != EEXIST) {
    dir.refusal = "cannot make the runtime folder " + dir.path + ": " + std::strerror(errno);
    return dir;
  }
  if (const std::string problem = privateFolderProblem(dir.path); !problem.empty())
    dir.refusal = "runtime folder refused: " + problem;
  return dir;
}

}  // namespace platform
