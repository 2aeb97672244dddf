// A damaged edu.db at start-up or mid-run: moved aside and kept, replaced by
// a clean copy (the program folder's, or one made from the built-in tables),
// with the address and what waits for the server carried over as far as
// SQLite can read them. A sound file, a missing one and a locked one are
// left alone.
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <filesystem>

#include "store/database_check.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

using storetest::Rows;

// The data folder's edu.db and a separate program folder with a clean one.
class DatabaseCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = folder_.path().toStdString() + "/data";
    program_ = folder_.path().toStdString() + "/program";
    QDir().mkpath(QString::fromStdString(data_));
    QDir().mkpath(QString::fromStdString(program_));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testsupport::programDir() + "/edu.db"),
                            QString::fromStdString(program_ + "/edu.db")));
  }
  void TearDown() override { DB_Func::LocateDatabaseIn(folder_.path().toStdString() + "/none"); }

  std::string database() const { return data_ + "/edu.db"; }

  // A sound edu.db with a stored address, a waiting lesson with a picture
  // and a fault report, then `damage` applied to its bytes.
  void makeDatabase(const std::function<void(std::string&)>& damage) {
    ASSERT_TRUE(
        QFile::copy(QString::fromStdString(program_ + "/edu.db"), QString::fromStdString(database())));
    QFile::setPermissions(QString::fromStdString(database()), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(data_));
    DB_Func::EnsureOwnTables();
    DB_Func::StoreServerUrl("10.1.2.3:8080/edu");
    DB_Func::LessonRecord lesson;
    lesson.localId = "offline-20261210090500";
    lesson.beginTime = "2026-12-10 09:05:00";
    DB_Func::ShotRecord shot;
    shot.filePath = "a.jpg";
    shot.shotTime = "2026-12-10 09:06:00";
    DB_Func::AddPendingShot(DB_Func::AddOfflineLesson(lesson), shot);
    DB_Func::RepairRecord report;
    report.faultDetail = "x";
    DB_Func::AddRepairReport(report, DB_Func::kPending);
    std::string bytes = testsupport::readFile(database());
    damage(bytes);
    ASSERT_TRUE(testsupport::writeFile(database(), bytes));
  }

  // Where an index or table begins in the file (4096-byte pages).
  size_t rootPage(const char* name) const {
    sqlite3* db = nullptr;
    sqlite3_open(database().c_str(), &db);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = ?", -1, &query, nullptr);
    sqlite3_bind_text(query, 1, name, -1, SQLITE_STATIC);
    const size_t page =
        sqlite3_step(query) == SQLITE_ROW ? static_cast<size_t>(sqlite3_column_int(query, 0)) : 0;
    sqlite3_finalize(query);
    sqlite3_close(db);
    return page;
  }

  std::vector<std::string> keptAside() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(data_))
      if (entry.path().filename().string().rfind("edu.db.damaged-", 0) == 0)
        found.push_back(entry.path().filename().string());
    return found;
  }

  QTemporaryDir folder_;
  std::string data_, program_;
};

