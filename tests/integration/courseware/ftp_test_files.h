// Files for the FTP tests: content that differs at every offset, so that a
// block written at the wrong place or a chunk skipped cannot go unnoticed.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace ftptest {

inline void writePatternFile(const std::string& path, int64_t size, uint64_t seed = 1) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint64_t> words(1 << 17);
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (int64_t left = size; left > 0;) {
    for (uint64_t& word : words) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    auto n = static_cast<std::streamsize>(std::min<int64_t>(left, words.size() * sizeof(uint64_t)));
    out.write(reinterpret_cast<const char*>(words.data()), n);
    left -= n;
  }
}

}  // namespace ftptest
