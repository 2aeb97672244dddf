// libcurl, loaded the first time a transfer needs it. Only the screenshot
// upload and the upgrade check use it, and most runs do neither for a long
// while; linked, it would keep itself and the TLS, Kerberos and LDAP
// libraries it brings in memory all day. The program calls libcurl's
// functions as usual (curl_easy_init, curl_easy_setopt, ...): curl_loader.cpp
// defines them, each handing the call on to libcurl.so.4, opened on the
// first call. Without it they fail as libcurl does when it cannot start:
// curl_easy_init and curl_url give null, the others an error code.
#pragma once

#include <string>

namespace platform {

// Opens libcurl.so.4 unless done already; false when it cannot be.
bool loadCurl();

// Why libcurl or a function of it is missing, as a sentence for the log
// ("" while nothing is).
std::string curlProblem();

}  // namespace platform
