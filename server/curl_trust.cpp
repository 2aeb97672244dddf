#include "server/curl_trust.h"

#include <openssl/x509_vfy.h>
#include <unistd.h>

#include "platform/tls_trust.h"
#include "server/http_helpers.h"

namespace server {

void applyCurlTrust(CURL* handle) {
  const platform::TlsTrust trust = platform::tlsTrust();
  curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!trust.caFile.empty() && ::access(trust.caFile.c_str(), R_OK) == 0) {
    // The school's file replaces libcurl's bundle; the system's store comes
    // back as the folder beside it.
    curl_easy_setopt(handle, CURLOPT_CAINFO, trust.caFile.c_str());
    curl_easy_setopt(handle, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  if (!trust.pin.empty()) curl_easy_setopt(handle, CURLOPT_PINNEDPUBLICKEY, trust.pin.c_str());
}

std::string noteCurlTlsOutcome(CURL* handle, CURLcode result, const std::string& url) {
  const ServerAddress address = splitServerUrl(url);
  if (!address.secure) return {};
  std::string reason;
  switch (result) {
    case CURLE_OK:
      platform::reportTlsAccepted();
      return {};
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verified = 0;
      curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verified);
      // libcurl checks the host name itself, after a chain that passed, and
      // marks its own refusal with a code of no chain fault.
      const bool chainPassed = verified == X509_V_OK || verified == X509_V_ERR_UNSPECIFIED ||
                               verified == X509_V_ERR_APPLICATION_VERIFICATION;
      reason = chainPassed ? "certificate is for another host name" : platform::certificateProblem(verified);
      break;
    }
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      reason = "pin mismatch";
      break;
    case CURLE_SSL_CONNECT_ERROR:
      reason = "TLS handshake failed";
      break;
    case CURLE_SSL_CACERT_BADFILE:
      reason = "the school's CA file cannot be read";
      break;
    default:
      return {};
  }
  platform::reportTlsRefused(address.host, address.port, reason);
  return reason;
}

}  // namespace server
