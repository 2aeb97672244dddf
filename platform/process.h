// Other programs by name: ending the lock-screen companion and starting the
// companions (LockScreen, diskid). Names may carry the ".exe" of the
// companions' Windows names; it is dropped here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Whether a process whose executable is `executable` (a path) answers to
// `name`: ASCII letters compared without case, first against the
// executable's file name, then against the whole path.
bool executableNameMatches(std::string_view name, std::string_view executable);

// Sends SIGKILL to every process that answers to `name`, never to this one:
// by its executable, by its argv[0], or by the script it runs (the first
// argument that is no option, when it is a file: "/bin/sh /opt/LockScreen",
// "python3 LockScreen"). Processes that vanish or may not be signalled are
// passed over silently.
void killProcessesNamed(std::string_view name);

// Full path of the companion `name`: the program folder first, then PATH;
// empty when neither holds an executable file of that name.
std::string findCompanion(std::string_view name);

// Starts the companion `name` with no arguments, detached from this process
// (it outlives us and is never left as a zombie). Returns whether it started.
bool startCompanion(std::string_view name);

}  // namespace platform
