#include "sys/split_items.h"

namespace {

bool isIn(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

}  // namespace

std::vector<std::string> splitItems(std::string_view text, std::string_view separators, std::string_view whiteSpace) {
  std::vector<std::string> items;
  text = text.substr(0, text.find('\0'));
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (isIn(text[pos], whiteSpace) || text[pos] == '\r' || text[pos] == '\n')) ++pos;
    if (pos >= text.size()) break;
    const size_t start = pos;
    char openQuote = 0;
    for (; pos < text.size(); ++pos) {
      const char c = text[pos];
      if (openQuote != 0) {
        if (c == openQuote) openQuote = 0;
        continue;
      }
      if (c == '\'' || c == '"') {
        openQuote = c;
        continue;
      }
      if (c == '\r' || c == '\n' || isIn(c, separators)) break;
    }
    if (pos > start) items.emplace_back(text.substr(start, pos - start));
    ++pos;  // past the byte that stopped the item
  }
  return items;
}
