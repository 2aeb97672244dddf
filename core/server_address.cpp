#include "core/server_address.h"

#include "sys/trim.h"

ServerAddress splitServerAddress(std::string_view serverUrl) {
  std::string address = trimText(serverUrl);
  while (!address.empty() && address.back() == '/') address.pop_back();
  // The split takes a leading "http://" off by itself, so the address goes
  // in as typed: putting the scheme in front of a typed one would make the
  // host "http".
  return splitServerUrl(address + "/");
}
