#include "tools/devserver/multipart.h"

#include <algorithm>
#include <cctype>

namespace devserver {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Finds parameter `name` in a header value such as
// `form-data; name="screenFile"; filename="C:\a\b.jpg"`. A quoted value runs
// to the next quote: the client puts Windows paths there unescaped, so a
// backslash is an ordinary character.
bool headerParameter(std::string_view value, std::string_view name, std::string& result) {
  size_t pos = value.find(';');
  while (pos != std::string_view::npos) {
    size_t start = pos + 1;
    while (start < value.size() && (value[start] == ' ' || value[start] == '\t')) ++start;
    const size_t equals = value.find('=', start);
    if (equals == std::string_view::npos) return false;
    const std::string key = lower(trim(value.substr(start, equals - start)));
    size_t valueStart = equals + 1;
    std::string_view found;
    if (valueStart < value.size() && value[valueStart] == '"') {
      const size_t close = value.find('"', valueStart + 1);
      if (close == std::string_view::npos) return false;
      found = value.substr(valueStart + 1, close - valueStart - 1);
      pos = value.find(';', close);
    } else {
      pos = value.find(';', valueStart);
      found = trim(value.substr(valueStart, pos == std::string_view::npos ? pos : pos - valueStart));
    }
    if (key == name) {
      result.assign(found);
      return true;
    }
  }
  return false;
}

// Reads the header lines of one part, up to and including the blank line.
bool readPartHeaders(std::string_view headers, FormPart& part) {
  size_t lineStart = 0;
  while (lineStart < headers.size()) {
    size_t lineEnd = headers.find("\r\n", lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = headers.size();
    const std::string_view line = headers.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string name = lower(trim(line.substr(0, colon)));
    const std::string_view value = trim(line.substr(colon + 1));
    if (name == "content-disposition") {
      if (lower(value.substr(0, value.find(';'))) != "form-data") return false;
      headerParameter(value, "name", part.name);
      part.hasFilename = headerParameter(value, "filename", part.filename);
    } else if (name == "content-type") {
      part.contentType.assign(value);
    }
  }
  return true;
}

}  // namespace

std::string multipartBoundary(std::string_view contentType) {
  if (lower(trim(contentType.substr(0, contentType.find(';')))) != "multipart/form-data") return {};
  std::string boundary;
  headerParameter(contentType, "boundary", boundary);
  return boundary;
}

Form parseMultipart(std::string_view body, std::string_view boundary) {
  Form form;
  if (boundary.empty()) return form;
  const std::string delimiter = "--" + std::string(boundary);
  const std::string innerDelimiter = "\r\n" + delimiter;

  // The first delimiter opens the body (a preamble before it is allowed).
  size_t pos;
  if (body.substr(0, delimiter.size()) == delimiter) {
    pos = delimiter.size();
  } else {
    pos = body.find(innerDelimiter);
    if (pos == std::string_view::npos) return form;
    pos += innerDelimiter.size();
  }
  while (true) {
    if (body.substr(pos, 2) == "--") {
      form.complete = true;
      return form;
    }
    // Transport padding after a delimiter, then its line end.
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    if (body.substr(pos, 2) != "\r\n") return form;
    pos += 2;
    const size_t headersEnd = body.find("\r\n\r\n", pos);
    // A part without header lines starts directly with the blank line.
    const bool noHeaders = body.substr(pos, 2) == "\r\n";
    if (!noHeaders && headersEnd == std::string_view::npos) return form;
    FormPart part;
    const size_t dataStart = noHeaders ? pos + 2 : headersEnd + 4;
    if (!noHeaders && !readPartHeaders(body.substr(pos, headersEnd + 2 - pos), part)) return form;
    const size_t dataEnd = body.find(innerDelimiter, dataStart);
    if (dataEnd == std::string_view::npos) return form;
    part.data.assign(body.substr(dataStart, dataEnd - dataStart));
    form.parts.push_back(std::move(part));
    pos = dataEnd + innerDelimiter.size();
  }
}

}  // namespace devserver
