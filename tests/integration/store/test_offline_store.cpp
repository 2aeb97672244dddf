// The client's own tables in a real edu.db: created when an older edu.db
// lacks them without touching the server's tables, and the pending records
// they keep, in the order they go out.
#include <algorithm>

#include "store/offline_store.h"
#include "sys/text_codec.h"
#include "tests/integration/store/edu_db_fixture.h"

namespace {

using storetest::EduDb;
using storetest::Rows;

using text::gbk;

DB_Func::LessonRecord lesson(const std::string& localId, const std::string& beginTime) {
  DB_Func::LessonRecord l;
  l.localId = localId;
  l.teacherID = "2001";
  l.teacherName = gbk("张伟");
  l.teacherPhone = "13810012001";
  l.schoolID = "1001";
  l.gradeID = "3001";
  l.gradeName = gbk("一年级");
  l.classID = "4001";
  l.className = gbk("一年级（1）班");
  l.subjectID = "5002";
  l.subjectName = gbk("数学");
  l.deviceID = "DISK-1";
  l.beginTime = beginTime;
  return l;
}

DB_Func::ShotRecord shot(const std::string& file, const std::string& time) {
  DB_Func::ShotRecord s;
  s.filePath = file;
  s.shotTime = time;
  s.schoolID = "1001";
  s.teacherID = "2001";
  return s;
}

DB_Func::RepairRecord report(const std::string& detail, const std::string& time) {
  DB_Func::RepairRecord r;
  r.schoolID = "1001";
  r.teacherID = "2001";
  r.teacherName = gbk("张伟");
  r.gradeName = gbk("一年级");
  r.className = gbk("一年级（1）班");
  r.faultDetail = detail;
  r.reportTime = time;
  return r;
}

TEST(OwnTables, AreCreatedInAnOlderEduDbAndLeaveTheServersTablesAsTheyWere) {
  EduDb db;  // the reference tables only, with a row in one of them
  db.exec("INSERT INTO t_grade VALUES ('g', '3001', 'grade ', '1001')");
  const Rows before = db.rows("SELECT name, sql FROM sqlite_master ORDER BY name");

  DB_Func::EnsureOwnTables();
  DB_Func::EnsureOwnTables();  // a second start finds them and changes nothing
  const Rows after = db.rows("SELECT name, sql FROM sqlite_master ORDER BY name");
  for (const auto& table : before) {
    EXPECT_NE(std::find(after.begin(), after.end(), table), after.end()) << table[0] << " changed";
  }
  for (const char* own : {"t_offline_lesson", "t_offline_shot", "t_repair_report"}) {
    EXPECT_EQ(
        db.rows(std::string("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='") + own + "'"),
        Rows{{"1"}})
        << own;
  }
  EXPECT_EQ(db.rows("SELECT grade_id FROM t_grade"), Rows{{"3001"}});

  // Kept rows survive the next start.
  DB_Func::AddRepairReport(report("x", "2026-12-10 09:00:00"), DB_Func::kPending);
  DB_Func::EnsureOwnTables();
  EXPECT_EQ(DB_Func::CountPending().repairs, 1);
}

// Tables made before the items kept their own retry times get the columns,
// and their rows start with none.
TEST(OwnTables, AnOlderOwnTableGetsTheRetryColumnsAndKeepsItsRows) {
  EduDb db;
  db.exec(testsupport::readFile(testsupport::sourcePath("store/own_schema.sql")));
  db.exec(
      "INSERT INTO t_repair_report(school_id, grade_id, grade_name, class_id, class_name, teacher_id, "
      "teacher_name, tel, fault_detail, report_time, state, queued_at) "
      "VALUES ('1001','','','','','','','','old','2026-12-10 08:00:00','pending',1)");
  DB_Func::EnsureOwnTables();
  DB_Func::EnsureOwnTables();
  EXPECT_EQ(
      db.rows("SELECT fault_detail, attempts, next_try_at, refusals, first_refused_at FROM t_repair_report"),
      (Rows{{"old", "0", "0", "0", "0"}}));
  for (const char* table : {"t_offline_lesson", "t_offline_shot"})
    EXPECT_EQ(db.rows(std::string("SELECT count(*) FROM pragma_table_info('") + table +
                      "') WHERE name IN ('attempts','next_try_at','refusals','first_refused_at')"),
              Rows{{"4"}})
        << table;
}

// A report whose live request a shutdown cut off is pending at the next
// start, also when it is the only one.
TEST(OwnTables, AReportLeftSendingIsPendingAtTheNextStart) {
  EduDb db;
  DB_Func::EnsureOwnTables();
  DB_Func::AddRepairReport(report("x", "2026-12-10 09:00:00"), DB_Func::kSending);
  EXPECT_EQ(DB_Func::CountPending().repairs, 0);
  DB_Func::EnsureOwnTables();
  EXPECT_EQ(DB_Func::CountPending().repairs, 1);
}

class PendingStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { DB_Func::EnsureOwnTables(); }
  EduDb db;
};

