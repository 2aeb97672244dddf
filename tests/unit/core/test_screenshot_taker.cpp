#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/picture_files.h"
#include "core/screenshot_taker.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

std::tm at(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return time;
}

// A gate a fake upload waits at until the test opens it (or the upload is
// stopped).
struct Gate {
  std::mutex mutex;
  std::condition_variable_any changed;
  bool open = false;

  void wait(std::stop_token stop = {}) {
    std::unique_lock lock(mutex);
    changed.wait(lock, stop, [this] { return open; });
  }
  void release() {
    const std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

// A taker with a 40 x 30 picture for a screen, a clock that reads out the
// times it is given, and an upload that records what it was asked to send.
class ScreenshotTick : public ::testing::Test {
 protected:
  struct Upload {
    std::string localPath, url;
  };

  void SetUp() override {
    // A screen with something on it: a blank one is never a picture.
    pixels_.resize(40 * 30 * 4);
    for (size_t i = 0; i < pixels_.size(); ++i) pixels_[i] = static_cast<unsigned char>(i % 251);
    taker_.setFrameSource([this](platform::ScreenFrame& frame) {
      if (!screenWorks_) return false;
      frame.width = 40;
      frame.height = 30;
      frame.layout = platform::PixelLayout::Bgrx;
      frame.pixels = pixels_.data();
      return true;
    });
    taker_.setClock([this] {
      const std::lock_guard lock(mutex_);
      const std::tm now = times_.front();
      if (times_.size() > 1) times_.erase(times_.begin());
      return now;
    });
    taker_.setUploader([this](const std::string& localPath, const std::string& url, std::stop_token stop) {
      std::string reply;
      Gate* gate = nullptr;
      {
        const std::lock_guard lock(mutex_);
        uploads_.push_back({localPath, url});
        reply = replies_.empty() ? std::string("{\"status\":\"true\"}") : replies_.front();
        if (!replies_.empty()) replies_.erase(replies_.begin());
        if (!gates_.empty()) {
          gate = gates_.front();
          gates_.erase(gates_.begin());
        }
      }
      if (gate != nullptr) gate->wait(stop);
      if (stop.stop_requested()) {
        const std::lock_guard lock(mutex_);
        stopped_.push_back(localPath);
        return std::string();
      }
      return reply;
    });
    job_.dataDir = dir_.path().toStdString();
    job_.lesson.teacherName = text::utf8ToGbk("张明");
    job_.lesson.teacherPhone = "13812345678";
    job_.lesson.processID = "P77";
    job_.counter = 2;
    job_.serverHost = "127.0.0.1";
    job_.serverPort = 8080;
    job_.target = "/edu/clientInterface-postScreenShot?appKey=k&processID=P77";
  }

  void TearDown() override {
    // No worker may outlive the test's fakes.
    EXPECT_TRUE(testsupport::waitFor([this] { return taker_.uploadsRunning() == 0; }));
  }

  // One tick, through once its picture is written and handed on (or refused).
  void tick() {
    QSignalSpy ended(&taker_, &ScreenshotTaker::tickEnded);
    taker_.tick(job_);
    ASSERT_TRUE(testsupport::waitFor([&] { return ended.count() == 1; }));
  }

  std::vector<Upload> uploads() {
    const std::lock_guard lock(mutex_);
    return uploads_;
  }

  // Every .jpg below the program folder.
  std::vector<std::string> pictures() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path().toStdString())) {
      if (entry.path().extension() == ".jpg") found.push_back(entry.path().string());
    }
    return found;
  }

  QTemporaryDir dir_;
  std::vector<unsigned char> pixels_;
  bool screenWorks_ = true;
  std::mutex mutex_;
  std::vector<std::tm> times_{at(2024, 5, 20, 9, 5)};
  std::vector<std::string> replies_;
  std::vector<Gate*> gates_;
  std::vector<Upload> uploads_;
  std::vector<std::string> stopped_;  // uploads that saw their stop
  ScreenshotJob job_;
  ScreenshotTaker taker_;
};

