#include "server/http_helpers.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>

#include "server/curl_trust.h"
#include "sys/local_time.h"
#include "sys/split_items.h"
#include "sys/text_codec.h"

namespace {

std::string_view trimControlAndBlank(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

int portOrDefault(std::string_view digits, int fallback) {
  int port = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535)
    return fallback;
  return port;
}

// Drops `scheme` from the front of `address` when it is there in any letter
// case.
bool dropScheme(std::string_view& address, std::string_view scheme) {
  if (address.size() < scheme.size()) return false;
  for (size_t i = 0; i < scheme.size(); ++i) {
    const char c = address[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != scheme[i]) return false;
  }
  address.remove_prefix(scheme.size());
  return true;
}

}  // namespace

ServerAddress splitServerUrl(std::string_view address) {
  address = trimControlAndBlank(address);
  ServerAddress result;
  result.secure = !dropScheme(address, "http://") && dropScheme(address, "https://");
  const int defaultPort = result.secure ? 443 : 80;
  const size_t slash = address.find('/');
  const std::string_view hostAndPort =
      slash == std::string_view::npos ? std::string_view() : address.substr(0, slash);
  result.path = std::string(slash == std::string_view::npos ? address : address.substr(slash));
  const size_t colon = hostAndPort.find(':');
  result.host = std::string(hostAndPort.substr(0, colon));
  result.port = colon == std::string_view::npos ? defaultPort
                                                : portOrDefault(hostAndPort.substr(colon + 1), defaultPort);
  return result;
}

std::string queryParam(std::string_view pathAndQuery, std::string_view name) {
  std::string result;
  for (const std::string& item : splitItems(pathAndQuery, "&", "&")) {
    std::vector<std::string> pieces = splitItems(item, "=", "=");
    if (pieces.size() < 2) {
      result.clear();
    } else if (pieces[0] == name) {
      result = std::move(pieces[1]);
    }
  }
  return result;
}

