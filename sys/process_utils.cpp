#include "sys/process_utils.h"

#include "platform/process.h"

void killProcessByName(std::string_view name) { platform::killProcessesNamed(name); }
