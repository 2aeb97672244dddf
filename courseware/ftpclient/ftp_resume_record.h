// The resume record of a partial download: the data bytes, then the
// settings text, its length as 4 bytes little-endian and the 15 characters
// "KorvanFtpClient". The settings name the connection count and, per
// connection, its block size and the bytes of the block already received.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "courseware/ftpclient/ftp_settings.h"

namespace ftp {

inline constexpr std::string_view kRecordSignature = "KorvanFtpClient";
// Appended to the local file name for the file of a download in progress.
inline constexpr std::string_view kRecordSuffix = "~Cfg";

struct BlockState {
  int64_t blockSize = 0;
  int64_t done = 0;
};

// Records the connection count and each connection's block in the store.
// Counters are written as full 64-bit decimals, which is the same text as
// before for anything below 2 GiB.
void writeConnectionCount(SettingsStore& settings, int count);
void writeBlockState(SettingsStore& settings, int index, const BlockState& block);

// settings text + length + signature, appended after the data.
std::string buildTrailer(std::string_view settingsText);
// Size of the fixed part at the very end: length and signature.
inline constexpr size_t kTrailerTailSize = 4 + kRecordSignature.size();
// The length of the settings text, read from the last kTrailerTailSize
// bytes of a file; nothing when the signature is not there.
std::optional<uint32_t> trailerTextLength(std::string_view tail);
// The blocks named by a record's settings text; nothing when the count or a
// block is missing or out of range.
std::optional<std::vector<BlockState>> parseRecordSettings(std::string_view settingsText);

// How the data in front of the trailer is laid out.
enum class RecordLayout {
  SharedFile,  // the whole remote file's size, each block at its offset
  Buffered,    // the received bytes of each block, one after the other
};

struct ResumeRecord {
  std::vector<BlockState> blocks;
  int64_t dataLength = 0;
  RecordLayout layout = RecordLayout::SharedFile;
};

// Reads the trailer of a record file (path as on disk). Nothing when the
// file has no valid trailer or its data does not fit the blocks.
std::optional<ResumeRecord> readResumeRecord(const std::string& diskPath);

}  // namespace ftp
