// Trimming as the client does it everywhere: every leading and trailing byte
// whose code is 32 or less (spaces and control characters, NUL included)
// goes; inner bytes and GBK bytes (0x80 and up) stay.
#pragma once

#include <string>
#include <string_view>

std::string trimText(std::string_view text);
