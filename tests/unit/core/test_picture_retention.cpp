// The retention pass on real files with a clock of its own: delivered
// pictures go by age and, over a bound, oldest first; pictures the server
// has not got go only when nothing delivered is left, and never one in use.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/picture_files.h"
#include "core/picture_retention.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::hours;
using Clock = std::chrono::system_clock;

class RetentionPass : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.path().toStdString() + "/screen_pic";
    pass_.folder = folder_;
    pass_.now = Clock::now();
    pass_.bounds.keepDays = 30;
    pass_.bounds.maxBytes = 1 << 20;
  }

  // A picture of `kilobytes` KiB taken `daysAgo` days before the pass's now.
  std::string picture(const std::string& relative, double daysAgo, int kilobytes = 10) {
    const std::string path = folder_ + "/" + relative;
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_TRUE(testsupport::writeFile(path, std::string(static_cast<size_t>(kilobytes) * 1024, 'x')));
    const auto taken = pass_.now - std::chrono::duration_cast<Clock::duration>(hours(24) * daysAgo);
    fs::last_write_time(path, std::chrono::file_clock::from_sys(taken));
    return path;
  }

  void waiting(const std::string& path, long long id) { pass_.waiting.emplace(path, id); }

  std::vector<std::string> left() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder_))
      if (entry.is_regular_file()) files.push_back(entry.path().string().substr(folder_.size() + 1));
    std::sort(files.begin(), files.end());
    return files;
  }

  QTemporaryDir dir_;
  std::string folder_;
  pictures::RetentionPass pass_;
};

TEST_F(RetentionPass, DeliveredPicturesGoAfterTheirDaysWaitingAndBusyOnesStay) {
  picture("2026-10/a/1/old.jpg", 31);
  picture("2026-11/a/2/recent.jpg", 29);
  waiting(picture("2026-10/a/1/old_waiting.jpg", 60), 7);
  pass_.posting.insert(picture("2026-10/a/1/old_posting.jpg", 60));
  picture("2026-10/a/1/notes.txt", 90);  // not a picture: never removed
  // Recorded after the records were read: the pass cannot know its state.
  pass_.recordsReadAt = std::chrono::file_clock::from_sys(pass_.now - hours(24) * 61);

  const pictures::RetentionOutcome outcome = pictures::runRetention(pass_);

  EXPECT_EQ(left(), (std::vector<std::string>{"2026-10/a/1/notes.txt", "2026-10/a/1/old.jpg",
                                              "2026-10/a/1/old_posting.jpg", "2026-10/a/1/old_waiting.jpg",
                                              "2026-11/a/2/recent.jpg"}));
  EXPECT_EQ(outcome.removedByAge, 0);

  pass_.recordsReadAt = fs::file_time_type::max();
  const pictures::RetentionOutcome second = pictures::runRetention(pass_);
  EXPECT_EQ(left(), (std::vector<std::string>{"2026-10/a/1/notes.txt", "2026-10/a/1/old_posting.jpg",
                                              "2026-10/a/1/old_waiting.jpg", "2026-11/a/2/recent.jpg"}));
  EXPECT_EQ(second.removedByAge, 1);
  EXPECT_TRUE(second.discarded.empty());
  EXPECT_EQ(second.keptWaiting, 1);
}

// Over the size bound: oldest delivered first, as few as it takes; the
// waiting pictures stay while anything delivered can go, then the oldest of
// them goes and is reported with its record.
TEST_F(RetentionPass, OverTheBoundTheOldestDeliveredGoFirstWaitingOnesLast) {
  pass_.bounds.maxBytes = 120 * 1024;
  picture("m/t/1/d1.jpg", 5, 30);
  waiting(picture("m/t/1/w1.jpg", 4, 30), 1);
  picture("m/t/1/d2.jpg", 3, 30);
  waiting(picture("m/t/1/w2.jpg", 2, 30), 2);
  picture("m/t/1/d3.jpg", 1, 30);

  pictures::RetentionOutcome outcome = pictures::runRetention(pass_);
  EXPECT_EQ(left(),
            (std::vector<std::string>{"m/t/1/d2.jpg", "m/t/1/d3.jpg", "m/t/1/w1.jpg", "m/t/1/w2.jpg"}));
  EXPECT_EQ(outcome.removedForRoom, 1);
  EXPECT_TRUE(outcome.discarded.empty());
  EXPECT_EQ(outcome.keptBytes, 120 * 1024);

  pass_.bounds.maxBytes = 40 * 1024;
  outcome = pictures::runRetention(pass_);
  EXPECT_EQ(left(), std::vector<std::string>{"m/t/1/w2.jpg"});
  EXPECT_EQ(outcome.removedForRoom, 2);
  ASSERT_EQ(outcome.discarded.size(), 1u);
  EXPECT_EQ(outcome.discarded[0].recordId, 1);
  EXPECT_EQ(outcome.discarded[0].diskPath, folder_ + "/m/t/1/w1.jpg");
  EXPECT_EQ(outcome.keptWaiting, 1);
}

TEST_F(RetentionPass, TheFileSystemIsKeptUnderItsShare) {
  pass_.bounds.maxBytes = int64_t{1} << 40;
  picture("m/t/1/a.jpg", 3, 20);
  picture("m/t/1/b.jpg", 2, 20);
  picture("m/t/1/c.jpg", 1, 20);
  // 1000 KiB of disk with 925 KiB used: 25 KiB over 90 %.
  pass_.fileSystemUse = [] { return platform::FileSystemUse{1000 * 1024, 925 * 1024}; };
  const pictures::RetentionOutcome outcome = pictures::runRetention(pass_);
  EXPECT_EQ(left(), std::vector<std::string>{"m/t/1/c.jpg"});
  EXPECT_EQ(outcome.removedForRoom, 2);
}

// Folders emptied go, deepest first, but not one a picture is about to be
// written into, nor the picture folder itself.
TEST_F(RetentionPass, EmptyFoldersGoButNotOneInUse) {
  picture("2026-09/a/1/old.jpg", 40);
  picture("2026-09/b/2/old.jpg", 40);
  fs::create_directories(folder_ + "/2026-12/c/3");
  const pictures::PictureInUse beingWritten(folder_ + "/2026-12/c/3/09.05__2.jpg");
  picture("2026-12/c/4/new.jpg", 0);

  const pictures::RetentionOutcome outcome = pictures::runRetention(pass_);

  EXPECT_EQ(outcome.removedByAge, 2);
  EXPECT_EQ(outcome.foldersRemoved, 5);  // 2026-09 with a, a/1, b, b/2
  EXPECT_FALSE(fs::exists(folder_ + "/2026-09"));
  EXPECT_TRUE(fs::is_directory(folder_ + "/2026-12/c/3"));
  EXPECT_TRUE(fs::is_directory(folder_));
}

TEST_F(RetentionPass, APictureInUseIsNeverRemoved) {
  const std::string old = picture("m/t/1/old.jpg", 90);
  {
    const pictures::PictureInUse posted(old);
    EXPECT_EQ(pictures::runRetention(pass_).removedByAge, 0);
    EXPECT_TRUE(fs::exists(old));
  }
  EXPECT_EQ(pictures::runRetention(pass_).removedByAge, 1);
}

}  // namespace
