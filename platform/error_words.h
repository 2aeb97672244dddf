// A system error number in plain words for the log ("connection refused"),
// the same words wherever a failure is logged.
#pragma once

#include <string>

namespace platform {

std::string errorInWords(int errorNumber);

}  // namespace platform
