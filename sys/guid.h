// A new unique identifier in registry form: "{" 8-4-4-4-12 upper-case
// hexadecimal digits "}", 38 characters.
#pragma once

#include <string>

std::string newGuidText();
