#include "platform/runtime_dir.h"

#include <cstdlib>

namespace platform {

std::string runtimeDir() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = dir != nullptr && dir[0] == '/' ? dir : "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace platform
