#include "server/chunked_body.h"

#include <optional>

namespace server {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Whether the header block (without the status line) declares chunked as the
// only transfer coding; a body under another coding is of no use joined.
bool declaresChunked(std::string_view headers) {
  while (!headers.empty()) {
    size_t end = headers.find("\r\n");
    std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (equalsIgnoringCase(trim(line.substr(0, colon)), "Transfer-Encoding") &&
        equalsIgnoringCase(trim(line.substr(colon + 1)), "chunked")) {
      return true;
    }
  }
  return false;
}

std::optional<size_t> chunkSize(std::string_view line) {
  line = trim(line.substr(0, line.find(';')));
  if (line.empty() || line.size() > 15) return std::nullopt;
  size_t size = 0;
  for (char c : line) {
    int digit = c >= '0' && c <= '9'                 ? c - '0'
                : lower(c) >= 'a' && lower(c) <= 'f' ? lower(c) - 'a' + 10
                                                     : -1;
    if (digit < 0) return std::nullopt;
    size = size * 16 + static_cast<size_t>(digit);
  }
  return size;
}

std::optional<std::string> joinChunks(std::string_view body) {
  std::string joined;
  for (;;) {
    size_t lineEnd = body.find("\r\n");
    if (lineEnd == std::string_view::npos) return std::nullopt;
    std::optional<size_t> size = chunkSize(body.substr(0, lineEnd));
    if (!size) return std::nullopt;
    body.remove_prefix(lineEnd + 2);
    // The last chunk; what follows are trailer fields, which nobody reads.
    if (*size == 0) return joined;
    if (body.size() < *size + 2 || body.substr(*size, 2) != "\r\n") return std::nullopt;
    joined.append(body.substr(0, *size));
    body.remove_prefix(*size + 2);
  }
}

// The decimal value of a Content-Length field, nothing when it is not one.
std::optional<size_t> contentLength(std::string_view value) {
  if (value.empty() || value.size() > 18) return std::nullopt;
  size_t length = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  return length;
}

}  // namespace

std::string joinChunkedBody(std::string_view response) {
  size_t headerEnd = response.find("\r\n\r\n");
  size_t statusEnd = response.find("\r\n");
  if (headerEnd == std::string_view::npos) return std::string(response);
  std::string_view headers =
      response.substr(statusEnd + 2, headerEnd > statusEnd ? headerEnd - statusEnd - 2 : 0);
  if (!declaresChunked(headers)) return std::string(response);
  std::optional<std::string> body = joinChunks(response.substr(headerEnd + 4));
  if (!body) return std::string(response);
  return std::string(response.substr(0, headerEnd + 4)) + *body;
}

std::optional<size_t> framedResponseSize(std::string_view head) {
  const size_t statusEnd = head.find("\r\n");
  if (statusEnd == std::string_view::npos) return std::nullopt;
  // "HTTP/1.1 100 Continue": the real response is still to come.
  const std::string_view statusLine = head.substr(0, statusEnd);
  const size_t space = statusLine.find(' ');
  if (space == std::string_view::npos || statusLine.substr(space + 1, 1) == "1") return std::nullopt;
  std::string_view headers = head.substr(statusEnd + 2);
  std::optional<size_t> length;
  while (!headers.empty()) {
    const size_t end = headers.find("\r\n");
    const std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = trim(line.substr(0, colon));
    // Any transfer coding overrides the length.
    if (equalsIgnoringCase(name, "Transfer-Encoding")) return std::nullopt;
    if (!equalsIgnoringCase(name, "Content-Length")) continue;
    const std::optional<size_t> value = contentLength(trim(line.substr(colon + 1)));
    if (!value || (length && *length != *value)) return std::nullopt;
    length = value;
  }
  if (!length) return std::nullopt;
  return head.size() + *length;
}

}  // namespace server
