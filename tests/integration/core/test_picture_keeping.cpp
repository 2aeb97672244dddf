// The lesson pictures against a real edu.db and real files: what a kill
// leaves is put right at the next start (nothing cut off is ever sent, a
// post cut off is sent later), and the retention marks the waiting pictures
// it had to remove, down to a small file system of its own.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/jpeg_writer.h"
#include "core/picture_keeper.h"
#include "platform/file_system_use.h"
#include "store/offline_store.h"
#include "tests/integration/store/edu_db_fixture.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class PictureKeeping : public ::testing::Test {
 protected:
  void SetUp() override {
    DB_Func::EnsureOwnTables();
    DB_Func::LessonRecord lesson;
    lesson.processID = "70005";
    lessonRow_ = DB_Func::LessonRowFor("70005", lesson);
    ASSERT_GT(lessonRow_, 0);
  }

  // A picture file below `dataDir`'s screen_pic with a record in `state`.
  long long picture(const std::string& dataDir, const std::string& name, const std::string& state,
                    const std::string& bytes) {
    const std::string path = dataDir + "/screen_pic/2026-12/t/70005/" + name;
    fs::create_directories(fs::path(path).parent_path());
    if (!bytes.empty()) {
      EXPECT_TRUE(testsupport::writeFile(path, bytes));
    }
    DB_Func::ShotRecord shot;
    shot.filePath = path;
    shot.shotTime = "2026-12-10 09:05:00";
    return DB_Func::AddPendingShot(lessonRow_, shot, state);
  }

  std::string state(long long id) {
    return db_.rows("SELECT state FROM t_offline_shot WHERE id = " + std::to_string(id)).at(0).at(0);
  }

  static std::string wholeJpeg() {
    QTemporaryDir dir;
    const std::vector<unsigned char> pixels(16 * 16 * 3, 0x80);
    platform::ScreenFrame frame;
    frame.width = frame.height = 16;
    frame.layout = platform::PixelLayout::Rgb;
    frame.pixels = pixels.data();
    const std::string path = dir.filePath("p.jpg").toStdString();
    EXPECT_TRUE(writeJpeg(frame, path));
    return testsupport::readFile(path);
  }

  void runPass(PictureKeeper& keeper) {
    keeper.runPass();
    ASSERT_TRUE(testsupport::waitFor([&] { return !keeper.passRunning(); }));
  }

  storetest::EduDb db_;
  QTemporaryDir data_;
  long long lessonRow_ = 0;
  std::vector<std::string> log_;
};

TEST_F(PictureKeeping, AtStartUpACutOffPostWaitsAgainAndNothingCutOffIsEverSent) {
  const std::string dataDir = data_.path().toStdString();
  const std::string jpeg = wholeJpeg();
  const long long posted = picture(dataDir, "09.05__2.jpg", DB_Func::kSending, jpeg);
  const long long cutOff =
      picture(dataDir, "09.06__3.jpg", DB_Func::kPending, jpeg.substr(0, jpeg.size() / 2));
  const long long gone = picture(dataDir, "09.07__4.jpg", DB_Func::kPending, "");
  const std::string unfinished = dataDir + "/screen_pic/2026-12/t/70005/09.08__5.jpg.part";
  ASSERT_TRUE(testsupport::writeFile(unfinished, jpeg.substr(0, 100)));

  PictureKeeper keeper(dataDir, {});
  keeper.setLog([this](const std::string& line) { log_.push_back(line); });
  keeper.checkAtStartUp();

  EXPECT_EQ(state(posted), "pending");
  EXPECT_EQ(state(cutOff), "missing");
  EXPECT_EQ(state(gone), "missing");
  EXPECT_FALSE(fs::exists(dataDir + "/screen_pic/2026-12/t/70005/09.06__3.jpg"));
  EXPECT_FALSE(fs::exists(unfinished));
  EXPECT_TRUE(fs::exists(dataDir + "/screen_pic/2026-12/t/70005/09.05__2.jpg"));
  // Only the whole picture is offered for delivery.
  const DB_Func::PendingItem next = DB_Func::NextPendingItem();
  EXPECT_EQ(next.kind, DB_Func::PendingItem::Kind::Shot);
  EXPECT_EQ(next.id, posted);
  ASSERT_EQ(log_.size(), 3u);
  EXPECT_NE(log_[1].find("cut-off picture removed"), std::string::npos) << log_[1];
}

