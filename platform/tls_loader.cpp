// OpenSSL's TLS functions, loaded the first time a connection to an https
// server or an FTPS server is made: libssl and libcrypto are large, and a
// client whose server speaks plain HTTP never needs them. The TLS code calls
// them as usual; each definition below hands the call on to libssl.so.3 or
// libcrypto.so.3, opened on the first call. Without them they fail as the
// library does when it refuses (null, 0 or -1), so every connection fails.
#pragma GCC visibility push(hidden)
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#pragma GCC visibility pop

#include "platform/lazy_library.h"

namespace {

constexpr char kLost[] = "no https server or FTPS server can be reached (install libssl3)";

template <typename Function>
Function ssl(Function, const char* name) {
  static platform::LazyLibrary library("libssl.so.3", kLost);
  return library.function<Function>(name);
}

template <typename Function>
Function crypto(Function, const char* name) {
  static platform::LazyLibrary library("libcrypto.so.3", kLost);
  return library.function<Function>(name);
}

}  // namespace

#define SSL_REAL(name) ssl(&name, #name)
#define CRYPTO_REAL(name) crypto(&name, #name)
// A function whose failure is `failed` when the library is missing.
#define FORWARD_SSL(failed, name, ...) \
  const auto f = SSL_REAL(name);       \
  return f ? f(__VA_ARGS__) : failed
#define FORWARD_CRYPTO(failed, name, ...) \
  const auto f = CRYPTO_REAL(name);       \
  return f ? f(__VA_ARGS__) : failed

