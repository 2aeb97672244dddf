// Whatever an FTP server answers, and whatever a resume record holds, the
// readers must neither crash nor read past their input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "courseware/ftp_reply.h"
#include "courseware/ftpclient/ftp_resume_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  ftp::ReplyReader reader;
  // Fed in two pieces so that replies split across reads are covered too.
  reader.feed(input.substr(0, size / 2));
  while (auto reply = reader.next()) ftp::parsePassivePort(reply->text);
  reader.feed(input.substr(size / 2));
  while (auto reply = reader.next()) {
    ftp::parsePassivePort(reply->text);
    ftp::parseSizeReply(reply->text);
  }
  ftp::parsePassivePort(input);
  ftp::parseSizeReply(input);
  ftp::parseRecordSettings(input);
  if (size >= ftp::kTrailerTailSize) ftp::trailerTextLength(input.substr(size - ftp::kTrailerTailSize));
  return 0;
}
