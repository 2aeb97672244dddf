// Runs a program to its end, for the admin command's report: its argument
// list as given (no shell), its output collected.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Runs `arguments` (the first names the program, looked up on PATH) with
// standard input from /dev/null; its standard output and error go into
// `output` when given. The exit status, or -1 when it could not run or
// ended by a signal.
int runProgram(const std::vector<std::string>& arguments, std::string* output = nullptr);

}  // namespace platform
