// Where this user's session keeps its small runtime files: the instance lock
// and the login channel's socket. Only a folder that is this user's own and
// closed to everyone else will do: anyone who could write there could take
// the logins (FTP password included) or hold the lock.
#pragma once

#include <string>

namespace platform {

struct RuntimeDir {
  std::string path;     // no trailing "/"
  std::string refusal;  // why `path` may not be used (plain ASCII, for the log); empty when it may
  bool usable() const { return refusal.empty(); }
};

// $XDG_RUNTIME_DIR when it is an absolute path to a folder of this user's
// own that others may not enter; else "edu-<uid>" in the temporary folder
// ($TMPDIR when absolute, else /tmp), made with mode 0700 when missing. An
// existing "edu-<uid>" that is not a real folder of this user's own, or that
// others may enter, is refused and left as it is.
RuntimeDir runtimeDir();

// Why `path` is no private folder of this user's own; empty when it is.
std::string privateFolderProblem(const std::string& path);

}  // namespace platform
