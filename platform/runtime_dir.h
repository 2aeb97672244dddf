// Where this user's session keeps its small runtime files: the instance lock
// and the login channel's socket.
#pragma once

#include <string>

namespace platform {

// $XDG_RUNTIME_DIR when it is set to an absolute path, else "/tmp"; no
// trailing "/".
std::string runtimeDir();

}  // namespace platform
