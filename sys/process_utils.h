// Process-wide routines of the status window and the main panel.
#pragma once

#include <string_view>

// Ends every running copy of a companion, such as "LockScreen.exe" (matched
// without letter case, ".exe" dropped on this system). Never this process;
// failures are ignored.
void killProcessByName(std::string_view name);

// Lets the shell's dropped files and the login companion's message reach a
// client that runs with higher rights. Always true.
bool openMessageFilter();
