#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/jpeg_writer.h"

namespace {

using platform::PixelLayout;
using platform::ScreenFrame;

// A frame of one colour in the given layout.
std::vector<unsigned char> solid(PixelLayout layout, int width, int height, int red, int green, int blue) {
  std::vector<unsigned char> pixel;
  switch (layout) {
    case PixelLayout::Bgrx:
      pixel = {static_cast<unsigned char>(blue), static_cast<unsigned char>(green),
               static_cast<unsigned char>(red), 0};
      break;
    case PixelLayout::Rgbx:
      pixel = {static_cast<unsigned char>(red), static_cast<unsigned char>(green),
               static_cast<unsigned char>(blue), 0};
      break;
    case PixelLayout::Rgb:
      pixel = {static_cast<unsigned char>(red), static_cast<unsigned char>(green),
               static_cast<unsigned char>(blue)};
      break;
  }
  std::vector<unsigned char> bytes;
  for (int i = 0; i < width * height; ++i) bytes.insert(bytes.end(), pixel.begin(), pixel.end());
  return bytes;
}

ScreenFrame frameOf(const std::vector<unsigned char>& bytes, PixelLayout layout, int width, int height) {
  ScreenFrame frame;
  frame.width = width;
  frame.height = height;
  frame.layout = layout;
  frame.pixels = bytes.data();
  return frame;
}

// Every layout comes out as the colour it holds, at the frame's size; the
// sizes are not multiples of the 16-pixel blocks and span several batches
// of rows.
TEST(ScreenshotJpeg, EveryLayoutKeepsItsColourAndSize) {
  QTemporaryDir dir;
  struct Case {
    PixelLayout layout;
    const char* name;
  };
  for (const Case& c :
       {Case{PixelLayout::Bgrx, "bgrx"}, Case{PixelLayout::Rgbx, "rgbx"}, Case{PixelLayout::Rgb, "rgb"}}) {
    const int width = 37, height = 75;
    const std::vector<unsigned char> bytes = solid(c.layout, width, height, 200, 40, 90);
    const std::string path = dir.filePath(QString("%1.jpg").arg(c.name)).toStdString();
    ASSERT_TRUE(writeJpeg(frameOf(bytes, c.layout, width, height), path)) << c.name;

    QImage image(QString::fromStdString(path), "JPEG");
    ASSERT_FALSE(image.isNull()) << c.name;
    EXPECT_EQ(image.size(), QSize(width, height)) << c.name;
    const QColor centre = image.pixelColor(width / 2, height / 2);
    EXPECT_NEAR(centre.red(), 200, 6) << c.name;
    EXPECT_NEAR(centre.green(), 40, 6) << c.name;
    EXPECT_NEAR(centre.blue(), 90, 6) << c.name;
  }
}

TEST(ScreenshotJpeg, NothingIsLeftWhenTheFileCannotBeWritten) {
  QTemporaryDir dir;
  const std::vector<unsigned char> bytes = solid(PixelLayout::Rgb, 8, 8, 1, 2, 3);
  const std::string missingFolder = dir.filePath("no/such/folder.jpg").toStdString();
  EXPECT_FALSE(writeJpeg(frameOf(bytes, PixelLayout::Rgb, 8, 8), missingFolder));

  const std::string empty = dir.filePath("empty.jpg").toStdString();
  EXPECT_FALSE(writeJpeg(frameOf(bytes, PixelLayout::Rgb, 0, 8), empty));
  EXPECT_FALSE(std::filesystem::exists(empty));
}

// A disk that fills up in the middle of the picture: the file size limit
// makes the writes fail the same way. No truncated picture may stay behind
// to be uploaded.
TEST(ScreenshotJpeg, APictureCutShortByAFullDiskIsRemoved) {
  QTemporaryDir dir;
  const int width = 200, height = 200;
  std::vector<unsigned char> noise(static_cast<size_t>(width) * height * 3);
  std::mt19937 random(7);
  for (unsigned char& byte : noise) byte = static_cast<unsigned char>(random());
  const std::string path = dir.filePath("full.jpg").toStdString();

  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto previousSignal = signal(SIGXFSZ, SIG_IGN);
  rlimit small = previous;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = writeJpeg(frameOf(noise, PixelLayout::Rgb, width, height), path);
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousSignal);

  EXPECT_FALSE(written);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
