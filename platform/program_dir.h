// The program folder: where the running executable lies. edu.db, the
// companions and the pictures are found beside it, so the folder can be
// copied anywhere and run.
#pragma once

#include <string>

namespace platform {

// Absolute path of the folder, without a trailing "/" (except for "/"
// itself); empty when the executable's path cannot be read.
std::string programDir();

}  // namespace platform
