// Whom the client trusts when it talks TLS (to an https server, to an FTPS
// server), and how a refused connection is made known. One setting for the
// whole process, given at start from the installation's settings; the GET
// clients, the posts through libcurl and the FTP store all read it.
//
// Trust: the system's CA store, plus the school's CA file when it exists,
// plus, when a pin is set, the server's key must be one of the pinned ones
// (checked in addition to the chain, never instead of it). The host name is
// always checked and TLS 1.2 is the least version taken.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

struct TlsTrust {
  // PEM certificates of the school's own CA; a missing file adds nothing.
  std::string caFile = "/etc/edu-client/ca.pem";
  // "sha256//<base64 of the SHA-256 of the key's DER form>", several joined
  // by ";" (the form curl takes); empty for none.
  std::string pin;
};

void setTlsTrust(const TlsTrust& trust);
TlsTrust tlsTrust();

// Where refusals go: `log` gets one line per refused connection (host, port
// and the reason in words), `notice` is called once per streak of refusals,
// which ends when a secure connection passes its checks. Both may be called
// on any thread.
void setTlsRefusalHooks(std::function<void(const std::string& line)> log, std::function<void()> notice);
void reportTlsRefused(const std::string& host, int port, const std::string& reason);
void reportTlsAccepted();

// The reason in words for a certificate check's result code (OpenSSL's
// X509_V_ERR_*): "certificate expired", "certificate is for another host
// name", "certificate from an unknown CA", or OpenSSL's own text.
std::string certificateProblem(long verifyResult);

// Whether the key (its DER SubjectPublicKeyInfo) is one of `pins`.
bool keyMatchesPin(std::string_view pins, std::string_view keyDer);

// The pin of a key's DER form, "sha256//...".
std::string keyPin(std::string_view keyDer);

}  // namespace platform
