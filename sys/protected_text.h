// The two protected fields of the login message (FTP user and password) come
// as hexadecimal text: a seed pair, then one pair per byte, each byte XORed
// with the key and shifted by the previous cipher byte modulo 255.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The key the login companion and the client share; built in, never configured.
inline constexpr std::string_view kProtectedTextKey = "hvrtpkwqmzlbxnjdcyse";

// Plain bytes of a protected text. Text that is empty, shorter than 4 digits
// or holds a non-hexadecimal character, and an empty key, give empty text.
// A single trailing digit of an odd-length text is ignored.
std::string decodeProtectedText(std::string_view protectedText, std::string_view key);

// The inverse, for the login sender: upper-case hexadecimal text that decodes
// back to `plain`. The cipher cannot express a NUL byte (it would come back
// as 255), so a plain text holding one, and an empty key, give empty text.
std::string encodeProtectedText(std::string_view plain, std::string_view key, uint8_t seed);
