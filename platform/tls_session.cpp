#include "platform/tls_session.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

#include "platform/tls_trust.h"

namespace platform {
namespace {

struct ContextCache {
  std::mutex mutex;
  std::string caFile;
  std::shared_ptr<SSL_CTX> context;
  // The last resumable session per "host:port": a new connection to the
  // same server skips the full handshake, as a browser's would.
  std::map<std::string, SSL_SESSION*> sessions;

  void forgetSessions() {
    for (auto& [key, session] : sessions) SSL_SESSION_free(session);
    sessions.clear();
  }
};

ContextCache& cache() {
  // Never destroyed: a worker may still end a session while the process ends.
  static auto* shared = new ContextCache;
  return *shared;
}

// The context for the trust settings now in force; built again when the
// school's CA file setting changes.
std::shared_ptr<SSL_CTX> context() {
  const TlsTrust trust = tlsTrust();
  ContextCache& shared = cache();
  std::lock_guard lock(shared.mutex);
  if (shared.context && shared.caFile == trust.caFile) return shared.context;
  SSL_CTX* made = SSL_CTX_new(TLS_client_method());
  if (!made) return nullptr;
  SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(made);
  if (!trust.caFile.empty() && ::access(trust.caFile.c_str(), R_OK) == 0)
    SSL_CTX_load_verify_locations(made, trust.caFile.c_str(), nullptr);
  ERR_clear_error();
  SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
  shared.forgetSessions();
  shared.caFile = trust.caFile;
  shared.context.reset(made, SSL_CTX_free);
  return shared.context;
}

bool isNumericAddress(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string lastErrorText() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string keyDer(SSL* ssl) {
  X509* certificate = SSL_get1_peer_certificate(ssl);
  if (!certificate) return {};
  std::string der;
  const EVP_PKEY* key = X509_get0_pubkey(certificate);
  const int size = key ? i2d_PUBKEY(key, nullptr) : -1;
  if (size > 0) {
    der.resize(static_cast<size_t>(size));
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    if (i2d_PUBKEY(key, &out) != size) der.clear();
  }
  X509_free(certificate);
  return der;
}

}  // namespace

struct TlsSession::Handles {
  std::shared_ptr<SSL_CTX> context;
  SSL* ssl = nullptr;
  BIO* incoming = nullptr;  // owned by ssl
  BIO* outgoing = nullptr;  // owned by ssl
  bool peerClosed = false;
  bool resumeByHost = true;
  std::string pin;