TEST_F(DatabaseCheckTest, ADamagedFileIsKeptAsideReplacedAndItsOwnRowsRescued) {
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    bool rowsRescued;
  } cases[] = {
      {"not a database at all", [](std::string& b) { b.assign(b.size(), 'x'); }, false},
      {"cut to nothing", [](std::string& b) { b.clear(); }, false},
      {"cut to its first page", [](std::string& b) { b.resize(4096); }, false},
      // An index's page torn apart: the tables themselves stay readable.
      {"a torn index page",
       [this](std::string& b) {
         const size_t page = rootPage("t_teacher_school");
         ASSERT_GT(page, 1u);
         std::fill(b.begin() + static_cast<long>((page - 1) * 4096),
                   b.begin() + static_cast<long>(page * 4096), '\xff');
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : std::filesystem::directory_iterator(data_))
      std::filesystem::remove(entry.path());
    makeDatabase(c.damage);
    const std::string damagedBytes = testsupport::readFile(database());

    const DB_Func::DatabaseCheck check = DB_Func::CheckDatabase(data_, program_);
    EXPECT_TRUE(check.damaged);
    ASSERT_TRUE(check.replaced) << check.note;
    ASSERT_EQ(keptAside().size(), 1u);
    EXPECT_EQ(testsupport::readFile(check.keptAs), damagedBytes);
    EXPECT_NE(check.note.find(check.keptAs), std::string::npos) << check.note;

    // The clean copy works: the client keeps and finds records in it.
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(data_));
    DB_Func::EnsureOwnTables();
    EXPECT_EQ(DB_Func::QueryGrades("1001").rowCount(), 0u);
    const DB_Func::PendingCounts before = DB_Func::CountPending();
    if (c.rowsRescued) {
      EXPECT_EQ(DB_Func::ReadLoginInfo().text("http_url"), "10.1.2.3:8080/edu");
      EXPECT_EQ(before.lessons, 1);
      EXPECT_EQ(before.repairs, 1);
      EXPECT_EQ(DB_Func::NextPendingItem().row.text("local_id"), "offline-20261210090500");
    } else {
      EXPECT_EQ(DB_Func::ReadLoginInfo().rowCount(), 0u);
      EXPECT_FALSE(before.any());
    }
    DB_Func::AddOfflineLesson(DB_Func::LessonRecord{});
    EXPECT_EQ(DB_Func::CountPending().lessons, before.lessons + 1);

    // Checked again, the new file is sound and stays.
    EXPECT_FALSE(DB_Func::CheckDatabase(data_, program_).damaged);
    EXPECT_EQ(keptAside().size(), 1u);
  }
}

// A writable program folder is the data folder: the damaged file is its own
// clean copy, so a new one is made from the tables the client carries.
TEST_F(DatabaseCheckTest, WithoutAnotherCleanCopyANewOneIsMade) {
  makeDatabase([](std::string& b) { b.assign(b.size(), 'x'); });
  const DB_Func::DatabaseCheck check = DB_Func::CheckDatabase(data_, data_);
  ASSERT_TRUE(check.replaced) << check.note;
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(data_));
  EXPECT_EQ(DB_Func::CountCachedRows().size(), 10u);
  DB_Func::StoreServerUrl("10.0.0.1");
  EXPECT_EQ(DB_Func::ReadLoginInfo().text("http_url"), "10.0.0.1");
}

// An edu.db that is a link to a file elsewhere is not written through: it
// is moved aside and a clean copy begun; the file it pointed at stays as it was.
TEST_F(DatabaseCheckTest, ALinkInEduDbsPlaceIsMovedAsideAndNeverWrittenThrough) {
  const std::string elsewhere = folder_.path().toStdString() + "/elsewhere.db";
  ASSERT_TRUE(QFile::copy(QString::fromStdString(program_ + "/edu.db"), QString::fromStdString(elsewhere)));
  const std::string bytes = testsupport::readFile(elsewhere);
  std::filesystem::create_symlink(elsewhere, database());
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(data_));
  EXPECT_THROW(DB_Func::StoreServerUrl("10.0.0.9"), DB_Func::DbError);

  const DB_Func::DatabaseCheck check = DB_Func::CheckDatabase(data_, program_);
  ASSERT_TRUE(check.replaced) << check.note;
  EXPECT_NE(check.keptAs.find("edu.db.unsafe-"), std::string::npos) << check.keptAs;
  EXPECT_TRUE(std::filesystem::is_symlink(check.keptAs));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(database())));
  ASSERT_TRUE(DB_Func::LocateDatabaseIn(data_));
  DB_Func::StoreServerUrl("10.0.0.9");
  EXPECT_EQ(testsupport::readFile(elsewhere), bytes);
}

TEST_F(DatabaseCheckTest, ASoundLockedOrMissingFileIsLeftAlone) {
  EXPECT_FALSE(DB_Func::CheckDatabase(data_, program_).damaged);  // none there
  makeDatabase([](std::string&) {});
  const std::string bytes = testsupport::readFile(database());
  EXPECT_FALSE(DB_Func::CheckDatabase(data_, program_).damaged);

  // Another program holds a write lock: busy is not damage.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(database().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(DB_Func::CheckDatabase(data_, program_).damaged);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(keptAside().empty());
  EXPECT_EQ(testsupport::readFile(database()), bytes);
}

}  // namespace