TEST_F(ScreenshotTick, WritesThePictureInItsFolderAndUploadsItToTheServerPort) {
  QSignalSpy finished(&taker_, &ScreenshotTaker::uploadFinished);
  QSignalSpy failed(&taker_, &ScreenshotTaker::uploadFailed);
  tick();

  const std::string folder = job_.dataDir + "/screen_pic/2024-05/张明13812345678/P77";
  const std::string disk = folder + "/09.05__2.jpg";
  ASSERT_TRUE(std::filesystem::is_regular_file(disk));
  EXPECT_EQ(QImage(QString::fromStdString(disk), "JPEG").size(), QSize(40, 30));
  EXPECT_EQ(taker_.lastScreenshotPath(), text::utf8ToGbk(disk));

  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 1; }));
  EXPECT_TRUE(finished.at(0).at(0).toBool());
  EXPECT_EQ(failed.count(), 0);
  ASSERT_EQ(uploads().size(), 1u);
  EXPECT_EQ(uploads()[0].localPath, taker_.lastScreenshotPath());
  EXPECT_EQ(uploads()[0].url,
            "http://127.0.0.1:8080/edu/clientInterface-postScreenShot?appKey=k&processID=P77");
}

// The month of the folder and the minute of the file are read one after the
// other; a tick at the turn of the month keeps both readings.
TEST_F(ScreenshotTick, FolderMonthAndFileTimeAreReadSeparately) {
  times_ = {at(2024, 5, 31, 23, 59), at(2024, 6, 1, 0, 0)};
  job_.lesson.processID.clear();
  job_.counter = 17;
  tick();
  EXPECT_TRUE(
      std::filesystem::is_regular_file(job_.dataDir + "/screen_pic/2024-05/张明13812345678/00.00__17.jpg"));
}

TEST_F(ScreenshotTick, ATickThatCannotKeepItsPictureSendsNothingAndSaysWhyWhenTheDiskRefused) {
  const std::string file = "/screen_pic/2024-05/张明13812345678/P77/09.05__2.jpg";
  struct Case {
    const char* what;
    std::string blocker;  // a file where a folder must go
    bool diskFull;        // the file system refuses the picture's bytes
    bool screenWorks;
    std::string reason;  // in the log line; empty: nothing is said
  };
  const std::vector<Case> cases{
      {"screen_pic is a file", "/screen_pic", false, true, "screen_pic"},
      {"the lesson's folder is a file", "/screen_pic/2024-05/张明13812345678/P77", false, true, "P77"},
      {"the file system refuses the bytes", "", true, true, "File too large"},
      {"the screen cannot be captured", "", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(job_.dataDir + "/screen_pic");
    if (!c.blocker.empty()) {
      std::filesystem::create_directories(std::filesystem::path(job_.dataDir + c.blocker).parent_path());
      ASSERT_TRUE(testsupport::writeFile(job_.dataDir + c.blocker, "x"));
    }
    screenWorks_ = c.screenWorks;
    QSignalSpy failed(&taker_, &ScreenshotTaker::uploadFailed);
    QSignalSpy notSaved(&taker_, &ScreenshotTaker::pictureNotSaved);
    // A file-size limit of a few bytes makes every write of the picture fail
    // as on a full disk (a planted link to /dev/full is moved aside, never
    // written through).
    struct rlimit before {};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (c.diskFull) {
      struct rlimit tiny = before;
      tiny.rlim_cur = 16;
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    }
    tick();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousSignal);
    QCoreApplication::processEvents();
    EXPECT_TRUE(pictures().empty());
    EXPECT_TRUE(uploads().empty());
    EXPECT_EQ(taker_.lastScreenshotPath(), "");
    EXPECT_EQ(failed.count(), 0);
    if (c.reason.empty()) {
      EXPECT_EQ(notSaved.count(), 0);
      continue;
    }
    ASSERT_EQ(notSaved.count(), 1);
    const std::string line = text::gbkToUtf8(notSaved.at(0).at(0).value<std::string>());
    EXPECT_EQ(line.rfind("截图无法保存：" + job_.dataDir + "/screen_pic", 0), 0u) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    // A refused write leaves no broken picture behind.
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(job_.dataDir + file)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(job_.dataDir + file + ".part")));
  }
}

// Each tick that cannot keep its picture is logged; the teacher hears once
// per lesson, and again in the next lesson.
TEST_F(ScreenshotTick, ThePictureNotSavedIsToldOncePerLesson) {
  ASSERT_TRUE(testsupport::writeFile(job_.dataDir + "/screen_pic", "x"));
  QSignalSpy notSaved(&taker_, &ScreenshotTaker::pictureNotSaved);
  struct Tick {
    const char* processID;
    int counter;
    bool told;
  };
  // Lesson P77 from its first tick; the next lesson, P78; a lesson resumed
  // under the same id after a login, which starts the counter again.
  const std::vector<Tick> ticks{{"P77", 2, true}, {"P77", 3, false}, {"P77", 4, false},
                                {"P78", 2, true}, {"P78", 3, false}, {"P78", 2, true}};
  for (const Tick& t : ticks) {
    job_.lesson.processID = t.processID;
    job_.counter = t.counter;
    tick();
  }
  ASSERT_EQ(notSaved.count(), static_cast<int>(ticks.size()));
  for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(notSaved.at(i).at(1).toBool(), ticks[i].told) << i;
}

