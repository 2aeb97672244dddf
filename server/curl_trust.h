// The TLS checks of transfers made through libcurl (the picture post, the
// upgrade check), from the same trust settings as the GET clients
// (platform/tls_trust.h): TLS 1.2 or later, the certificate checked against
// the system's CA store plus the school's CA file, the host name checked,
// the key against the pin when one is set. A failed check is reported the
// same way: a log line with host, port and reason, one notice per streak.
#pragma once

#include <curl/curl.h>

#include <string>

namespace server {

void applyCurlTrust(CURL* handle);

// After curl_easy_perform of `url`: when the transfer failed a TLS check,
// reports it and returns the reason in words; when an https transfer went
// through, ends the streak of refusals. "" unless a check failed.
std::string noteCurlTlsOutcome(CURL* handle, CURLcode result, const std::string& url);

}  // namespace server