TEST_F(PendingStoreTest, OfflineLessonGoesFirstThenItsPicturesThenTheReport) {
  const long long lessonRow =
      DB_Func::AddOfflineLesson(lesson("offline-20261210090500", "2026-12-10 09:05:00"));
  EXPECT_EQ(DB_Func::LessonRowFor("offline-20261210090500", {}), lessonRow);
  const std::string picture =
      gbk("/data/screen_pic/2026-12/张伟13810012001/offline-20261210090500/09.06__2.jpg");
  DB_Func::AddPendingShot(lessonRow, shot(picture, "2026-12-10 09:06:00"));
  DB_Func::AddPendingShot(lessonRow, shot("b.jpg", "2026-12-10 09:07:00"));
  DB_Func::AddRepairReport(report(gbk("投影仪不亮\r\n"), "2026-12-10 09:08:00"), DB_Func::kPending);
  EXPECT_EQ(DB_Func::CountPending().lessons, 1);
  EXPECT_EQ(DB_Func::CountPending().shots, 2);
  EXPECT_EQ(DB_Func::CountPending().repairs, 1);

  // The pictures wait for the lesson's server id.
  DB_Func::PendingItem item = DB_Func::NextPendingItem();
  ASSERT_EQ(item.kind, DB_Func::PendingItem::Kind::Lesson);
  EXPECT_EQ(item.id, lessonRow);
  EXPECT_EQ(item.row.text("begin_time"), "2026-12-10 09:05:00");
  EXPECT_EQ(item.row.text("class_name"), gbk("一年级（1）班"));
  DB_Func::LessonDelivered(item.id, "70001");

  item = DB_Func::NextPendingItem();
  ASSERT_EQ(item.kind, DB_Func::PendingItem::Kind::Shot);
  EXPECT_EQ(item.row.text("file_path"), picture);
  EXPECT_EQ(item.row.text("process_id"), "70001");
  EXPECT_EQ(item.row.text("shot_time"), "2026-12-10 09:06:00");
  DB_Func::ShotAnswered(item.id, DB_Func::kDelivered);
  item = DB_Func::NextPendingItem();
  ASSERT_EQ(item.kind, DB_Func::PendingItem::Kind::Shot);
  EXPECT_EQ(item.row.text("file_path"), "b.jpg");
  DB_Func::ShotAnswered(item.id, DB_Func::kRefused);

  item = DB_Func::NextPendingItem();
  ASSERT_EQ(item.kind, DB_Func::PendingItem::Kind::Repair);
  EXPECT_EQ(item.row.text("fault_detail"), gbk("投影仪不亮"));  // row sets trim
  DB_Func::RepairAnswered(item.id, DB_Func::kDelivered);
  EXPECT_EQ(DB_Func::NextPendingItem().kind, DB_Func::PendingItem::Kind::None);
  EXPECT_FALSE(DB_Func::CountPending().any());
  // Nothing is deleted: each item keeps its outcome.
  EXPECT_EQ(db.rows("SELECT state FROM t_offline_shot ORDER BY id"), (Rows{{"delivered"}, {"refused"}}));
  EXPECT_EQ(db.rows("SELECT state, process_id FROM t_offline_lesson"), (Rows{{"delivered", "70001"}}));
}