// Every unanswered upload brings the notice, once per tick; the pictures stay.
TEST_F(ScreenshotTick, AnEmptyAnswerIsAFailureEachTime) {
  replies_ = {"", "", "ok"};
  QSignalSpy failed(&taker_, &ScreenshotTaker::uploadFailed);
  QSignalSpy finished(&taker_, &ScreenshotTaker::uploadFinished);
  for (int counter = 2; counter <= 4; ++counter) {
    job_.counter = counter;
    tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == counter - 1; }));
  }
  EXPECT_EQ(failed.count(), 2);
  EXPECT_FALSE(finished.at(1).at(0).toBool());
  EXPECT_TRUE(finished.at(2).at(0).toBool());
  EXPECT_EQ(pictures().size(), 3u);
}

// A tick while the previous upload still runs: the new one goes out at once
// and the old one is stopped at once; its outcome is ignored. A failure
// reports the upload with what it was started with.
TEST_F(ScreenshotTick, ANewTickStopsTheUploadInFlightAndOnlyTheCurrentOneReports) {
  Gate first;
  Gate second;
  gates_ = {&first, &second};
  replies_ = {"ok", ""};
  QSignalSpy failed(&taker_, &ScreenshotTaker::uploadFailed);
  QSignalSpy finished(&taker_, &ScreenshotTaker::uploadFinished);

  tick();
  ASSERT_TRUE(testsupport::waitFor([&] { return uploads().size() == 1; }));
  job_.counter = 3;
  tick();
  // The first upload's gate never opens: only the stop ends it.
  ASSERT_TRUE(testsupport::waitFor([&] { return taker_.uploadsRunning() == 1; }));
  {
    const std::lock_guard lock(mutex_);
    ASSERT_EQ(stopped_.size(), 1u);
    EXPECT_NE(stopped_[0].find("__2.jpg"), std::string::npos);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(finished.count(), 0);
  EXPECT_EQ(failed.count(), 0);

  second.release();
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 1; }));
  EXPECT_FALSE(finished.at(0).at(0).toBool());
  ASSERT_EQ(failed.count(), 1);
  const auto upload = failed.at(0).at(0).value<ScreenshotUpload>();
  EXPECT_EQ(upload.localPath, taker_.lastScreenshotPath());
  EXPECT_NE(upload.localPath.find("__3.jpg"), std::string::npos);
  EXPECT_EQ(upload.url, uploads()[1].url);
  EXPECT_EQ(upload.job.lesson.processID, "P77");
  EXPECT_EQ(upload.job.counter, 3);
  EXPECT_EQ(upload.takenAt.tm_hour, 9);
  EXPECT_EQ(upload.takenAt.tm_min, 5);
  first.release();
}

// A picture goes to the server later instead of now when its lesson is one
// the server does not know yet (no upload at all) or when a later tick
// abandons its upload; a failed upload comes through uploadFailed, a
// delivered one through neither.
TEST_F(ScreenshotTick, PicturesOfAnOfflineLessonOrAnAbandonedUploadWait) {
  QSignalSpy waits(&taker_, &ScreenshotTaker::pictureWaits);
  QSignalSpy failed(&taker_, &ScreenshotTaker::uploadFailed);
  QSignalSpy finished(&taker_, &ScreenshotTaker::uploadFinished);

  job_.keepForLater = true;
  tick();
  ASSERT_EQ(waits.count(), 1);
  EXPECT_TRUE(uploads().empty());
  const auto kept = waits.at(0).at(0).value<ScreenshotUpload>();
  EXPECT_EQ(kept.localPath, taker_.lastScreenshotPath());
  EXPECT_EQ(kept.takenAt.tm_hour, 9);
  EXPECT_EQ(kept.takenAt.tm_min, 5);
  EXPECT_EQ(kept.job.lesson.processID, "P77");

  job_.keepForLater = false;
  Gate stalled;
  gates_ = {&stalled};
  replies_ = {"", "", "ok"};
  job_.counter = 3;
  tick();  // stalls, then is abandoned
  ASSERT_TRUE(testsupport::waitFor([&] { return uploads().size() == 1; }));
  job_.counter = 4;
  tick();  // abandons the one before; gets no answer itself
  ASSERT_EQ(waits.count(), 2);
  EXPECT_NE(waits.at(1).at(0).value<ScreenshotUpload>().localPath.find("__3.jpg"), std::string::npos);
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 1; }));
  ASSERT_EQ(failed.count(), 1);
  EXPECT_NE(failed.at(0).at(0).value<ScreenshotUpload>().localPath.find("__4.jpg"), std::string::npos);
  job_.counter = 5;
  tick();  // delivered
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 2; }));
  EXPECT_EQ(waits.count(), 2);
  EXPECT_EQ(failed.count(), 1);
}

