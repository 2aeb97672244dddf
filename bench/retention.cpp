// A school year of lesson pictures on a simulated clock: 190 school days
// (Monday to Friday) of 8 lessons with 40 small real JPEG pictures each.
// Most pictures are delivered; those of a week-long outage and one in a
// hundred of the rest stay waiting. After each lesson the retention pass
// runs as the client runs it, with the client's 30 days and a folder bound
// small enough for these small pictures to reach it. Printed: the largest
// size of the folder after a pass against the bound (ratio, goal at most
// 1.0), the waiting pictures kept (goal: all, while they fit under the
// bound) and the longest pass (goal at most 200 ms).
// Usage: bench_retention [folder] (a temporary folder without one).
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/jpeg_writer.h"
#include "core/picture_retention.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

constexpr int kSchoolDays = 190;
constexpr int kLessonsPerDay = 8;
constexpr int kPicturesPerLesson = 40;
constexpr int64_t kBoundBytes = int64_t{24} << 20;

// A small picture of noise, so that its size is that of a real JPEG.
std::string smallJpeg(const std::string& folder) {
  const int width = 64, height = 48;
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
  std::mt19937 random(3);
  for (unsigned char& byte : pixels) byte = static_cast<unsigned char>(random());
  platform::ScreenFrame frame;
  frame.width = width;
  frame.height = height;
  frame.layout = platform::PixelLayout::Rgb;
  frame.pixels = pixels.data();
  const std::string path = folder + "/sample.jpg";
  if (!writeJpeg(frame, path)) return {};
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  fs::remove(path);
  return bytes;
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir temporary;
  const std::string root = argc > 1 ? argv[1] : temporary.path().toStdString();
  const std::string jpeg = smallJpeg(root);
  if (jpeg.empty()) {
    std::fprintf(stderr, "bench_retention: no sample picture\n");
    return 1;
  }
  pictures::RetentionPass pass;
  pass.folder = root + "/screen_pic";
  pass.bounds.keepDays = 30;
  pass.bounds.maxBytes = kBoundBytes;
  pass.fileSystemUse = [folder = root] { return platform::fileSystemUse(folder); };

  // A year that ended yesterday, so that every picture is older than the
  // moment the records are read.
  const auto yearStart = Clock::now() - std::chrono::hours(24 * 280);
  std::mt19937 random(17);
  int waitingMade = 0;
  int64_t largestAfter = 0;
  int64_t largestBefore = 0;
  int64_t kept = 0;  // the folder's size after the last pass
  std::vector<double> passMs;
  int lesson = 0;
  int day = 0;
  for (int calendarDay = 0; day < kSchoolDays; ++calendarDay) {
    if (calendarDay % 7 >= 5) continue;  // the weekend
    const bool outage = day >= 60 && day < 65;
    for (int period = 0; period < kLessonsPerDay; ++period, ++lesson) {
      const std::string folder = pass.folder + "/month" + std::to_string(calendarDay / 30) + "/teacher" +
                                 std::to_string(lesson % 12) + "/lesson" + std::to_string(lesson);
      fs::create_directories(folder);
      const auto begin = yearStart + std::chrono::hours(24 * calendarDay + 8 + period);
      for (int n = 0; n < kPicturesPerLesson; ++n) {
        const std::string path =
            folder + "/" + twoDigits(8 + period) + "." + twoDigits(n) + "__" + std::to_string(n + 2) + ".jpg";
        std::ofstream(path, std::ios::binary) << jpeg;
        fs::last_write_time(path, std::chrono::file_clock::from_sys(begin + std::chrono::minutes(n)));
        if (outage || random() % 100 == 0) {
          pass.waiting.emplace(path, ++waitingMade);
        }
      }
      const int64_t before = kept + static_cast<int64_t>(jpeg.size()) * kPicturesPerLesson;
      largestBefore = std::max(largestBefore, before);
      pass.now = begin + std::chrono::minutes(45);
      const auto started = std::chrono::steady_clock::now();
      const pictures::RetentionOutcome outcome = pictures::runRetention(pass);
      passMs.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
      kept = outcome.keptBytes;
      largestAfter = std::max(largestAfter, kept);
      for (const pictures::DiscardedPicture& gone : outcome.discarded) pass.waiting.erase(gone.diskPath);
    }
    ++day;
  }
  const int waitingKept = static_cast<int>(pass.waiting.size());
  std::sort(passMs.begin(), passMs.end());
  const double longestMs = passMs.back();
  const double medianMs = passMs[passMs.size() / 2];
  std::printf("retention: %d school days, %d lessons, %d pictures (%zu bytes each), %d left waiting\n",
              kSchoolDays, lesson, lesson * kPicturesPerLesson, jpeg.size(), waitingMade);
  std::printf(
      "retention: largest folder after a pass %.1f MiB of a %.0f MiB bound, ratio %.3f (goal at most "
      "1.00); before a pass at most %.1f MiB\n",
      static_cast<double>(largestAfter) / (1 << 20), static_cast<double>(kBoundBytes) / (1 << 20),
      static_cast<double>(largestAfter) / static_cast<double>(kBoundBytes),
      static_cast<double>(largestBefore) / (1 << 20));
  std::printf("retention: waiting pictures kept %d of %d (goal: all, %.1f MiB under the bound)\n",
              waitingKept, waitingMade,
              static_cast<double>(waitingMade) * static_cast<double>(jpeg.size()) / (1 << 20));
  std::printf(
      "retention: longest pass %.1f ms (median %.1f ms), ratio %.3f to the 200 ms goal (goal at most "
      "1.00)\n",
      longestMs, medianMs, longestMs / 200.0);
  return 0;
}