  ~Handles() { SSL_free(ssl); }
};

TlsSession::TlsSession(const std::string& host, int port, const TlsSession* resumeFrom)
    : handles_(std::make_unique<Handles>()), host_(host), port_(port) {
  Handles& h = *handles_;
  h.context = context();
  h.pin = tlsTrust().pin;
  h.ssl = h.context ? SSL_new(h.context.get()) : nullptr;
  if (h.ssl) {
    h.incoming = BIO_new(BIO_s_mem());
    h.outgoing = BIO_new(BIO_s_mem());
  }
  if (!h.ssl || !h.incoming || !h.outgoing) {
    BIO_free(h.incoming);
    BIO_free(h.outgoing);
    h.incoming = h.outgoing = nullptr;
    fail("TLS cannot start (libssl missing or out of memory)");
    return;
  }
  // An empty input means "wait for more", not the end of the stream.
  BIO_set_mem_eof_return(h.incoming, -1);
  SSL_set_bio(h.ssl, h.incoming, h.outgoing);
  SSL_set_connect_state(h.ssl);
  X509_VERIFY_PARAM* param = SSL_get0_param(h.ssl);
  if (isNumericAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    SSL_set_tlsext_host_name(h.ssl, host.c_str());
  }
  if (resumeFrom && resumeFrom->handles_->ssl) {
    h.resumeByHost = false;
    SSL_SESSION* session = SSL_get1_session(resumeFrom->handles_->ssl);
    if (session) SSL_set_session(h.ssl, session);
    SSL_SESSION_free(session);
  } else {
    ContextCache& shared = cache();
    std::lock_guard lock(shared.mutex);
    const auto kept = shared.sessions.find(host + ":" + std::to_string(port));
    if (kept != shared.sessions.end()) SSL_set_session(h.ssl, kept->second);
  }
}

TlsSession::~TlsSession() {
  if (established_) keepSession();
}

void TlsSession::fail(std::string why) {
  if (failure_.empty()) failure_ = std::move(why);
  established_ = false;
}

TlsSession::Step TlsSession::handshake() {
  if (!failure_.empty()) return Step::Failed;
  if (established_) return Step::Done;
  SSL* ssl = handles_->ssl;
  const int result = SSL_do_handshake(ssl);
  if (result == 1) {
    if (!handles_->pin.empty() && !keyMatchesPin(handles_->pin, keyDer(ssl))) {
      fail("pin mismatch");
      reportTlsRefused(host_, port_, failure_);
      return Step::Failed;
    }
    established_ = true;
    reportTlsAccepted();
    return Step::Done;
  }
  const int error = SSL_get_error(ssl, result);
  if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && !handles_->peerClosed)
    return Step::Again;
  const long verified = SSL_get_verify_result(ssl);
  if (verified != X509_V_OK) {
    fail(certificateProblem(verified));
  } else if (error == SSL_ERROR_SSL) {
    fail("TLS handshake failed (" + lastErrorText() + ")");
  } else {
    // The server went away mid-handshake: a broken connection, not a
    // server that failed a check.
    ERR_clear_error();
    fail("connection closed during the TLS handshake");
    return Step::Failed;
  }
  reportTlsRefused(host_, port_, failure_);
  return Step::Failed;
}

bool TlsSession::resumed() const { return handles_->ssl && SSL_session_reused(handles_->ssl) == 1; }

void TlsSession::putIncoming(std::string_view ciphertext) {
  while (handles_->incoming && !ciphertext.empty()) {
    const int chunk = static_cast<int>(std::min<size_t>(ciphertext.size(), INT_MAX));
    const int written = BIO_write(handles_->incoming, ciphertext.data(), chunk);
    if (written <= 0) {
      fail("out of memory");
      return;
    }
    ciphertext.remove_prefix(static_cast<size_t>(written));
  }
}

void TlsSession::peerClosed() {
  handles_->peerClosed = true;
  if (handles_->incoming) BIO_set_mem_eof_return(handles_->incoming, 0);
}

bool TlsSession::pending() const {
  return handles_->ssl && (SSL_pending(handles_->ssl) > 0 || BIO_ctrl_pending(handles_->incoming) > 0);
}

bool TlsSession::hasOutgoing() const {
  return handles_->outgoing && BIO_ctrl_pending(handles_->outgoing) > 0;
}

void TlsSession::takeOutgoing(std::string& out) {
  while (hasOutgoing()) {
    const size_t pending = BIO_ctrl_pending(handles_->outgoing);
    const size_t at = out.size();
    out.resize(at + pending);
    const int got =
        BIO_read(handles_->outgoing, out.data() + at, static_cast<int>(std::min<size_t>(pending, INT_MAX)));
    out.resize(at + static_cast<size_t>(std::max(got, 0)));
    if (got <= 0) return;
  }
}

bool TlsSession::write(std::string_view plain) {
  if (!established_) return false;
  while (!plain.empty()) {
    const int chunk = static_cast<int>(std::min<size_t>(plain.size(), 1 << 30));
    const int written = SSL_write(handles_->ssl, plain.data(), chunk);
    if (written <= 0) {
      fail("TLS write failed (" + lastErrorText() + ")");
      return false;
    }
    plain.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

long TlsSession::read(char* buffer, size_t size) {
  if (!established_) return -1;
  const int count = SSL_read(handles_->ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (count > 0) return count;
  const int error = SSL_get_error(handles_->ssl, count);
  if (error == SSL_ERROR_WANT_READ && !handles_->peerClosed) return 0;
  if (error == SSL_ERROR_WANT_WRITE) return 0;
  if (error == SSL_ERROR_ZERO_RETURN) {
    endedCleanly_ = true;
    keepSession();
    return -1;
  }
  ERR_clear_error();
  // The connection ended without the closing alert; the caller decides
  // whether what came is whole (a framed reply) or not.
  if (!handles_->peerClosed) fail("TLS read failed");
  return -1;
}

void TlsSession::close() {
  if (!established_) return;
  keepSession();
  SSL_shutdown(handles_->ssl);
  ERR_clear_error();
}

void TlsSession::keepSession() {
  if (!handles_->resumeByHost || !handles_->ssl) return;
  SSL_SESSION* session = SSL_get1_session(handles_->ssl);
  if (!session) return;
  if (!SSL_SESSION_is_resumable(session)) {
    SSL_SESSION_free(session);
    return;
  }
  ContextCache& shared = cache();
  std::lock_guard lock(shared.mutex);
  SSL_SESSION*& kept = shared.sessions[host_ + ":" + std::to_string(port_)];
  SSL_SESSION_free(kept);
  kept = session;
}

}  // namespace platform