TEST_F(PendingStoreTest, RefusedLessonTakesItsWaitingPicturesWithIt) {
  const long long refused =
      DB_Func::AddOfflineLesson(lesson("offline-20261210090500", "2026-12-10 09:05:00"));
  // Two pictures, so that the lesson's row id is not every picture's.
  DB_Func::AddPendingShot(refused, shot("a.jpg", "2026-12-10 09:06:00"));
  DB_Func::AddPendingShot(refused, shot("b.jpg", "2026-12-10 09:07:00"));
  // A picture of an online lesson whose upload failed can go at once.
  const long long online = DB_Func::LessonRowFor("70005", lesson("", "2026-12-10 10:00:00"));
  EXPECT_EQ(DB_Func::LessonRowFor("70005", {}), online);
  DB_Func::AddPendingShot(online, shot("c.jpg", "2026-12-10 10:01:00"));

  ASSERT_EQ(DB_Func::NextPendingItem().id, refused);
  DB_Func::LessonRefused(refused);
  const DB_Func::PendingItem item = DB_Func::NextPendingItem();
  ASSERT_EQ(item.kind, DB_Func::PendingItem::Kind::Shot);
  EXPECT_EQ(item.row.text("file_path"), "c.jpg");
  EXPECT_EQ(item.row.text("process_id"), "70005");
  EXPECT_EQ(db.rows("SELECT file_path, state FROM t_offline_shot ORDER BY id"),
            (Rows{{"a.jpg", "refused"}, {"b.jpg", "refused"}, {"c.jpg", "pending"}}));
  // An offline id that names no stored lesson has no row.
  EXPECT_EQ(DB_Func::LessonRowFor("offline-20991231235959", {}), 0);
}

TEST_F(PendingStoreTest, WaitsDoubleFromAMinuteToHalfAnHour) {
  const struct {
    int answers;
    long long waitMs;
  } cases[] = {{1, 60'000}, {2, 120'000}, {3, 240'000}, {5, 960'000}, {6, 1'800'000}, {60, 1'800'000}};
  for (const auto& c : cases) EXPECT_EQ(DB_Func::WaitAfterAnswers(c.answers), c.waitMs) << c.answers;
}

