#include "server/server_address.h"

#include <algorithm>

#include "sys/trim.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLabelCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-' || c == '_';
}

// Four numbers 0-255 with dots between.
bool isIpv4Address(std::string_view host) {
  int parts = 0;
  size_t from = 0;
  for (;;) {
    const size_t dot = std::min(host.find('.', from), host.size());
    const std::string_view part = host.substr(from, dot - from);
    if (part.empty() || part.size() > 3) return false;
    int value = 0;
    for (char c : part) {
      if (!isDigit(c)) return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == host.size()) return parts == 4;
    from = dot + 1;
  }
}

// A host name as the resolver takes it: labels of 1 to 63 letters, digits
// and hyphens (and the underscore that school networks' older names carry),
// no label beginning or ending with a hyphen, at most 253 in all; or an IPv4
// address. A name of digits and dots alone must be an address.
bool isHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  bool onlyDigitsAndDots = true;
  size_t from = 0;
  for (;;) {
    const size_t dot = std::min(host.find('.', from), host.size());
    const std::string_view label = host.substr(from, dot - from);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      if (!isLabelCharacter(c)) return false;
      onlyDigitsAndDots = onlyDigitsAndDots && isDigit(c);
    }
    if (dot == host.size()) break;
    from = dot + 1;
  }
  return !onlyDigitsAndDots || isIpv4Address(host);
}

bool isPathCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte != 0x7F && c != '?' && c != '#';
}

// The text between the host and the path, when the address names a port.
std::optional<std::string_view> portText(std::string_view address) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (address.size() < scheme.size()) continue;
    std::string lower(address.substr(0, scheme.size()));
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower == scheme) address.remove_prefix(scheme.size());
  }
  const std::string_view hostAndPort = address.substr(0, address.find('/'));
  const size_t colon = hostAndPort.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return hostAndPort.substr(colon + 1);
}

// What goes to the split: the address as typed, trimmed, ending in one "/".
// The split takes a leading "http://" or "https://" off by itself, so the address goes in
// as typed: putting the scheme in front of a typed one would make the host
// "http".
std::string splitInput(std::string_view serverUrl) {
  std::string address = trimText(serverUrl);
  while (!address.empty() && address.back() == '/') address.pop_back();
  return address + "/";
}

}  // namespace

ServerAddress splitServerAddress(std::string_view serverUrl) { return splitServerUrl(splitInput(serverUrl)); }

std::optional<ServerAddress> usableServerAddress(std::string_view serverUrl) {
  const ServerAddress address = splitServerAddress(serverUrl);
  if (!isHostName(address.host)) return std::nullopt;
  for (char c : address.path)
    if (!isPathCharacter(c)) return std::nullopt;
  // The split takes a port it cannot read as 80; a typed one must be right.
  const std::string input = splitInput(serverUrl);
  if (const std::optional<std::string_view> port = portText(input)) {
    if (port->empty() || port->size() > 5) return std::nullopt;
    long value = 0;
    for (char c : *port) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
  }
  return address;
}