extern "C" {

// libssl

const SSL_METHOD* TLS_client_method() { FORWARD_SSL(nullptr, TLS_client_method); }
SSL_CTX* SSL_CTX_new(const SSL_METHOD* method) { FORWARD_SSL(nullptr, SSL_CTX_new, method); }
void SSL_CTX_free(SSL_CTX* context) {
  if (!context) return;
  if (const auto f = SSL_REAL(SSL_CTX_free)) f(context);
}
long SSL_CTX_ctrl(SSL_CTX* context, int command, long value, void* pointer) {
  FORWARD_SSL(0L, SSL_CTX_ctrl, context, command, value, pointer);
}
int SSL_CTX_set_default_verify_paths(SSL_CTX* context) {
  FORWARD_SSL(0, SSL_CTX_set_default_verify_paths, context);
}
int SSL_CTX_load_verify_locations(SSL_CTX* context, const char* file, const char* path) {
  FORWARD_SSL(0, SSL_CTX_load_verify_locations, context, file, path);
}
void SSL_CTX_set_verify(SSL_CTX* context, int mode, SSL_verify_cb callback) {
  if (const auto f = SSL_REAL(SSL_CTX_set_verify)) f(context, mode, callback);
}
SSL* SSL_new(SSL_CTX* context) { FORWARD_SSL(nullptr, SSL_new, context); }
void SSL_free(SSL* connection) {
  if (!connection) return;
  if (const auto f = SSL_REAL(SSL_free)) f(connection);
}
void SSL_set_bio(SSL* connection, BIO* readBio, BIO* writeBio) {
  if (const auto f = SSL_REAL(SSL_set_bio)) f(connection, readBio, writeBio);
}
long SSL_ctrl(SSL* connection, int command, long value, void* pointer) {
  FORWARD_SSL(0L, SSL_ctrl, connection, command, value, pointer);
}
X509_VERIFY_PARAM* SSL_get0_param(SSL* connection) { FORWARD_SSL(nullptr, SSL_get0_param, connection); }
void SSL_set_connect_state(SSL* connection) {
  if (const auto f = SSL_REAL(SSL_set_connect_state)) f(connection);
}
int SSL_do_handshake(SSL* connection) { FORWARD_SSL(-1, SSL_do_handshake, connection); }
int SSL_read(SSL* connection, void* buffer, int size) { FORWARD_SSL(-1, SSL_read, connection, buffer, size); }
int SSL_write(SSL* connection, const void* buffer, int size) {
  FORWARD_SSL(-1, SSL_write, connection, buffer, size);
}
int SSL_get_error(const SSL* connection, int result) {
  FORWARD_SSL(SSL_ERROR_SSL, SSL_get_error, connection, result);
}
long SSL_get_verify_result(const SSL* connection) {
  FORWARD_SSL(static_cast<long>(X509_V_ERR_UNSPECIFIED), SSL_get_verify_result, connection);
}
X509* SSL_get1_peer_certificate(const SSL* connection) {
  FORWARD_SSL(nullptr, SSL_get1_peer_certificate, connection);
}
int SSL_pending(const SSL* connection) { FORWARD_SSL(0, SSL_pending, connection); }
int SSL_shutdown(SSL* connection) { FORWARD_SSL(-1, SSL_shutdown, connection); }
SSL_SESSION* SSL_get1_session(SSL* connection) { FORWARD_SSL(nullptr, SSL_get1_session, connection); }
int SSL_set_session(SSL* connection, SSL_SESSION* session) {
  FORWARD_SSL(0, SSL_set_session, connection, session);
}
int SSL_session_reused(const SSL* connection) { FORWARD_SSL(0, SSL_session_reused, connection); }
void SSL_SESSION_free(SSL_SESSION* session) {
  if (!session) return;
  if (const auto f = SSL_REAL(SSL_SESSION_free)) f(session);
}
int SSL_SESSION_is_resumable(const SSL_SESSION* session) {
  FORWARD_SSL(0, SSL_SESSION_is_resumable, session);
}
const char* SSL_get_version(const SSL* connection) { FORWARD_SSL("TLS", SSL_get_version, connection); }

// libcrypto

const BIO_METHOD* BIO_s_mem() { FORWARD_CRYPTO(nullptr, BIO_s_mem); }
BIO* BIO_new(const BIO_METHOD* method) { FORWARD_CRYPTO(nullptr, BIO_new, method); }
int BIO_free(BIO* bio) {
  if (!bio) return 0;
  FORWARD_CRYPTO(0, BIO_free, bio);
}
int BIO_read(BIO* bio, void* buffer, int size) { FORWARD_CRYPTO(-1, BIO_read, bio, buffer, size); }
int BIO_write(BIO* bio, const void* data, int size) { FORWARD_CRYPTO(-1, BIO_write, bio, data, size); }
long BIO_ctrl(BIO* bio, int command, long value, void* pointer) {
  FORWARD_CRYPTO(0L, BIO_ctrl, bio, command, value, pointer);
}
size_t BIO_ctrl_pending(BIO* bio) { FORWARD_CRYPTO(size_t{0}, BIO_ctrl_pending, bio); }
void X509_free(X509* certificate) {
  if (!certificate) return;
  if (const auto f = CRYPTO_REAL(X509_free)) f(certificate);
}
EVP_PKEY* X509_get0_pubkey(const X509* certificate) {
  FORWARD_CRYPTO(nullptr, X509_get0_pubkey, certificate);
}
int i2d_PUBKEY(const EVP_PKEY* key, unsigned char** out) { FORWARD_CRYPTO(-1, i2d_PUBKEY, key, out); }
const EVP_MD* EVP_sha256() { FORWARD_CRYPTO(nullptr, EVP_sha256); }
int EVP_Digest(const void* data, size_t count, unsigned char* digest, unsigned int* size, const EVP_MD* type,
               ENGINE* engine) {
  const auto f = CRYPTO_REAL(EVP_Digest);
  return f && type ? f(data, count, digest, size, type, engine) : 0;
}
int EVP_EncodeBlock(unsigned char* out, const unsigned char* in, int size) {
  FORWARD_CRYPTO(0, EVP_EncodeBlock, out, in, size);
}
const char* X509_verify_cert_error_string(long code) {
  FORWARD_CRYPTO("certificate check failed", X509_verify_cert_error_string, code);
}
int X509_VERIFY_PARAM_set1_host(X509_VERIFY_PARAM* param, const char* name, size_t length) {
  FORWARD_CRYPTO(0, X509_VERIFY_PARAM_set1_host, param, name, length);
}
int X509_VERIFY_PARAM_set1_ip_asc(X509_VERIFY_PARAM* param, const char* address) {
  FORWARD_CRYPTO(0, X509_VERIFY_PARAM_set1_ip_asc, param, address);
}
void X509_VERIFY_PARAM_set_hostflags(X509_VERIFY_PARAM* param, unsigned int flags) {
  if (const auto f = CRYPTO_REAL(X509_VERIFY_PARAM_set_hostflags)) f(param, flags);
}
unsigned long ERR_get_error() { FORWARD_CRYPTO(0UL, ERR_get_error); }
void ERR_error_string_n(unsigned long code, char* buffer, size_t size) {
  if (const auto f = CRYPTO_REAL(ERR_error_string_n)) {
    f(code, buffer, size);
  } else if (size > 0) {
    buffer[0] = '\0';
  }
}
void ERR_clear_error() {
  if (const auto f = CRYPTO_REAL(ERR_clear_error)) f();
}

}  // extern "C"
