// The protected-text decoder on arbitrary text and keys never reads past its
// input, decodes a well-formed text to (length / 2) - 1 bytes, and the
// encoder's output always decodes back to the plain text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sys/protected_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t keyLength = data[0] % 24;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view key = rest.substr(0, keyLength);
  const std::string text(rest.substr(key.size()));  // exact-size copy so overreads show

  const std::string plain = decodeProtectedText(text, kProtectedTextKey);
  const bool wellFormed =
      text.size() >= 4 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  if (plain.size() != (wellFormed ? text.size() / 2 - 1 : 0)) std::abort();
  decodeProtectedText(text, key);

  std::string roundTrip = text;
  for (char& c : roundTrip) {
    if (c == '\0') c = '\x01';
  }
  const std::string useKey = key.empty() ? std::string(kProtectedTextKey) : std::string(key);
  const std::string cipher = encodeProtectedText(roundTrip, useKey, data[0]);
  if (!roundTrip.empty() && decodeProtectedText(cipher, useKey) != roundTrip) std::abort();
  return 0;
}
