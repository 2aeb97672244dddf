#include "sys/guid.h"

#include <cstdio>

#include "platform/random.h"

std::string newGuidText() {
  auto b = platform::randomBytes16();
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4: random
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[39];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}
