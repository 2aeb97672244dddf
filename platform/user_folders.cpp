#include "platform/user_folders.h"

#include <pwd.h>

#include <algorithm>
#include <filesystem>

namespace platform {

std::vector<UserDataFolder> usersWithDataFolder() {
  std::vector<UserDataFolder> found;
  setpwent();
  while (const passwd* entry = getpwent()) {
    if (entry->pw_dir == nullptr || entry->pw_dir[0] != '/') continue;
    const std::string folder = std::string(entry->pw_dir) + "/.local/share/edu-client";
    std::error_code code;
    if (!std::filesystem::is_directory(folder, code)) continue;
    // Accounts sharing a home (several system users in "/") count once.
    if (std::any_of(found.begin(), found.end(), [&](const UserDataFolder& f) { return f.folder == folder; }))
      continue;
    found.push_back({entry->pw_name, folder});
  }
  endpwent();
  return found;
}

}  // namespace platform
