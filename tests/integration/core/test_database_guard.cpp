// What the event guard does with a failing edu.db while the client runs: a
// file found damaged is replaced without a box (logged, the damaged one
// kept), and a disk without room (a small tmpfs, filled) gets the teacher's
// one plain message and a log line with the path and the free space.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "core/edu_application.h"
#include "platform/disk_space.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "tests/support/test_support.h"

namespace {

// Runs `action`, answering any message box it opens; gives the box's text.
std::string answerMessageBox(const std::function<void()>& action) {
  std::string shown;
  QTimer watcher;
  watcher.setInterval(10);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text().toStdString();
      box->accept();
    }
  });
  watcher.start();
  action();
  return shown;
}

class DatabaseGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = folder_.path().toStdString() + "/data";
    QDir().mkpath(QString::fromStdString(data_));
  }
  void TearDown() override {
    setDatabaseGuard({});
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
    setDatabaseGuard({[this](const std::string& line) { log_.push_back(line); },
                      [this] { return DB_Func::CheckDatabase(data_, testsupport::programDir()); },
                      [this] { return platform::freeSpaceText(data_); }});
  }

  bool logHas(const std::string& text) const {
    for (const std::string& line : log_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  QTemporaryDir folder_;
  std::string data_;
  bool mounted_ = false;
  std::vector<std::string> log_;
};

TEST_F(DatabaseGuardTest, AFileDamagedWhileRunningIsReplacedWithoutABox) {
  placeDatabase();
  guardWithLog();
  DB_Func::AddOfflineLesson(DB_Func::LessonRecord{});
  ASSERT_TRUE(testsupport::writeFile(data_ + "/edu.db", std::string(200000, 'x')));

  bool handled = true;
  const std::string shown = answerMessageBox(
      [&] { handled = dispatchShowingDbErrors([] { return DB_Func::CountPending().any(); }); });
  EXPECT_FALSE(handled);
  EXPECT_EQ(shown, "");
  EXPECT_TRUE(logHas("edu.db: damaged")) << (log_.empty() ? "" : log_.back());
  EXPECT_EQ(QDir(QString::fromStdString(data_)).entryList({"edu.db.damaged-*"}, QDir::Files).size(), 1);
  // The next event finds a working edu.db.
  EXPECT_FALSE(DB_Func::CountPending().any());
  DB_Func::AddOfflineLesson(DB_Func::LessonRecord{});
  EXPECT_EQ(DB_Func::CountPending().lessons, 1);
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

  const std::string shown = answerMessageBox([&] {
    dispatchShowingDbErrors([] {
      DB_Func::LessonRecord lesson;
      lesson.beginTime = std::string(20000, '9');
      DB_Func::AddOfflineLesson(lesson);
      return true;
    });
  });
  EXPECT_EQ(shown, kDiskFullMessage);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].find(data_ + "/edu.db"), std::string::npos) << log_[0];
  EXPECT_NE(log_[0].find("0 MiB (0 bytes) free on " + data_), std::string::npos) << log_[0];
  // Nothing was replaced: a full disk is no damage.
  EXPECT_TRUE(QDir(QString::fromStdString(data_)).entryList({"edu.db.damaged-*"}, QDir::Files).isEmpty());
}

}  // namespace
