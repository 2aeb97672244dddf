#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "courseware/ftpclient/ftp_resume_record.h"
#include "courseware/ftpclient/ftp_settings.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

using text::gbk;

TEST(FtpSettingsStore, KeepsFirstWriteOrderAndReplacesInPlace) {
  ftp::SettingsStore settings;
  settings.load("[Old]\r\nkey=1\r\n\r\n");
  settings.write("B", "x", "1");
  settings.write("A", "y", "2");
  settings.write("b", "X", "3");
  settings.write("A", "z", "4");
  EXPECT_EQ(settings.text(), "[Old]\r\nkey=1\r\n\r\n[B]\r\nx=3\r\n\r\n[A]\r\ny=2\r\nz=4\r\n\r\n");
  EXPECT_EQ(settings.read("old", "KEY"), "1");
  EXPECT_FALSE(settings.read("A", "x"));
}

TEST(FtpResumeRecord, TrailerIsSettingsTextLengthAndSignature) {
  // The record of a 10-byte file split over three connections.
  ftp::SettingsStore settings;
  ftp::writeConnectionCount(settings, 3);
  ftp::writeBlockState(settings, 0, {4, 4});
  ftp::writeBlockState(settings, 1, {3, 1});
  ftp::writeBlockState(settings, 2, {3, 0});
  std::string expectedText =
      gbk("[连接设置]\r\n连接数=3\r\n\r\n"
          "[连接0]\r\n块大小=4\r\n完成=4\r\n\r\n"
          "[连接1]\r\n块大小=3\r\n完成=1\r\n\r\n"
          "[连接2]\r\n块大小=3\r\n完成=0\r\n\r\n");
  ASSERT_EQ(settings.text(), expectedText);

  std::string trailer = ftp::buildTrailer(settings.text());
  ASSERT_EQ(trailer.size(), expectedText.size() + 4 + 15);
  uint32_t length = expectedText.size();
  EXPECT_EQ(
      trailer.substr(expectedText.size(), 4),
      std::string({char(length & 0xFF), char((length >> 8) & 0xFF), char(length >> 16), char(length >> 24)}));
  EXPECT_EQ(trailer.substr(trailer.size() - 15), "KorvanFtpClient");
  EXPECT_EQ(ftp::trailerTextLength(trailer.substr(trailer.size() - 19)), length);

  auto blocks = ftp::parseRecordSettings(expectedText);
  ASSERT_TRUE(blocks);
  ASSERT_EQ(blocks->size(), 3u);
  EXPECT_EQ((*blocks)[1].blockSize, 3);
  EXPECT_EQ((*blocks)[1].done, 1);
}

TEST(FtpResumeRecord, DamagedSettingsAreRefused) {
  const char* cases[] = {
      "",
      "[连接设置]\r\n连接数=0\r\n",
      "[连接设置]\r\n连接数=2\r\n[连接0]\r\n块大小=4\r\n完成=4\r\n",
      "[连接设置]\r\n连接数=1\r\n[连接0]\r\n块大小=4\r\n完成=5\r\n",
      "[连接设置]\r\n连接数=1\r\n[连接0]\r\n块大小=-4\r\n完成=0\r\n",
      "[连接设置]\r\n连接数=1\r\n[连接0]\r\n块大小=4x\r\n完成=0\r\n",
      "[连接设置]\r\n连接数=100000\r\n",
  };
  for (const char* settingsText : cases)
    EXPECT_FALSE(ftp::parseRecordSettings(gbk(settingsText))) << settingsText;
}

class FtpResumeRecordFile : public ::testing::Test {
 protected:
  std::string write(const std::string& data, const std::string& settingsText) {
    std::string path = dir_.path().toStdString() + "/file~Cfg";
    testsupport::writeFile(path, data + ftp::buildTrailer(settingsText));
    return path;
  }
  static std::string settingsFor(const std::vector<ftp::BlockState>& blocks) {
    ftp::SettingsStore settings;
    ftp::writeConnectionCount(settings, static_cast<int>(blocks.size()));
    for (size_t i = 0; i < blocks.size(); ++i) ftp::writeBlockState(settings, static_cast<int>(i), blocks[i]);
    return settings.text();
  }
  QTemporaryDir dir_;
};

TEST_F(FtpResumeRecordFile, DataLengthTellsTheLayout) {
  std::vector<ftp::BlockState> blocks{{4, 2}, {3, 1}, {3, 3}};
  auto shared = ftp::readResumeRecord(write(std::string(10, 'x'), settingsFor(blocks)));
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->layout, ftp::RecordLayout::SharedFile);
  EXPECT_EQ(shared->dataLength, 10);
  auto buffered = ftp::readResumeRecord(write(std::string(6, 'x'), settingsFor(blocks)));
  ASSERT_TRUE(buffered);
  EXPECT_EQ(buffered->layout, ftp::RecordLayout::Buffered);
  EXPECT_FALSE(ftp::readResumeRecord(write(std::string(7, 'x'), settingsFor(blocks))));

  std::string path = write(std::string(10, 'x'), settingsFor(blocks));
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1);
  EXPECT_FALSE(ftp::readResumeRecord(path)) << "signature cut short";
  EXPECT_FALSE(ftp::readResumeRecord(dir_.path().toStdString() + "/missing~Cfg"));
}

TEST_F(FtpResumeRecordFile, KeepsCountersAboveFourGibibytes) {
  // A sparse file: five GiB long without using the space.
  const int64_t fileSize = int64_t{5} << 30;
  std::vector<ftp::BlockState> blocks{{fileSize - 100, (int64_t{4} << 30) + 7}, {100, 12}};
  std::string settingsText = settingsFor(blocks);
  EXPECT_NE(settingsText.find(gbk("块大小=5368709020")), std::string::npos);
  EXPECT_NE(settingsText.find(gbk("完成=4294967303")), std::string::npos);

  std::string path = dir_.path().toStdString() + "/big~Cfg";
  testsupport::writeFile(path, "");
  std::filesystem::resize_file(path, static_cast<uintmax_t>(fileSize));
  std::ofstream(path, std::ios::binary | std::ios::app) << ftp::buildTrailer(settingsText);

  auto record = ftp::readResumeRecord(path);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->layout, ftp::RecordLayout::SharedFile);
  EXPECT_EQ(record->dataLength, fileSize);
  ASSERT_EQ(record->blocks.size(), 2u);
  EXPECT_EQ(record->blocks[0].blockSize, fileSize - 100);
  EXPECT_EQ(record->blocks[0].done, (int64_t{4} << 30) + 7);
  EXPECT_EQ(record->blocks[1].done, 12);
}

}  // namespace
