// Telephone numbers are shown with their middle digits hidden.
#pragma once

#include <string>
#include <string_view>

// Up to 8 bytes unchanged; longer: bytes 1-3, "****", then bytes 8 to the end
// (an 11-digit number keeps its first three and last four digits).
std::string maskPhone(std::string_view phone);
