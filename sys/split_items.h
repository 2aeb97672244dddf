// Takes a text apart into items: the login message at "|", a query string at
// "&" and "=". Leading white space of an item is skipped, CR and LF always
// separate, quotes group, and empty items vanish, so an item's position
// counts only the non-empty items before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> splitItems(std::string_view text, std::string_view separators, std::string_view whiteSpace);
