#include "sys/protected_text.h"

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The key runs cyclically from its first character: the n-th cipher byte
// (counted from 0) uses key character n modulo the key length.
uint8_t keyByte(std::string_view key, size_t n) { return static_cast<uint8_t>(key[n % key.size()]); }

}  // namespace

std::string decodeProtectedText(std::string_view protectedText, std::string_view key) {
  if (protectedText.size() < 4 || key.empty()) return {};
  for (char c : protectedText) {
    if (hexDigit(c) < 0) return {};
  }
  const size_t pairs = protectedText.size() / 2;
  auto pairValue = [&](size_t i) {
    return static_cast<unsigned>(hexDigit(protectedText[2 * i]) * 16 + hexDigit(protectedText[2 * i + 1]));
  };

  std::string plain;
  plain.reserve(pairs - 1);
  unsigned offset = pairValue(0);
  for (size_t i = 1; i < pairs; ++i) {
    const unsigned v = pairValue(i);
    const unsigned b = v ^ keyByte(key, i - 1);
    // Modulo 255, not 256: b equal to the offset gives 255, never 0.
    plain.push_back(static_cast<char>(b > offset ? b - offset : b + 255 - offset));
    offset = v;
  }
  return plain;
}

std::string encodeProtectedText(std::string_view plain, std::string_view key, uint8_t seed) {
  if (key.empty() || plain.find('\0') != std::string_view::npos) return {};
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * (plain.size() + 1));
  auto appendPair = [&](unsigned v) {
    out.push_back(kDigits[v >> 4]);
    out.push_back(kDigits[v & 15]);
  };

  appendPair(seed);
  unsigned offset = seed;
  for (size_t i = 0; i < plain.size(); ++i) {
    const unsigned p = static_cast<uint8_t>(plain[i]);
    // The b that the decoder maps back to p (1..255) for this offset.
    const unsigned b = p + offset <= 255 ? p + offset : p + offset - 255;
    const unsigned v = b ^ keyByte(key, i);
    appendPair(v);
    offset = v;
  }
  return out;
}