// A wall clock set back two hours during a lesson: the next picture is
// dated the earlier one's time plus the time truly passed, so that neither
// its name nor its shot time comes before the earlier picture's. A new
// lesson takes the clock as it is.
TEST_F(ScreenshotTick, AClockSetBackNeverDatesALaterPictureBeforeAnEarlierOne) {
  QSignalSpy waits(&taker_, &ScreenshotTaker::pictureWaits);
  job_.keepForLater = true;
  // Each tick reads the clock twice: the folder's month, the picture's time.
  times_ = {at(2024, 5, 20, 14, 5), at(2024, 5, 20, 14, 5), at(2024, 5, 20, 12, 6), at(2024, 5, 20, 12, 6)};
  tick();
  job_.counter = 3;
  tick();
  ASSERT_EQ(waits.count(), 2);
  const auto second = waits.at(1).at(0).value<ScreenshotUpload>();
  EXPECT_NE(second.localPath.find("/14.05__3.jpg"), std::string::npos) << second.localPath;
  EXPECT_EQ(second.takenAt.tm_hour, 14);
  EXPECT_EQ(second.takenAt.tm_min, 5);

  job_.lesson.processID = "P78";
  job_.counter = 2;
  tick();
  ASSERT_EQ(waits.count(), 3);
  EXPECT_NE(waits.at(2).at(0).value<ScreenshotUpload>().localPath.find("/P78/12.06__2.jpg"),
            std::string::npos);
}

// Each picture is recorded once it is whole on disk and before its post
// starts, and its record is settled only by the post's end: delivered on
// an answer, waiting again on none, on a later tick or on the client's stop.
TEST_F(ScreenshotTick, EachPictureIsRecordedBeforeItsPostAndSettledByItsEnd) {
  struct Recorded {
    std::string localPath;
    bool posting, fileWhole;
    size_t postsBefore;
  };
  std::vector<Recorded> recorded;
  std::vector<std::pair<long long, bool>> settled;
  ScreenshotTaker::Records records;
  records.record = [&](const ScreenshotUpload& picture, bool posting) {
    recorded.push_back({picture.localPath, posting, pictures::isWholeJpeg(text::gbkToUtf8(picture.localPath)),
                        uploads().size()});
    return static_cast<long long>(recorded.size());
  };
  records.settle = [&](long long id, bool delivered) { settled.emplace_back(id, delivered); };
  taker_.setRecords(records);
  QSignalSpy finished(&taker_, &ScreenshotTaker::uploadFinished);
  QSignalSpy waits(&taker_, &ScreenshotTaker::pictureWaits);

  replies_ = {"ok", ""};
  tick();
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 1; }));
  job_.counter = 3;
  tick();
  ASSERT_TRUE(testsupport::waitFor([&] { return finished.count() == 2; }));
  job_.counter = 4;
  job_.keepForLater = true;
  tick();
  job_.keepForLater = false;
  Gate stalled;
  gates_ = {&stalled};
  job_.counter = 5;
  tick();
  ASSERT_TRUE(testsupport::waitFor([&] { return uploads().size() == 3; }));
  EXPECT_TRUE(taker_.abandonUpload());
  EXPECT_FALSE(taker_.abandonUpload());
  ASSERT_TRUE(testsupport::waitFor([&] { return taker_.uploadsRunning() == 0; }));

  ASSERT_EQ(recorded.size(), 4u);
  const size_t postsBefore[] = {0, 1, 2, 2};
  for (size_t i = 0; i < recorded.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(recorded[i].fileWhole);
    EXPECT_EQ(recorded[i].posting, i != 2);
    EXPECT_EQ(recorded[i].postsBefore, postsBefore[i]);
  }
  EXPECT_EQ(settled, (std::vector<std::pair<long long, bool>>{{1, true}, {2, false}, {4, false}}));
  ASSERT_EQ(waits.count(), 2);
  EXPECT_EQ(waits.at(1).at(0).value<ScreenshotUpload>().recordId, 4);
  EXPECT_EQ(finished.count(), 2);
}

