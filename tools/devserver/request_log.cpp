#include "tools/devserver/request_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "tools/devserver/clock_text.h"

namespace devserver {

namespace {

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

}  // namespace

std::string logLine(const LoggedRequest& request) {
  nlohmann::ordered_json line;
  line["time"] = localTimeText(std::chrono::system_clock::now(), true);
  line["method"] = request.method;
  line["target"] = request.target;
  line["version"] = request.version;
  auto headers = nlohmann::ordered_json::array();
  for (const auto& [name, value] : request.headers) headers.push_back({name, value});
  line["headers"] = std::move(headers);
  line["bodySize"] = request.bodySize;
  if (request.multipart) {
    auto parts = nlohmann::ordered_json::array();
    for (const FormPart& part : request.form.parts) {
      nlohmann::ordered_json entry;
      entry["name"] = part.name;
      if (part.hasFilename) {
        entry["filename"] = part.filename;
        entry["filenameHex"] = hex(part.filename);
      }
      if (!part.contentType.empty()) entry["contentType"] = part.contentType;
      entry["size"] = part.data.size();
      parts.push_back(std::move(entry));
    }
    line["parts"] = std::move(parts);
    line["multipartComplete"] = request.form.complete;
  }
  line["mode"] = request.mode;
  line["scheme"] = request.scheme;
  if (request.offLine) {
    nlohmann::ordered_json offLine = nlohmann::ordered_json::object();
    if (!request.beginTime.empty()) offLine["beginTime"] = request.beginTime;
    if (!request.shotTime.empty()) offLine["shotTime"] = request.shotTime;
    line["offLine"] = std::move(offLine);
  }
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

RequestLog::~RequestLog() {
  if (file_) std::fclose(file_);
}

bool RequestLog::open(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "ab");
  if (!file_) {
    error = "cannot open log " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RequestLog::write(const LoggedRequest& request) {
  if (!file_) return;
  const std::string text = logLine(request) + "\n";
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

}  // namespace devserver
