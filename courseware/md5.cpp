#include "courseware/md5.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "platform/file_mapping.h"

namespace courseware {
namespace {

// A cancel is seen after at most this much more hashing (a few tens of ms).
constexpr size_t kSliceBytes = size_t{64} << 20;

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::string toHex(const unsigned char* digest, unsigned int length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return hex;
}

// Hashes `size` bytes at `data`; none when cancelled or when the library
// refuses (no MD5 in its provider).
std::optional<std::string> digest(const unsigned char* data, size_t size, const std::atomic<bool>* cancel) {
  Context context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return std::nullopt;
  for (size_t done = 0; done < size;) {
    if (cancel && cancel->load()) return std::nullopt;
    size_t slice = std::min(kSliceBytes, size - done);
    if (EVP_DigestUpdate(context.get(), data + done, slice) != 1) return std::nullopt;
    done += slice;
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), value, &length) != 1) return std::nullopt;
  return toHex(value, length);
}

}  // namespace

std::string md5Hex(std::string_view bytes) {
  return digest(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr).value_or("");
}

std::optional<std::string> md5OfFile(const std::string& fsPath, const std::atomic<bool>* cancel) {
  platform::FileMapping mapping;
  if (!mapping.open(fsPath)) return std::nullopt;
  return digest(mapping.data(), mapping.size(), cancel);
}

}  // namespace courseware
