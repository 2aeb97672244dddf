#include "courseware/ftpclient/ftp_resume_record.h"

#include <charconv>
#include <fstream>

#include "sys/text_codec.h"

namespace ftp {
namespace {

// Far more connections than anyone opens to one server; a record claiming
// more is damaged.
constexpr int kMaxRecordConnections = 256;
constexpr uint32_t kMaxSettingsText = 1 << 20;
// Block sizes beyond any disk keep the sums below from overflowing.
constexpr int64_t kMaxBlockSize = int64_t{1} << 53;

const std::string& sectionSettings() {
  static const std::string name = text::utf8ToGbk("连接设置");
  return name;
}
const std::string& keyCount() {
  static const std::string name = text::utf8ToGbk("连接数");
  return name;
}
const std::string& sectionConnection() {
  static const std::string name = text::utf8ToGbk("连接");
  return name;
}
const std::string& keyBlockSize() {
  static const std::string name = text::utf8ToGbk("块大小");
  return name;
}
const std::string& keyDone() {
  static const std::string name = text::utf8ToGbk("完成");
  return name;
}

std::optional<int64_t> number(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

}  // namespace

void writeConnectionCount(SettingsStore& settings, int count) {
  settings.write(sectionSettings(), keyCount(), std::to_string(count));
}

void writeBlockState(SettingsStore& settings, int index, const BlockState& block) {
  std::string section = sectionConnection() + std::to_string(index);
  settings.write(section, keyBlockSize(), std::to_string(block.blockSize));
  settings.write(section, keyDone(), std::to_string(block.done));
}

std::string buildTrailer(std::string_view settingsText) {
  std::string trailer(settingsText);
  auto length = static_cast<uint32_t>(settingsText.size());
  for (int shift = 0; shift < 32; shift += 8) trailer.push_back(static_cast<char>((length >> shift) & 0xFF));
  trailer.append(kRecordSignature);
  return trailer;
}

std::optional<uint32_t> trailerTextLength(std::string_view tail) {
  if (tail.size() != kTrailerTailSize || tail.substr(4) != kRecordSignature) return std::nullopt;
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(tail[i]);
  return length;
}

std::optional<std::vector<BlockState>> parseRecordSettings(std::string_view settingsText) {
  SettingsStore settings;
  settings.load(settingsText);
  auto count = number(settings.read(sectionSettings(), keyCount()));
  if (!count || *count < 1 || *count > kMaxRecordConnections) return std::nullopt;
  std::vector<BlockState> blocks;
  for (int i = 0; i < *count; ++i) {
    std::string section = sectionConnection() + std::to_string(i);
    auto blockSize = number(settings.read(section, keyBlockSize()));
    auto done = number(settings.read(section, keyDone()));
    if (!blockSize || !done || *blockSize < 0 || *done < 0 || *done > *blockSize ||
        *blockSize > kMaxBlockSize)
      return std::nullopt;
    blocks.push_back(BlockState{*blockSize, *done});
  }
  return blocks;
}

std::optional<ResumeRecord> readResumeRecord(const std::string& diskPath) {
  std::ifstream file(diskPath, std::ios::binary | std::ios::ate);
  if (!file) return std::nullopt;
  auto fileSize = static_cast<int64_t>(file.tellg());
  if (fileSize < static_cast<int64_t>(kTrailerTailSize)) return std::nullopt;
  std::string tail(kTrailerTailSize, '\0');
  file.seekg(fileSize - static_cast<int64_t>(kTrailerTailSize));
  if (!file.read(tail.data(), static_cast<std::streamsize>(tail.size()))) return std::nullopt;
  auto textLength = trailerTextLength(tail);
  if (!textLength || *textLength > kMaxSettingsText ||
      *textLength > fileSize - static_cast<int64_t>(kTrailerTailSize)) {
    return std::nullopt;
  }
  ResumeRecord record;
  record.dataLength = fileSize - static_cast<int64_t>(kTrailerTailSize) - *textLength;
  std::string settingsText(*textLength, '\0');
  file.seekg(record.dataLength);
  if (!file.read(settingsText.data(), static_cast<std::streamsize>(settingsText.size()))) return std::nullopt;
  auto blocks = parseRecordSettings(settingsText);
  if (!blocks) return std::nullopt;
  record.blocks = std::move(*blocks);
  int64_t total = 0;
  int64_t done = 0;
  for (const BlockState& block : record.blocks) {
    total += block.blockSize;
    done += block.done;
  }
  // The data length tells the layout: the whole file, or only the bytes
  // received (the same bytes when every block is complete).
  if (record.dataLength == total) {
    record.layout = RecordLayout::SharedFile;
  } else if (record.dataLength == done) {
    record.layout = RecordLayout::Buffered;
  } else {
    return std::nullopt;
  }
  return record;
}

}  // namespace ftp
