#include "courseware/md5.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace courseware {
namespace {

// A cancel is seen after at most this much more hashing (a few tens of ms).
constexpr size_t kSliceBytes = size_t{64} << 20;
// A file is read and hashed this much at a time.
constexpr size_t kReadBytes = size_t{128} << 10;

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

std::optional<std::string> finish(EVP_MD_CTX* context) {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context, value, &length) != 1) return std::nullopt;
  return toHex(value, length);
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
  return finish(context.get());
}

}  // namespace

std::string md5Hex(std::string_view bytes) {
  return digest(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr).value_or("");
}

std::optional<std::string> md5OfFile(const std::string& fsPath, const std::atomic<bool>* cancel) {
  // Read in pieces that stay in the processor's cache while they are hashed:
  // faster than a mapping of the file, which takes a page fault every 4 KiB.
  struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  const std::unique_ptr<std::FILE, FileClose> file(std::fopen(fsPath.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::setvbuf(file.get(), nullptr, _IONBF, 0);  // straight into our buffer
  Context context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return std::nullopt;
  const auto buffer = std::make_unique<unsigned char[]>(kReadBytes);
  for (;;) {
    if (cancel && cancel->load()) return std::nullopt;
    const size_t read = std::fread(buffer.get(), 1, kReadBytes, file.get());
    if (read > 0 && EVP_DigestUpdate(context.get(), buffer.get(), read) != 1) return std::nullopt;
    if (read < kReadBytes) break;
  }
  // A folder, or a disk that fails mid-file: no hash rather than the hash
  // of what was read.
  if (std::ferror(file.get())) return std::nullopt;
  return finish(context.get());
}

}  // namespace courseware
