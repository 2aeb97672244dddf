#include "core/upgrade_fetch.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "platform/curl_loader.h"
#include "server/curl_trust.h"
#include "server/http_helpers.h"
#include "sys/text_codec.h"

namespace {

// A server that accepts the connection but never answers must not hold the
// check (and the end of the program) for long.
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kStallSeconds = 30;
constexpr long kMaxRedirects = 5;

struct Transfer {
  const std::atomic<bool>* cancelled = nullptr;
  size_t bytes = 0;
  bool tooLarge = false;
};

size_t countBody(char*, size_t size, size_t count, void* data) {
  auto& transfer = *static_cast<Transfer*>(data);
  const size_t n = size * count;
  if (transfer.bytes + n > kUpgradeInfoLimit) {
    transfer.tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  transfer.bytes += n;
  return n;
}

// libcurl calls this several times a second, also while it waits for the
// host, the connection or the next bytes.
int stopWhenCancelled(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(data)->cancelled->load() ? 1 : 0;
}

struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

UpgradeFetchOutcome failed(std::string error) {
  UpgradeFetchOutcome outcome;
  outcome.error = std::move(error);
  return outcome;
}

}  // namespace

UpgradeFetchOutcome fetchUpgradeInfo(const std::string& url, const std::atomic<bool>& cancelled) {
  if (!platform::loadCurl()) return failed(platform::curlProblem());
  static std::once_flag curlReady;
  std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  const std::unique_ptr<CURLU, UrlCleanup> address(curl_url());
  if (!address) return failed("out of memory");
  const CURLUcode parsed = curl_url_set(address.get(), CURLUPART_URL, text::gbkToUtf8(url).c_str(),
                                        CURLU_URLENCODE | CURLU_GUESS_SCHEME);
  if (parsed != CURLUE_OK) return failed(std::string("bad address: ") + curl_url_strerror(parsed));

  const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) return failed("out of memory");
  CURL* h = curl.get();
  Transfer transfer;
  transfer.cancelled = &cancelled;
  char reason[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_CURLU, address.get());
  // Never a local file or another protocol, whatever the login names.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // An https address never leads on to plain HTTP.
  const bool secure = splitServerUrl(text::gbkToUtf8(url)).secure;
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  server::applyCurlTrust(h);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, countBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, stopWhenCancelled);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, reason);

  const CURLcode result = curl_easy_perform(h);
  const std::string refused = server::noteCurlTlsOutcome(h, result, text::gbkToUtf8(url));
  if (!refused.empty()) return failed(refused);
  if (result == CURLE_ABORTED_BY_CALLBACK) return failed("cancelled");
  if (transfer.tooLarge) return failed("more than " + std::to_string(kUpgradeInfoLimit) + " bytes");
  if (result != CURLE_OK) return failed(reason[0] != '\0' ? reason : curl_easy_strerror(result));

  UpgradeFetchOutcome outcome;
  outcome.answered = true;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &outcome.status);
  outcome.bytes = transfer.bytes;
  return outcome;
}

std::string describeUpgradeFetch(const UpgradeFetchOutcome& outcome) {
  if (!outcome.answered) return "error: " + outcome.error;
  const std::string status = "HTTP " + std::to_string(outcome.status);
  const std::string bytes = std::to_string(outcome.bytes) + " bytes";
  if (outcome.status >= 200 && outcome.status < 300) return "fetched " + bytes + " (" + status + ")";
  return status + " (" + bytes + ")";
}