// An item the server answered without taking it waits its own time; the
// ones behind it go meanwhile. One without an answer goes behind the rest.
TEST_F(PendingStoreTest, AnItemNotTakenWaitsWhileTheOnesBehindItGo) {
  constexpr long long t0 = 1'800'000'000'000;
  const long long head = DB_Func::AddOfflineLesson(lesson("offline-20261210090500", "2026-12-10 09:05:00"));
  DB_Func::AddRepairReport(report("r1", "2026-12-10 09:06:00"), DB_Func::kPending);
  DB_Func::AddRepairReport(report("r2", "2026-12-10 09:07:00"), DB_Func::kPending);

  DB_Func::PendingItem item = DB_Func::NextPendingItem(t0);
  ASSERT_EQ(item.id, head);
  DB_Func::ItemNotTaken(item, t0);
  item = DB_Func::NextPendingItem(t0);
  ASSERT_EQ(item.kind, DB_Func::PendingItem::Kind::Repair);
  EXPECT_EQ(item.row.text("fault_detail"), "r1");
  // Without an answer it keeps its place, until the third time.
  for (int n = 1; n <= 2; ++n) {
    DB_Func::ItemUnanswered(item, t0);
    EXPECT_EQ(DB_Func::NextPendingItem(t0).row.text("fault_detail"), "r1");
  }
  DB_Func::ItemUnanswered(item, t0);
  item = DB_Func::NextPendingItem(t0);
  EXPECT_EQ(item.row.text("fault_detail"), "r2");  // r1 went behind it
  DB_Func::RepairAnswered(item.id, DB_Func::kDelivered);
  item = DB_Func::NextPendingItem(t0);
  EXPECT_EQ(item.row.text("fault_detail"), "r1");
  DB_Func::RepairAnswered(item.id, DB_Func::kDelivered);

  // The lesson after its minute, then after two more.
  EXPECT_EQ(DB_Func::NextPendingItem(t0 + 59'999).kind, DB_Func::PendingItem::Kind::None);
  item = DB_Func::NextPendingItem(t0 + 60'000);
  ASSERT_EQ(item.id, head);
  DB_Func::ItemNotTaken(item, t0 + 60'000);
  EXPECT_EQ(DB_Func::NextPendingItem(t0 + 179'999).kind, DB_Func::PendingItem::Kind::None);
  EXPECT_EQ(DB_Func::NextPendingItem(t0 + 180'000).id, head);
  EXPECT_EQ(DB_Func::CountPending().lessons, 1);

  // "上传全部离线数据" lets it go now.
  DB_Func::ClearWaits();
  EXPECT_EQ(DB_Func::NextPendingItem(t0).id, head);
}

// A refusal counts only when repeated: the third over at least an hour
// refuses the lesson and its pictures; the admin's resend puts them back.
TEST_F(PendingStoreTest, OnlyRepeatedRefusalsOverAnHourRefuseAndResendPutsThemBack) {
  constexpr long long t0 = 1'800'000'000'000;
  constexpr long long minute = 60'000;
  const long long row = DB_Func::AddOfflineLesson(lesson("offline-20261210090500", "2026-12-10 09:05:00"));
  DB_Func::AddPendingShot(row, shot("a.jpg", "2026-12-10 09:06:00"));
  DB_Func::AddPendingShot(row, shot("b.jpg", "2026-12-10 09:07:00"));
  const DB_Func::PendingItem item = DB_Func::NextPendingItem(t0);
  ASSERT_EQ(item.id, row);

  for (const long long at : {t0, t0 + minute, t0 + 30 * minute, t0 + 59 * minute}) {
    EXPECT_FALSE(DB_Func::ItemRefusedOnce(item, at)) << (at - t0) / minute;
    EXPECT_EQ(DB_Func::CountPending().lessons, 1);
  }
  EXPECT_TRUE(DB_Func::ItemRefusedOnce(item, t0 + 60 * minute));
  EXPECT_EQ(db.rows("SELECT state FROM t_offline_lesson UNION ALL SELECT state FROM t_offline_shot"),
            (Rows{{"refused"}, {"refused"}, {"refused"}}));

  EXPECT_EQ(DB_Func::ResendRefused(), 3);
  EXPECT_EQ(db.rows("SELECT state, attempts, next_try_at, refusals FROM t_offline_lesson"),
            (Rows{{"pending", "0", "0", "0"}}));
  EXPECT_EQ(DB_Func::CountPending().shots, 2);
  EXPECT_EQ(DB_Func::NextPendingItem(t0).id, row);
  EXPECT_EQ(DB_Func::ResendRefused(), 0);
}

TEST_F(PendingStoreTest, ViewsListWhatWaitsAndEveryReportNewestFirst) {
  const long long first = DB_Func::AddOfflineLesson(lesson("offline-20261210090500", "2026-12-10 09:05:00"));
  DB_Func::AddPendingShot(first, shot("a.jpg", "2026-12-10 09:06:00"));
  DB_Func::AddPendingShot(first, shot("b.jpg", "2026-12-10 09:07:00"));
  const long long done = DB_Func::AddOfflineLesson(lesson("offline-20261209080000", "2026-12-09 08:00:00"));
  DB_Func::LessonDelivered(done, "70002");  // delivered, nothing waits: not listed
  const Rows entries = storetest::allRows(DB_Func::QueryOfflineEntries());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], (std::vector<std::string>{"2026-12-10 09:05:00", gbk("一年级"), gbk("一年级（1）班"),
                                                  gbk("数学"), "2", "2", "1", "pending"}));

  DB_Func::AddRepairReport(report("old", "2026-12-01 08:00:00"), DB_Func::kDelivered);
  DB_Func::AddRepairReport(report("new", "2026-12-10 09:00:00"), DB_Func::kPending);
  const Rows history = storetest::allRows(DB_Func::QueryRepairHistory());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0][4], "new");
  EXPECT_EQ(history[0][5], "pending");
  EXPECT_EQ(history[1][4], "old");
  EXPECT_EQ(history[1][5], "delivered");
}

TEST_F(PendingStoreTest, RecentOfflineLessonIsTheTeachersNewestSinceTheGivenTime) {
  DB_Func::AddOfflineLesson(lesson("offline-20261210080000", "2026-12-10 08:00:00"));
  DB_Func::AddOfflineLesson(lesson("offline-20261210090500", "2026-12-10 09:05:00"));
  EXPECT_EQ(DB_Func::QueryRecentOfflineLesson("2001", "2026-12-10 08:30:00").text("local_id"),
            "offline-20261210090500");
  EXPECT_EQ(DB_Func::QueryRecentOfflineLesson("2001", "2026-12-10 09:05:01").rowCount(), 0u);
  EXPECT_EQ(DB_Func::QueryRecentOfflineLesson("2002", "2026-12-10 08:30:00").rowCount(), 0u);
}

}  // namespace
