// Fetching the upgrade information file that a login announces: one HTTP or
// HTTPS GET through libcurl. Blocking; the auto-upgrader runs it on its own
// thread and can cut it short.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

struct UpgradeFetchOutcome {
  bool answered = false;  // the server sent a whole reply (any status)
  long status = 0;        // its HTTP status
  size_t bytes = 0;       // body bytes received
  std::string error;      // why there is no whole reply (ASCII)
};

// The information file is a few kilobytes; anything beyond this is no
// information file and is not taken.
inline constexpr size_t kUpgradeInfoLimit = 4 * 1024 * 1024;

// GETs `url` (GBK text as the login gave it; "http://" is assumed when it
// names no scheme; blanks and non-ASCII bytes are %-encoded). Only http and
// https are followed, redirects included. Returns early, with the error
// "cancelled", soon after `cancelled` becomes true.
UpgradeFetchOutcome fetchUpgradeInfo(const std::string& url, const std::atomic<bool>& cancelled);

// The outcome as the log shows it: "fetched N bytes (HTTP 200)",
// "HTTP 404 (N bytes)" or "error: ...".
std::string describeUpgradeFetch(const UpgradeFetchOutcome& outcome);