namespace {

// A dead or stalled server must not hold the screenshot worker for ever: the
// connection gets 15 s, and a transfer that moves less than one byte per
// second for 30 s (sending or waiting for the answer) is given up.
constexpr long kConnectTimeoutSeconds = 15;
constexpr long kStallSeconds = 30;
// The answer is only tested for being empty; a server that keeps sending
// is not allowed to fill the memory.
constexpr size_t kMaxReplyBytes = 16 * 1024 * 1024;

// "--------" and the local time as MMDDYYhhmmsszzz.
std::string formBoundary() {
  const LocalTime now = localTimeNow();
  const std::tm& local = now.date;
  char text[96];  // room for any int the compiler can imagine in each field
  std::snprintf(text, sizeof text, "--------%02d%02d%02d%02d%02d%02d%03d", local.tm_mon + 1, local.tm_mday,
                local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec, now.millis);
  return text;
}

// The path goes into the part header as it is; only a quote or a line break,
// which would end the header early, is written as its %-triplet.
std::string headerFileName(const std::string& path) {
  std::string name;
  for (const char c : path) {
    if (c == '"') {
      name += "%22";
    } else if (c == '\r') {
      name += "%0D";
    } else if (c == '\n') {
      name += "%0A";
    } else {
      name += c;
    }
  }
  return name;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The form body as one stream: the fields and the file part's header from
// memory, the file from disk, the closing boundary from memory. It can be
// read from any offset again when libcurl has to send it once more (a kept
// connection found closed).
class FormBody {
 public:
  FormBody(std::string head, FileHandle file, curl_off_t fileSize, std::string tail)
      : head_(std::move(head)), file_(std::move(file)), fileSize_(fileSize), tail_(std::move(tail)) {}

  curl_off_t size() const { return static_cast<curl_off_t>(head_.size() + tail_.size()) + fileSize_; }

  size_t read(char* buffer, size_t capacity) {
    size_t filled = 0;
    while (filled < capacity && position_ < size()) {
      const size_t n = readAt(buffer + filled, capacity - filled);
      if (n == 0) return CURL_READFUNC_ABORT;  // the file shrank or cannot be read
      filled += n;
      position_ += static_cast<curl_off_t>(n);
    }
    return filled;
  }

  bool seek(curl_off_t offset) {
    if (offset < 0 || offset > size()) return false;
    position_ = offset;
    return true;
  }

 private:
  size_t readAt(char* buffer, size_t capacity) {
    const auto headSize = static_cast<curl_off_t>(head_.size());
    if (position_ < headSize) return copyFrom(head_, position_, buffer, capacity);
    if (position_ < headSize + fileSize_) {
      const curl_off_t offset = position_ - headSize;
      if (fseeko(file_.get(), offset, SEEK_SET) != 0) return 0;
      const auto left = static_cast<size_t>(fileSize_ - offset);
      return std::fread(buffer, 1, std::min(capacity, left), file_.get());
    }
    return copyFrom(tail_, position_ - headSize - fileSize_, buffer, capacity);
  }

  static size_t copyFrom(const std::string& text, curl_off_t offset, char* buffer, size_t capacity) {
    const size_t n = std::min(capacity, text.size() - static_cast<size_t>(offset));
    text.copy(buffer, n, static_cast<size_t>(offset));
    return n;
  }

  std::string head_;
  FileHandle file_;
  curl_off_t fileSize_;
  std::string tail_;
  curl_off_t position_ = 0;
};

std::string formField(const std::string& boundary, const char* name, const char* value) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
         "\r\n";
}

std::unique_ptr<FormBody> openForm(const std::string& localPath, const std::string& boundary) {
  const std::filesystem::path diskPath(text::gbkToUtf8(localPath));
  std::error_code error;
  if (!std::filesystem::is_regular_file(diskPath, error)) return nullptr;
  FileHandle file(std::fopen(diskPath.c_str(), "rb"));
  if (!file) return nullptr;
  const auto fileSize = static_cast<curl_off_t>(std::filesystem::file_size(diskPath, error));
  if (error) return nullptr;
  std::string head = formField(boundary, "act", "upload") + formField(boundary, "upcount", "1") +
                     formField(boundary, "filepath", "data") + formField(boundary, "Submit", "Submit") +
                     "--" + boundary +
                     "\r\nContent-Disposition: form-data; name=\"screenFile\"; filename=\"" +
                     headerFileName(localPath) + "\"\r\nContent-Type: text/plain\r\n\r\n";
  std::string tail = "\r\n--" + boundary + "--\r\n";
  return std::make_unique<FormBody>(std::move(head), std::move(file), fileSize, std::move(tail));
}

size_t readBody(char* buffer, size_t size, size_t count, void* form) {
  return static_cast<FormBody*>(form)->read(buffer, size * count);
}

int seekBody(void* form, curl_off_t offset, int origin) {
  if (origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  return static_cast<FormBody*>(form)->seek(offset) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

// libcurl asks this often while data moves and about once a second while
// it waits; a non-zero answer ends the transfer.
int stopRequested(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::stop_token*>(stop)->stop_requested() ? 1 : 0;
}

size_t collectReply(char* data, size_t size, size_t count, void* reply) {
  auto& text = *static_cast<std::string*>(reply);
  const size_t n = size * count;
  if (text.size() + n > kMaxReplyBytes) return 0;  // ends the transfer with an error
  text.append(data, n);
  return n;
}

// A request line cannot carry a blank or a control character, and libcurl
// refuses such a URL outright; a value holding one (a disk serial number with
// an inner space) still reaches the server when the byte goes %-encoded.
std::string requestUrl(const std::string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (const char byte : url) {
    const auto c = static_cast<unsigned char>(byte);
    if (c > 32 && c != 127) {
      result += byte;
    } else {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 0x0F];
    }
  }
  return result;
}

struct CurlCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::string postFile(const std::string& localPath, const std::string& url, std::stop_token stop) {
  if (localPath.empty() || stop.stop_requested()) return {};
  static std::once_flag curlReady;
  std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  const std::string boundary = formBoundary();
  const std::unique_ptr<FormBody> form = openForm(localPath, boundary);
  if (!form) return {};
  const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) return {};

  std::unique_ptr<curl_slist, HeaderListCleanup> headers;
  for (const std::string& line :
       {"Content-Type: multipart/form-data; boundary=" + boundary, std::string("Expect:")}) {
    curl_slist* extended = curl_slist_append(headers.get(), line.c_str());
    if (extended == nullptr) return {};
    static_cast<void>(headers.release());  // the same list, now one line longer
    headers.reset(extended);
  }

  std::string reply;
  CURL* h = curl.get();
  const std::string sentUrl = requestUrl(url);
  curl_easy_setopt(h, CURLOPT_URL, sentUrl.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  server::applyCurlTrust(h);
  // Straight to the server, like the GET client; no proxy from the environment.
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, form->size());
  curl_easy_setopt(h, CURLOPT_READFUNCTION, readBody);
  curl_easy_setopt(h, CURLOPT_READDATA, form.get());
  curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, seekBody);
  curl_easy_setopt(h, CURLOPT_SEEKDATA, form.get());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // cookie engine in memory, gone with the handle
  curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectReply);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, stopRequested);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &stop);

  const CURLcode result = curl_easy_perform(h);
  server::noteCurlTlsOutcome(h, result, sentUrl);
  if (result != CURLE_OK) return {};
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  // Only a final answer of the server itself counts; a redirect (or any
  // other 3xx) means the picture was not taken.
  if (status < 200 || status >= 300) return {};
  return reply.empty() ? std::string(kEmptyPostAnswer) : reply;
}
