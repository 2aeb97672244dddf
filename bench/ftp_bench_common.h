// Shared pieces of the FTP benchmarks: a big file in a temporary folder,
// a standard tool run and timed, and the ratio line.
#pragma once

#include <QProcess>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace ftpbench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Content that is not all zeros, written in 1 MiB pieces.
inline bool writeFile(const std::string& path, int64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint64_t> words(1 << 17);
  uint64_t state = 88172645463325252ull;
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
  return static_cast<bool>(out);
}

inline bool sameFiles(const std::string& a, const std::string& b) {
  QProcess cmp;
  cmp.start("cmp", {"-s", QString::fromStdString(a), QString::fromStdString(b)});
  return cmp.waitForFinished(-1) && cmp.exitCode() == 0;
}

// Runs a tool to its end; seconds taken, or a negative number on failure.
inline double timeTool(const std::string& program, const std::vector<std::string>& arguments) {
  QProcess tool;
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  tool.setStandardOutputFile(QProcess::nullDevice());
  auto start = Clock::now();
  tool.start(QString::fromStdString(program), list);
  if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
    return -1;
  return secondsSince(start);
}

inline void printRatio(const char* what, double ours, const char* tool, double theirs, double goal) {
  std::printf("%s: ours %.2f s, %s %.2f s, ratio %.2f (goal at most %.1f)\n", what, ours, tool, theirs,
              ours / theirs, goal);
}

}  // namespace ftpbench
