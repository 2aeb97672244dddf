#include "server/server_address.h"

#include "sys/trim.h"

namespace {

bool isHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
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
  if (address.host.empty()) return std::nullopt;
  for (char c : address.host)
    if (!isHostCharacter(c)) return std::nullopt;
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
