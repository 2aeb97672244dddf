// What happens when edu.db fails inside a window's handler while the client
// runs: the handler is delivered by Qt's event loop (no application object of
// our own), stops at the guard, and the next event is handled as usual. A
// file found damaged is replaced without a box (logged, the damaged one
// kept); a disk without room (a small tmpfs, filled) gets the teacher's one
// plain message and a log line with the path and the free space.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <fstream>

#include "platform/disk_space.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "tests/support/test_support.h"
#include "ui/event_guard.h"

namespace {

// Delivers `handler` to `window` through the event loop, guarded as the
// windows guard theirs, and waits for it and for the box it may open; gives
// the box's text (empty when none came) and closes the box.
std::string deliverGuarded(QWidget& window, const std::function<void()>& handler) {
  bool ran = false;
  QTimer::singleShot(0, &window, ui::guarded(&window, [&] {
                       ran = true;
                       handler();
                     }));
  const QDeadlineTimer deadline(5000);
  while (!ran && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(ran);
  auto* box = window.findChild<QMessageBox*>("database_notice");
  if (box == nullptr) return "";
  const std::string text = box->text().toStdString();
  EXPECT_TRUE(box->isVisible());
  box->close();
  QApplication::processEvents();
  return text;
}

class DatabaseGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = folder_.path().toStdString() + "/data";
    QDir().mkpath(QString::fromStdString(data_));
  }
  void TearDown() override {
    ui::setDatabaseGuard({});
    DB_Func::LocateDatabaseIn(folder_.path().toStdString() + "/none");
    if (mounted_) QProcess::execute("umount", {QString::fromStdString(data_)});
  }

  void placeDatabase() {
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testsupport::programDir() + "/edu.db"),
                            QString::fromStdString(data_ + "/edu.db")));
    QFile::setPermissions(QString::fromStdString(data_ + "/edu.db"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(data_));
    DB_Func::EnsureOwnTables();
  }

  void guardWithLog() {
    ui::setDatabaseGuard({[this](const std::string& line) { log_.push_back(line); },
                          [this] { return DB_Func::CheckDatabase(data_, testsupport::programDir()); },
                          [this] { return platform::freeSpaceText(data_); }});
  }

  bool logHas(const std::string& text) const {
    for (const std::string& line : log_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  QTemporaryDir folder_;
  QWidget window_;
  std::string data_;
  bool mounted_ = false;
  std::vector<std::string> log_;
};

TEST_F(DatabaseGuardTest, AFileDamagedWhileRunningIsReplacedWithoutABox) {
  placeDatabase();
  guardWithLog();
  DB_Func::AddOfflineLesson(DB_Func::LessonRecord{});
  ASSERT_TRUE(testsupport::writeFile(data_ + "/edu.db", std::string(200000, 'x')));

  bool finished = false;
  const std::string shown = deliverGuarded(window_, [&] {
    DB_Func::CountPending();
    finished = true;
  });
  EXPECT_FALSE(finished);
  EXPECT_EQ(shown, "");
  EXPECT_TRUE(logHas("edu.db: damaged")) << (log_.empty() ? "" : log_.back());
  EXPECT_EQ(QDir(QString::fromStdString(data_)).entryList({"edu.db.damaged-*"}, QDir::Files).size(), 1);
  // The next event finds a working edu.db.
  int waiting = -1;
  EXPECT_EQ(deliverGuarded(window_,
                           [&] {
                             DB_Func::AddOfflineLesson(DB_Func::LessonRecord{});
                             waiting = DB_Func::CountPending().lessons;
                           }),
            "");
  EXPECT_EQ(waiting, 1);
}

TEST_F(DatabaseGuardTest, AFullDiskGetsOnePlainMessageAndALogLineWithTheFreeSpace) {
  if (::geteuid() != 0) SKIP_WITHOUT_TOOL("mounting a small tmpfs needs root");
  ASSERT_EQ(
      QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", QString::fromStdString(data_)}),
      0);
  mounted_ = true;
  placeDatabase();
  guardWithLog();
  {
    // Every byte left taken.
    std::ofstream filler(data_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
  }
  ASSERT_EQ(platform::freeBytes(data_).value_or(1), 0u);

  const auto writeALesson = [] {
    DB_Func::LessonRecord lesson;
    lesson.beginTime = std::string(20000, '9');
    DB_Func::AddOfflineLesson(lesson);
  };
  EXPECT_EQ(deliverGuarded(window_, writeALesson), ui::kDiskFullMessage);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].find(data_ + "/edu.db"), std::string::npos) << log_[0];
  EXPECT_NE(log_[0].find("0 MiB (0 bytes) free on " + data_), std::string::npos) << log_[0];
  // Nothing was replaced: a full disk is no damage.
  EXPECT_TRUE(QDir(QString::fromStdString(data_)).entryList({"edu.db.damaged-*"}, QDir::Files).isEmpty());
  // The client goes on: the next event reads edu.db as before, and the same
  // failure again gives the same box.
  bool read = false;
  EXPECT_EQ(deliverGuarded(window_,
                           [&] {
                             DB_Func::CountPending();
                             read = true;
                           }),
            "");
  EXPECT_TRUE(read);
  EXPECT_EQ(deliverGuarded(window_, writeALesson), ui::kDiskFullMessage);
  EXPECT_EQ(log_.size(), 2u);
  // A failing timer does not stack boxes: while one is open, the next
  // failures go to the log only.
  QTimer ticks;
  ticks.setInterval(5);
  int tickCount = 0;
  QObject::connect(&ticks, &QTimer::timeout, &window_, ui::guarded(&window_, [&] {
    ++tickCount;
    writeALesson();
  }));
  ticks.start();
  const QDeadlineTimer deadline(5000);
  while (tickCount < 3 && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ticks.stop();
  EXPECT_GE(tickCount, 3);
  EXPECT_EQ(window_.findChildren<QMessageBox*>("database_notice").size(), 1);
  EXPECT_EQ(log_.size(), 2u + static_cast<size_t>(tickCount));
}

}  // namespace
