// The site's settings files: what the school's admin puts in
// /etc/edu-client (the settings, drop-ins, LockScreen.ini), looked for there
// before the program folder.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The folder of the site's settings: "/etc/edu-client", or
// "$EDU_ETC_DIR/edu-client" when that variable is set (tests, and an admin
// trying files out before they go live, use it instead of the real /etc).
std::string siteSettingsDir();

// The site file `name`: in siteSettingsDir() when it is there, else beside
// the program; empty when neither holds it.
std::string siteFile(const std::string& name, const std::string& programDir);

// The "*.conf" files directly in `folder`, sorted by name (bytewise, as
// "ls" in the C locale sorts them); none when the folder is missing.
std::vector<std::string> confFilesIn(const std::string& folder);

// True when `path` is a regular file (or a link to one).
bool regularFile(const std::string& path);

// True when users outside the file's owner and group may read it.
bool readableByOthers(const std::string& path);

// The whole file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* text);

// Writes `text` to `path` through a temporary name beside it and a rename,
// with the given mode, making the folder (0755) when missing; a reader
// never sees half a file. `error` says why it failed.
bool replaceFile(const std::string& path, const std::string& text, unsigned mode, std::string* error);

}  // namespace platform
