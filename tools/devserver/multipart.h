// Reads a multipart/form-data body as it arrived, keeping the parts in their
// order (the HTTP library's own parser files them by name and loses it).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace devserver {

struct FormPart {
  std::string name;
  bool hasFilename = false;
  std::string filename;  // the bytes between the quotes, as sent (backslashes and GBK included)
  std::string contentType;
  std::string data;
};

struct Form {
  std::vector<FormPart> parts;
  bool complete = false;  // the closing delimiter was found
};

// The boundary parameter of a multipart Content-Type value; empty when the
// type is not multipart/form-data or names no boundary.
std::string multipartBoundary(std::string_view contentType);

// Splits `body` at `boundary`. A body that breaks off or is malformed gives
// the parts read up to there and complete = false.
Form parseMultipart(std::string_view body, std::string_view boundary);

}  // namespace devserver