// Over its bound the pass leaves the picture on its way alone and marks the
// waiting pictures it removed as discarded, each with a log line.
TEST_F(PictureKeeping, APassMarksTheWaitingPicturesItRemovedAsDiscarded) {
  const std::string dataDir = data_.path().toStdString();
  const std::string jpeg = wholeJpeg();
  const long long delivered = picture(dataDir, "09.05__2.jpg", DB_Func::kDelivered, jpeg);
  const long long waiting = picture(dataDir, "09.06__3.jpg", DB_Func::kPending, jpeg);
  const long long posting = picture(dataDir, "09.07__4.jpg", DB_Func::kSending, jpeg);
  pictures::RetentionBounds bounds;
  bounds.maxBytes = 0;
  PictureKeeper keeper(dataDir, bounds);
  keeper.setLog([this](const std::string& line) { log_.push_back(line); });
  ASSERT_NO_FATAL_FAILURE(runPass(keeper));

  EXPECT_EQ(state(delivered), "delivered");
  EXPECT_EQ(state(waiting), "discarded");
  EXPECT_EQ(state(posting), "sending");
  EXPECT_EQ(testsupport::filesBelow(dataDir + "/screen_pic"),
            std::vector<std::string>{"/2026-12/t/70005/09.07__4.jpg"});
  EXPECT_EQ(DB_Func::CountDiscardedShots(), 1);
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_NE(log_[0].find("discarded before delivery"), std::string::npos) << log_[0];
  EXPECT_NE(log_[0].find("09.06__3.jpg"), std::string::npos) << log_[0];
}

// A 4 MiB file system filled to 97 %: the pass brings it under 90 % with
// delivered pictures, oldest first, and keeps every waiting one.
TEST_F(PictureKeeping, ASmallDiskIsBroughtUnderNinetyPercent) {
  if (geteuid() != 0) SKIP_WITHOUT_TOOL("mounting a small tmpfs needs root");
  QTemporaryDir mountPoint;
  const std::string dataDir = mountPoint.path().toStdString();
  ASSERT_EQ(mount("tmpfs", dataDir.c_str(), "tmpfs", 0, "size=4m"), 0) << std::strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{dataDir};

  const std::string jpeg = wholeJpeg();
  std::vector<long long> waiting;
  for (int n = 0; n < 30; ++n) {
    std::string bytes = jpeg + std::string(100 * 1024 - jpeg.size(), '\0');
    const std::string name = "09." + std::to_string(10 + n) + "__" + std::to_string(n + 2) + ".jpg";
    if (n % 10 == 5) {
      waiting.push_back(picture(dataDir, name, DB_Func::kPending, bytes));
    } else {
      picture(dataDir, name, DB_Func::kDelivered, bytes);
    }
    fs::last_write_time(dataDir + "/screen_pic/2026-12/t/70005/" + name,
                        std::chrono::file_clock::now() - std::chrono::minutes(60 - n));
  }
  ASSERT_TRUE(testsupport::writeFile(dataDir + "/other.bin", std::string(950 * 1024, 'x')));
  const std::optional<platform::FileSystemUse> before = platform::fileSystemUse(dataDir);
  ASSERT_TRUE(before);
  ASSERT_GT(before->usedBytes * 100, before->sizeBytes * 95);

  PictureKeeper keeper(dataDir, {});
  ASSERT_NO_FATAL_FAILURE(runPass(keeper));

  const std::optional<platform::FileSystemUse> after = platform::fileSystemUse(dataDir);
  ASSERT_TRUE(after);
  EXPECT_LE(after->usedBytes * 100, after->sizeBytes * 90);
  // As few as it takes, the oldest first: the newest delivered are still there.
  EXPECT_TRUE(fs::exists(dataDir + "/screen_pic/2026-12/t/70005/09.39__31.jpg"));
  EXPECT_FALSE(fs::exists(dataDir + "/screen_pic/2026-12/t/70005/09.10__2.jpg"));
  for (const long long id : waiting) EXPECT_EQ(state(id), "pending");
}

}  // namespace
