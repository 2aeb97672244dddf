#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/jpeg_writer.h"
#include "core/picture_files.h"
#include "tests/support/test_support.h"

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

// RGB noise: the largest JPEG a frame of that size makes.
std::vector<unsigned char> noiseOf(int width, int height, unsigned seed) {
  std::vector<unsigned char> noise(static_cast<size_t>(width) * height * 3);
  std::mt19937 random(seed);
  for (unsigned char& byte : noise) byte = static_cast<unsigned char>(random());
  return noise;
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
  const std::vector<unsigned char> noise = noiseOf(width, height, 7);
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
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

// A client killed in the middle of a picture: nothing under the picture's
// name (which is what would be posted), and the start-up finds and removes
// what the write left.
TEST(ScreenshotJpeg, AKillDuringTheWriteLeavesNoPictureUnderItsName) {
  QTemporaryDir dir;
  const int width = 3000, height = 3000;
  const std::vector<unsigned char> noise = noiseOf(width, height, 11);
  const std::string path = dir.filePath("09.05__2.jpg").toStdString();

  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    writeJpeg(frameOf(noise, PixelLayout::Rgb, width, height), path);
    _exit(0);
  }
  std::error_code error;
  const bool begun = testsupport::waitFor(
      [&] { return std::filesystem::file_size(path + ".part", error) > 100000 && !error; }, 20000, 1);
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
  ASSERT_TRUE(begun) << "the picture was not being written";
  ASSERT_TRUE(WIFSIGNALED(status)) << "the write ended before the kill";

  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(pictures::isWholeJpeg(path + ".part"));
  EXPECT_EQ(pictures::removeUnfinishedWrites(dir.path().toStdString()), 1);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path().toStdString()));
}

// Something planted at the temporary or the real name of a picture: a link
// to another file is never written through, a FIFO never waited on; it is
// moved aside and the picture is written all the same.
TEST(ScreenshotJpeg, APlantedLinkOrFifoAtEitherNameIsMovedAsideAndNeverWrittenThrough) {
  const struct {
    const char* suffix;
    bool fifo;
  } cases[] = {{".part", false}, {".part", true}, {"", false}, {"", true}};
  const std::vector<unsigned char> bytes = solid(PixelLayout::Rgb, 16, 16, 9, 8, 7);
  for (const auto& c : cases) {
    const std::string which = std::string(c.suffix) + (c.fifo ? " FIFO" : " link");
    QTemporaryDir dir;
    const std::string path = dir.filePath("10.15__3.jpg").toStdString();
    const std::string planted = path + c.suffix;
    const std::string victim = dir.filePath("victim").toStdString();
    ASSERT_TRUE(testsupport::writeFile(victim, "not a picture"));
    if (c.fifo)
      ASSERT_EQ(mkfifo(planted.c_str(), 0600), 0);
    else
      std::filesystem::create_symlink(victim, planted);

    EXPECT_TRUE(writeJpeg(frameOf(bytes, PixelLayout::Rgb, 16, 16), path)) << which;
    EXPECT_EQ(testsupport::readFile(victim), "not a picture") << which;
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path))) << which;
    EXPECT_TRUE(pictures::isWholeJpeg(path)) << which;
    EXPECT_FALSE(std::filesystem::exists(path + ".part")) << which;
    const auto aside = std::filesystem::symlink_status(planted + ".unsafe-1");
    EXPECT_EQ(aside.type(), c.fifo ? std::filesystem::file_type::fifo : std::filesystem::file_type::symlink)
        << which;
  }
}

TEST(ScreenshotJpeg, OnlyAPictureWrittenToItsEndIsWhole) {
  QTemporaryDir dir;
  const std::vector<unsigned char> bytes = solid(PixelLayout::Rgb, 40, 30, 1, 2, 3);
  const std::string path = dir.filePath("whole.jpg").toStdString();
  ASSERT_TRUE(writeJpeg(frameOf(bytes, PixelLayout::Rgb, 40, 30), path));
  const std::string whole = testsupport::readFile(path);
  const struct {
    const char* name;
    std::string bytes;
    bool whole;
  } cases[] = {{"written", whole, true},
               {"cut short", whole.substr(0, whole.size() / 2), false},
               {"empty", "", false},
               {"not a JPEG", "GIF89a" + whole.substr(6), false}};
  for (const auto& c : cases) {
    const std::string file = dir.filePath(QString("%1.jpg").arg(c.name)).toStdString();
    ASSERT_TRUE(testsupport::writeFile(file, c.bytes));
    EXPECT_EQ(pictures::isWholeJpeg(file), c.whole) << c.name;
  }
}

}  // namespace
