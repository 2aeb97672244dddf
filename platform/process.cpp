#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/program_dir.h"

namespace platform {

namespace {

std::string upperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string_view withoutExe(std::string_view name) {
  if (name.size() > 4 && upperAscii(name.substr(name.size() - 4)) == ".EXE") name.remove_suffix(4);
  return name;
}

std::string normalisedName(std::string_view name) { return upperAscii(withoutExe(name)); }

std::string readLink(const std::string& path) {
  char buffer[4096];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// The executable of a process: its /proc exe link. Kernel threads and
// processes of others whose link may not be read give empty text.
std::string executableOf(const std::string& procDir) {
  std::string exe = readLink(procDir + "/exe");
  // A program replaced on disk while it runs still answers to its name.
  constexpr std::string_view kDeleted = " (deleted)";
  if (exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
  return exe;
}

// The arguments of a process, argv[0] first.
std::vector<std::string> argumentsOf(const std::string& procDir) {
  const int fd = open((procDir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string all;
  char buffer[4096];
  ssize_t n;
  while (all.size() < 65536 && (n = read(fd, buffer, sizeof buffer)) > 0)
    all.append(buffer, static_cast<size_t>(n));
  close(fd);
  std::vector<std::string> arguments;
  for (size_t start = 0; start < all.size();) {
    const size_t end = std::min(all.find('\0', start), all.size());
    arguments.emplace_back(all, start, end - start);
    start = end + 1;
  }
  return arguments;
}

// Whether the process answers to `name`: its executable, its argv[0], or the
// script it runs. A script started through its "#!" line, or as
// "sh /path/LockScreen" or "python3 -u LockScreen", runs in the interpreter's
// executable with the script as its first argument that is no option; code
// given with -c or a module with -m is no script.
bool processAnswersTo(const std::string& procDir, std::string_view name) {
  if (executableNameMatches(name, executableOf(procDir))) return true;
  const std::vector<std::string> arguments = argumentsOf(procDir);
  if (arguments.empty()) return false;
  if (executableNameMatches(name, arguments[0])) return true;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-c" || argument == "-m") return false;
    if (argument.starts_with('-')) continue;
    if (!executableNameMatches(name, argument)) return false;
    // Only a file that is there (seen from the process's own folder), not
    // any word that happens to be the name.
    struct stat info {};
    const std::string file = argument.starts_with('/') ? argument : procDir + "/cwd/" + argument;
    return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  }
  return false;
}

// Signals through a process descriptor where the kernel has them, so that a
// pid reused between the look and the kill is never hit.
void killIfStillNamed(pid_t pid, const std::string& procDir, std::string_view name) {
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (!processAnswersTo(procDir, name)) {
    if (pidFd >= 0) close(pidFd);
    return;
  }
  if (pidFd >= 0) {
    syscall(SYS_pidfd_send_signal, pidFd, SIGKILL, nullptr, 0);
    close(pidFd);
  } else {
    kill(pid, SIGKILL);
  }
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The grandchild's side of a detached start: reset what the client changed,
// keep no descriptor of ours past exec, and report a failed exec through the
// close-on-exec pipe. Only async-signal-safe calls from here on.
[[noreturn]] void execDetached(const char* path, char* const argv[], int errorPipe) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &defaults, nullptr);
  sigaction(SIGCHLD, &defaults, nullptr);
  // A descriptor inherited by a long-lived companion (the single-instance
  // lock above all) would outlive the client and block its next start.
  if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != errorPipe) close(fd);
    }
  }
  execv(path, argv);
  const int error = errno;
  [[maybe_unused]] ssize_t ignored = write(errorPipe, &error, sizeof error);
  _exit(127);
}

}  // namespace

bool executableNameMatches(std::string_view name, std::string_view executable) {
  if (name.empty() || executable.empty()) return false;
  const std::string wanted = normalisedName(name);
  const size_t slash = executable.rfind('/');
  const std::string_view fileName =
      slash == std::string_view::npos ? executable : executable.substr(slash + 1);
  return wanted == normalisedName(fileName) || wanted == normalisedName(executable);
}

void killProcessesNamed(std::string_view name) {
  DIR* proc = opendir("/proc");
  if (!proc) return;
  const pid_t self = getpid();
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == self) continue;
    killIfStillNamed(static_cast<pid_t>(pid), std::string("/proc/") + entry->d_name, name);
  }
  closedir(proc);
}

std::string findCompanion(std::string_view name) {
  const std::string fileName(withoutExe(name));
  if (fileName.empty() || fileName.find('/') != std::string::npos) return {};

  std::vector<std::string> folders{programDir()};
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "";
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    folders.emplace_back(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + fileName;
    if (isExecutableFile(candidate)) return candidate;
  }
  return {};
}

bool startCompanion(std::string_view name) {
  const std::string path = findCompanion(name);
  if (path.empty()) return false;
  std::string argv0 = path;
  char* const argv[] = {argv0.data(), nullptr};

  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    // The middle process only forks the companion and ends, so the companion
    // is adopted by init and never waits as our zombie.
    close(errorPipe[0]);
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) execDetached(path.c_str(), argv, errorPipe[1]);
    _exit(grandchild < 0 ? 1 : 0);
  }
  close(errorPipe[1]);
  bool started = false;
  if (child > 0) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int execError = 0;
    ssize_t n;
    while ((n = read(errorPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
  }
  close(errorPipe[0]);
  return started;
}

}  // namespace platform
