// OpenSSL's digest functions, loaded the first time a courseware file is
// hashed: libcrypto is large and a teacher uploads courseware seldom. The
// courseware hash calls them as usual; each definition below hands the call
// on to libcrypto.so.3, opened on the first call. Without it they fail as
// the library does when it refuses (null, or 0).
#pragma GCC visibility push(hidden)
#include <openssl/evp.h>
#pragma GCC visibility pop

#include "platform/lazy_library.h"

namespace {

template <typename Function>
Function real(Function, const char* name) {
  static platform::LazyLibrary crypto("libcrypto.so.3", "no courseware file can be hashed (install libssl3)");
  return crypto.function<Function>(name);
}

}  // namespace

#define CRYPTO_REAL(name) real(&name, #name)

extern "C" {

EVP_MD_CTX* EVP_MD_CTX_new() {
  const auto f = CRYPTO_REAL(EVP_MD_CTX_new);
  return f ? f() : nullptr;
}

void EVP_MD_CTX_free(EVP_MD_CTX* context) {
  if (!context) return;
  if (const auto f = CRYPTO_REAL(EVP_MD_CTX_free)) f(context);
}

const EVP_MD* EVP_md5() {
  const auto f = CRYPTO_REAL(EVP_md5);
  return f ? f() : nullptr;
}

int EVP_DigestInit_ex(EVP_MD_CTX* context, const EVP_MD* type, ENGINE* engine) {
  const auto f = CRYPTO_REAL(EVP_DigestInit_ex);
  return f && type ? f(context, type, engine) : 0;
}

int EVP_DigestUpdate(EVP_MD_CTX* context, const void* data, size_t count) {
  const auto f = CRYPTO_REAL(EVP_DigestUpdate);
  return f ? f(context, data, count) : 0;
}

int EVP_DigestFinal_ex(EVP_MD_CTX* context, unsigned char* digest, unsigned int* size) {
  const auto f = CRYPTO_REAL(EVP_DigestFinal_ex);
  return f ? f(context, digest, size) : 0;
}

}  // extern "C"
