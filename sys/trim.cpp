#include "sys/trim.h"

namespace {

bool isSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string trimText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && isSpaceOrControl(text[begin])) ++begin;
  while (end > begin && isSpaceOrControl(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}
