#include "platform/tls_trust.h"

#include <openssl/evp.h>
#include <openssl/x509_vfy.h>

#include <mutex>

namespace platform {
namespace {

struct TrustState {
  std::mutex mutex;
  TlsTrust trust;
  std::function<void(const std::string&)> log;
  std::function<void()> notice;
  bool noticeGiven = false;
};

TrustState& state() {
  static TrustState shared;
  return shared;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

void setTlsTrust(const TlsTrust& trust) {
  std::lock_guard lock(state().mutex);
  state().trust = trust;
}

TlsTrust tlsTrust() {
  std::lock_guard lock(state().mutex);
  return state().trust;
}

void setTlsRefusalHooks(std::function<void(const std::string& line)> log, std::function<void()> notice) {
  std::lock_guard lock(state().mutex);
  state().log = std::move(log);
  state().notice = std::move(notice);
}

void reportTlsRefused(const std::string& host, int port, const std::string& reason) {
  std::function<void(const std::string&)> log;
  std::function<void()> notice;
  {
    std::lock_guard lock(state().mutex);
    log = state().log;
    if (!state().noticeGiven) notice = state().notice;
    state().noticeGiven = true;
  }
  if (log) log("secure connection to " + host + ":" + std::to_string(port) + " refused: " + reason);
  if (notice) notice();
}

void reportTlsAccepted() {
  std::lock_guard lock(state().mutex);
  state().noticeGiven = false;
}

std::string certificateProblem(long verifyResult) {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificate not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "certificate is for another host name";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "certificate from an unknown CA";
    default:
      return std::string("certificate refused (") + X509_verify_cert_error_string(verifyResult) + ")";
  }
}

std::string keyPin(std::string_view keyDer) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_Digest(keyDer.data(), keyDer.size(), digest, &size, EVP_sha256(), nullptr)) return {};
  unsigned char text[4 * EVP_MAX_MD_SIZE / 3 + 4];
  const int length = EVP_EncodeBlock(text, digest, static_cast<int>(size));
  return "sha256//" + std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

bool keyMatchesPin(std::string_view pins, std::string_view keyDer) {
  const std::string ours = keyPin(keyDer);
  if (ours.empty()) return false;
  while (!pins.empty()) {
    const size_t end = pins.find(';');
    if (trimmed(pins.substr(0, end)) == ours) return true;
    if (end == std::string_view::npos) break;
    pins.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace platform
