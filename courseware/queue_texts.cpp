#include "courseware/queue_texts.h"

#include <cmath>

namespace courseware {

std::string fileNamePart(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string nameWithoutExtension(std::string_view path) {
  std::string name = fileNamePart(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string extensionOf(std::string_view path) {
  std::string name = fileNamePart(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string sizeText(uint64_t bytes) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  return std::to_string(bytes / kMiB + (bytes % kMiB != 0 ? 1 : 0)) + "M";
}

int progressPercent(int64_t sent, int64_t total) {
  if (total <= 0) return 0;
  // The share is carried as a single-precision fraction, as the progress
  // event has always delivered it; nearbyint rounds halves to even.
  auto fraction = static_cast<float>(static_cast<double>(sent) / static_cast<double>(total));
  return static_cast<int>(std::nearbyint(static_cast<double>(fraction) * 100.0));
}

}  // namespace courseware
