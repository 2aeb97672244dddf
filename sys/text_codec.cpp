#include "sys/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace text {
namespace {

// Byte length of the UTF-8 sequence that starts with `lead` (1 for a stray
// byte, so that conversion always moves forward).
size_t utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

size_t gbkSequenceLength(unsigned char lead) { return lead >= 0x81 && lead <= 0xFE ? 2 : 1; }

// One converter per thread and direction: iconv_t carries shift state and is
// not safe to share between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Converter() {
    if (handle_ != reinterpret_cast<iconv_t>(-1)) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  std::string convert(std::string_view input, size_t (*sequenceLength)(unsigned char)) {
    std::string out;
    if (handle_ == reinterpret_cast<iconv_t>(-1) || input.empty()) return out;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t written = 0;
    while (inLeft > 0) {
      char* outPtr = out.data() + written;
      size_t outLeft = out.size() - written;
      size_t result = iconv(handle_, &in, &inLeft, &outPtr, &outLeft);
      written = out.size() - outLeft;
      if (result != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ or EINVAL: the character at `in` cannot be converted or is cut
      // off. Replace it by "?" and go on behind it.
      size_t skip = std::min(inLeft, sequenceLength(static_cast<unsigned char>(*in)));
      if (written + 1 > out.size()) out.resize(out.size() * 2);
      out[written++] = '?';
      in += skip;
      inLeft -= skip;
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(written);
    return out;
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
  thread_local Converter converter("UTF-8", "GBK");
  return converter.convert(gbk, gbkSequenceLength);
}

std::string utf8ToGbk(std::string_view utf8) {
  thread_local Converter converter("GBK", "UTF-8");
  return converter.convert(utf8, utf8SequenceLength);
}

std::string gbk(const char* utf8) { return utf8ToGbk(utf8); }

}  // namespace text
