// Ends the companions the status window starts.
#pragma once

#include <string_view>

// Ends every running copy of a companion, such as "LockScreen.exe" (matched
// without letter case, ".exe" dropped on this system). Never this process;
// failures are ignored.
void killProcessByName(std::string_view name);