// A capture that fails or shows one colour only (what a Wayland desktop read
// through X11 gives) is no lesson picture: nothing is kept or sent, every
// tick is logged with the capture's way and the session, and the teacher
// hears once per lesson.
TEST_F(ScreenshotTick, ABlankOrFailedCaptureIsNeverKeptOrSentAndIsToldOncePerLesson) {
  taker_.setCaptureDescription("Screenshot portal", "wayland");
  QSignalSpy refused(&taker_, &ScreenshotTaker::pictureNotCaptured);
  struct Tick {
    const char* what;
    int fill;  // every byte of the screen; -1: the capture fails
    const char* processID;
    int counter;
    bool told;
  };
  const std::vector<Tick> ticks{
      {"all black", 0x00, "P77", 2, true},           {"all white", 0xFF, "P77", 3, false},
      {"no capture", -1, "P77", 4, false},           {"next lesson, no capture", -1, "P78", 2, true},
      {"next lesson, black", 0x00, "P78", 3, false},
  };
  for (const Tick& t : ticks) {
    SCOPED_TRACE(t.what);
    screenWorks_ = t.fill >= 0;
    if (t.fill >= 0) std::fill(pixels_.begin(), pixels_.end(), static_cast<unsigned char>(t.fill));
    job_.lesson.processID = t.processID;
    job_.counter = t.counter;
    tick();
  }
  EXPECT_TRUE(pictures().empty());
  EXPECT_TRUE(uploads().empty());
  EXPECT_EQ(taker_.lastScreenshotPath(), "");
  EXPECT_EQ(taker_.capturesRefused(), static_cast<int>(ticks.size()));
  ASSERT_EQ(refused.count(), static_cast<int>(ticks.size()));
  for (size_t i = 0; i < ticks.size(); ++i) {
    const std::string line = text::gbkToUtf8(refused.at(i).at(0).value<std::string>());
    EXPECT_EQ(line.rfind(ticks[i].fill >= 0 ? "截图全黑：" : "截图失败：", 0), 0u) << line;
    EXPECT_NE(line.find("Screenshot portal"), std::string::npos) << line;
    EXPECT_NE(line.find("wayland"), std::string::npos) << line;
    EXPECT_EQ(refused.at(i).at(1).toBool(), ticks[i].told) << ticks[i].what;
  }

  // One pixel of another colour makes a picture again.
  pixels_[40 * 4 * 15 + 80] = 0x10;
  screenWorks_ = true;
  job_.counter = 4;
  tick();
  EXPECT_EQ(pictures().size(), 1u);
}

// A stalled upload may still be running when the status window goes away;
// it ends quietly, with no taker to report to.
TEST(ScreenshotTaker, AnUploadOutlivingItsTakerReportsNowhere) {
  QTemporaryDir dir;
  std::vector<unsigned char> pixels(8 * 8 * 3, 0);
  pixels[0] = 255;
  struct Shared {
    Gate gate;
    std::atomic<bool> done{false};
  };
  const auto shared = std::make_shared<Shared>();
  {
    ScreenshotTaker taker;
    taker.setFrameSource([&](platform::ScreenFrame& frame) {
      frame = {8, 8, platform::PixelLayout::Rgb, pixels.data()};
      return true;
    });
    taker.setUploader([shared](const std::string&, const std::string&, std::stop_token) {
      shared->gate.wait();
      shared->done = true;
      return std::string();
    });
    ScreenshotJob job;
    job.dataDir = dir.path().toStdString();
    QSignalSpy ended(&taker, &ScreenshotTaker::tickEnded);
    taker.tick(job);
    ASSERT_TRUE(testsupport::waitFor([&] { return ended.count() == 1; }));
    ASSERT_EQ(taker.uploadsRunning(), 1);
  }
  shared->gate.release();
  ASSERT_TRUE(testsupport::waitFor([&] { return shared->done.load(); }));
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
}

}  // namespace
