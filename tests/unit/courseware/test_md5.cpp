#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <string>

#include "courseware/copy_hash.h"
#include "courseware/md5.h"
#include "tests/support/test_support.h"

namespace {

using courseware::md5Hex;
using courseware::md5OfFile;

TEST(Md5, KnownDigestsInLowercaseHex) {
  // The test suite of RFC 1321.
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [input, digest] : cases) EXPECT_EQ(md5Hex(input), digest) << input;
  EXPECT_EQ(md5Hex(std::string("\0\xff", 2)), "d07d34efac6328007ad67c7e0a985e00");
}

class FileHash : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  QTemporaryDir dir_;
};

TEST_F(FileHash, WholeFileReadInPieces) {
  std::string content;
  for (int i = 0; i < 300000; ++i) content += static_cast<char>(i * 7 + i / 251);
  ASSERT_TRUE(testsupport::writeFile(path("lesson.ppt"), content));
  ASSERT_TRUE(testsupport::writeFile(path("empty.ppt"), ""));
  EXPECT_EQ(md5OfFile(path("lesson.ppt")), md5Hex(content));
  EXPECT_EQ(md5OfFile(path("empty.ppt")), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileHash, WhatCannotBeReadHasNoHash) {
  // Never the hash of empty input: that would name some other file.
  EXPECT_EQ(md5OfFile(path("missing.ppt")), std::nullopt);
  EXPECT_EQ(md5OfFile(dir_.path().toStdString()), std::nullopt);
  EXPECT_EQ(courseware::hashLocalCopy(path("missing.ppt"), std::nullopt, nullptr), std::nullopt);
}

TEST_F(FileHash, CancelledBeforeTheEndGivesNone) {
  ASSERT_TRUE(testsupport::writeFile(path("lesson.ppt"), "content"));
  std::atomic<bool> cancel{true};
  EXPECT_EQ(md5OfFile(path("lesson.ppt"), &cancel), std::nullopt);
}

TEST_F(FileHash, UnchangedCopyReusesItsHashChangedCopyIsHashedAgain) {
  const std::string file = path("lesson.ppt");
  ASSERT_TRUE(testsupport::writeFile(file, "first content"));
  auto first = courseware::hashLocalCopy(file, std::nullopt, nullptr);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->hash, md5Hex("first content"));

  // A remembered hash that no longer matches the bytes shows it is reused,
  // not worked out again.
  courseware::KnownHash remembered = *first;
  remembered.hash = "remembered";
  EXPECT_EQ(courseware::hashLocalCopy(file, remembered, nullptr)->hash, "remembered");

  courseware::KnownHash otherPath = remembered;
  otherPath.fsPath = path("other.ppt");
  EXPECT_EQ(courseware::hashLocalCopy(file, otherPath, nullptr)->hash, md5Hex("first content"));

  ASSERT_TRUE(testsupport::writeFile(file, "second, longer content"));
  EXPECT_EQ(courseware::hashLocalCopy(file, remembered, nullptr)->hash, md5Hex("second, longer content"));
}

TEST(HashMemory, KeepsTheNewestEntryPerPath) {
  courseware::HashMemory memory;
  memory.remember({"/a", {1, 10}, "h1"});
  memory.remember({"/b", {2, 20}, "h2"});
  memory.remember({"/a", {3, 30}, "h3"});
  EXPECT_EQ(memory.find("/a")->hash, "h3");
  EXPECT_EQ(memory.find("/b")->hash, "h2");
  EXPECT_EQ(memory.find("/c"), std::nullopt);
}

}  // namespace
