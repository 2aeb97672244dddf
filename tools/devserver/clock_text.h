// Local time as the server writes it: "2024-05-06 09:05:00" (and ".123"
// milliseconds for the log).
#pragma once

#include <chrono>
#include <string>

namespace devserver {

std::string localTimeText(std::chrono::system_clock::time_point when, bool withMilliseconds = false);

}  // namespace devserver
