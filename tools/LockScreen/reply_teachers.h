// The teachers of a school as the server answers the getAreaData request
// with type 5.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "panels/school_lists.h"

// The records of the reply's JSON part, ordered by their acronym as the
// cached list is (the server's order among equal acronyms); nothing when
// the part holds no list.
std::optional<std::vector<PickerTeacher>> teachersOfReply(const std::string& jsonPart);
