// Where the client keeps what it writes: edu.db, screen_pic/, courseware/
// and log/. Beside the program when its folder is writable (the portable
// folder, as it always was); otherwise in the user's data folder, with
// edu.db copied there from the program folder on first use. Decided once
// per process; everything that writes asks dataDir(). Read-only things
// (pictures, translations, settings files, companions) stay in the program
// folder.
#pragma once

#include <functional>
#include <string>

namespace platform {

struct DataFolder {
  std::string path;           // no trailing "/"; empty only when nothing could be decided
  bool besideProgram = true;  // the program folder itself
  std::string note;           // one line for the diagnostic log: what was decided and why
  // The user's data folder when it cannot be used at all (a file or a link
  // in its place, or a folder of another user's; the note says which): the
  // client does not start.
  std::string refusal;
};

struct DataFolderInputs {
  std::string programDir;
  std::string xdgDataHome;  // $XDG_DATA_HOME, "" when unset
  std::string home;         // $HOME, "" when unset
  // Whether a folder takes new files; tests replace it, since root writes
  // into any folder.
  std::function<bool(const std::string& folder)> writable;
};

// The file the package installs in its program folder: a program folder
// that holds it belongs to the package manager, so nothing is written there,
// not even by root (whose writes would make the package's files differ from
// what it installed).
inline constexpr char kPackageMark[] = "installed-by-package";

// Whether `programDir` is the installed package's program folder.
bool packagedProgramFolder(const std::string& programDir);

// True when a new file can be made in `folder` (and its edu.db, if any, can
// be written).
bool folderWritable(const std::string& folder);

// The decision for the given inputs, with its side effects: the user's data
// folder is made (0700) and edu.db copied into it (through a temporary name,
// so a half-copied file never carries the real name) when it holds none.
// An edu.db already there is kept as it is.
DataFolder decideDataFolder(const DataFolderInputs& inputs);

// Copies `from` under a temporary name beside `to`, then gives it the name
// `to` only when that is still missing: a copy another start made meanwhile
// is kept as it is, and counts as done.
bool copyDatabase(const std::string& from, const std::string& to, std::string* error);

// This process's decision, taken at the first call from programDir(),
// $XDG_DATA_HOME and $HOME.
const DataFolder& dataFolder();
// dataFolder().path.
const std::string& dataDir();

}  // namespace platform
