#include "store/offline_store.h"

#include <sqlite3.h>

#include <chrono>

#include "store/connection.h"
#include "store/db_func.h"
#include "store/own_schema_sql.h"
#include "sys/local_time.h"

namespace DB_Func {
namespace {

std::string nowMs() { return std::to_string(NowMs()); }

constexpr const char* kOwnTables[] = {"t_offline_lesson", "t_offline_shot", "t_repair_report"};

// The columns each item carries for its retries, added to tables made
// before they existed (CREATE TABLE IF NOT EXISTS adds no column).
constexpr const char* kRetryColumns[] = {"attempts", "next_try_at", "refusals", "first_refused_at"};

void addRetryColumns(Connection& connection) {
  for (const char* table : kOwnTables) {
    const RowSet columns =
        connection.query(std::string("SELECT name FROM pragma_table_info('") + table + "')");
    for (const char* column : kRetryColumns) {
      bool present = false;
      for (size_t row = 0; row < columns.rowCount(); ++row) present = present || columns.at(row, 0) == column;
      if (!present)
        connection.execute(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column +
                           " INTEGER NOT NULL DEFAULT 0");
    }
  }
}

const char* tableOf(PendingItem::Kind kind) {
  switch (kind) {
    case PendingItem::Kind::Lesson:
      return "t_offline_lesson";
    case PendingItem::Kind::Shot:
      return "t_offline_shot";
    default:
      return "t_repair_report";
  }
}

std::string localNowText() {
  const std::tm local = localDateNow();
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

long long insertRow(std::string_view sql, std::initializer_list<std::string_view> values) {
  Connection connection(DatabasePath());
  connection.execute(sql, values);
  return connection.lastInsertId();
}

RowSet run(std::string_view sql, std::initializer_list<std::string_view> values = {}) {
  Connection connection(DatabasePath());
  return connection.query(sql, values);
}

void change(std::string_view sql, std::initializer_list<std::string_view> values) {
  Connection connection(DatabasePath());
  connection.execute(sql, values);
}

int countOf(const RowSet& rows, std::string_view column) {
  if (rows.rowCount() == 0) return 0;
  return std::atoi(rows.text(column).c_str());
}

constexpr std::string_view kLessonInsert =
    "INSERT INTO t_offline_lesson(local_id, process_id, offline, teacher_id, teacher_name, teacher_phone, "
    "school_id, grade_id, grade_name, class_id, class_name, subject_id, subject_name, device_id, begin_time, "
    "state, queued_at) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

}  // namespace

void EnsureOwnTables() {
  if (DatabasePath().empty()) return;
  Connection connection(DatabasePath());
  // Checked first, so that an edu.db that already has them is only read
  // (a read-only one included).
  const RowSet present = connection.query(
      "SELECT count(*) AS n FROM sqlite_master WHERE type = 'table' AND name IN "
      "('t_offline_lesson', 't_offline_shot', 't_repair_report', 't_kept_session')");
  if (countOf(present, "n") != 4) {
    Transaction transaction(connection);
    connection.executeScript(kOwnSchemaSql);
    transaction.commit();
  }
  addRetryColumns(connection);
  // A report whose live request was cut off by the end of the client waits
  // like any other.
  const RowSet sending =
      connection.query("SELECT count(*) AS n FROM t_repair_report WHERE state = 'sending'");
  if (countOf(sending, "n") > 0)
    connection.execute("UPDATE t_repair_report SET state = 'pending' WHERE state = 'sending'");
}

long long AddOfflineLesson(const LessonRecord& l) {
  return insertRow(kLessonInsert, {l.localId, "", "1", l.teacherID, l.teacherName, l.teacherPhone, l.schoolID,
                                   l.gradeID, l.gradeName, l.classID, l.className, l.subjectID, l.subjectName,
                                   l.deviceID, l.beginTime, kPending, nowMs()});
}

long long LessonRowFor(const std::string& processID, const LessonRecord& l) {
  Connection connection(DatabasePath());
  const bool offline = processID.rfind("offline-", 0) == 0;
  const RowSet found = connection.query(
      offline ? "SELECT id FROM t_offline_lesson WHERE local_id = ? AND offline = 1 ORDER BY id DESC LIMIT 1"
              : "SELECT id FROM t_offline_lesson WHERE process_id = ? ORDER BY id DESC LIMIT 1",
      {processID});
  if (found.rowCount() > 0) return std::atoll(found.text("id").c_str());
  if (offline) return 0;
  connection.execute(kLessonInsert, {"", processID, "0", l.teacherID, l.teacherName, l.teacherPhone,
                                     l.schoolID, l.gradeID, l.gradeName, l.classID, l.className, l.subjectID,
                                     l.subjectName, l.deviceID, l.beginTime, kDelivered, nowMs()});
  return connection.lastInsertId();
}

long long AddPendingShot(long long lessonRow, const ShotRecord& s, const std::string& state) {
  return insertRow(
      "INSERT INTO t_offline_shot(lesson_id, file_path, shot_time, school_id, grade_id, class_id, "
      "teacher_id, "
      "subject_id, device_id, state, queued_at) VALUES (?,?,?,?,?,?,?,?,?,?,?)",
      {std::to_string(lessonRow), s.filePath, s.shotTime, s.schoolID, s.gradeID, s.classID, s.teacherID,
       s.subjectID, s.deviceID, state, nowMs()});
}

void ShotPostEnded(long long id, bool delivered) {
  // Only a picture still marked as being posted: one the retention or a
  // restart has dealt with meanwhile keeps what they made of it.
  change("UPDATE t_offline_shot SET state = ?, answered_at = ? WHERE id = ? AND state = 'sending'",
         {delivered ? kDelivered : kPending, delivered ? localNowText() : "", std::to_string(id)});
}

void ReopenInterruptedShots() {
  if (DatabasePath().empty()) return;
  change("UPDATE t_offline_shot SET state = 'pending' WHERE state = 'sending'", {});
}

RowSet QueryUndeliveredShots() {
  if (DatabasePath().empty()) return {};
  return run("SELECT id, file_path, state FROM t_offline_shot WHERE state IN ('pending', 'sending')");
}

void ShotDiscarded(long long id) {
  change("UPDATE t_offline_shot SET state = 'discarded', answered_at = ? WHERE id = ? AND state = 'pending'",
         {localNowText(), std::to_string(id)});
}

int CountDiscardedShots() {
  if (DatabasePath().empty()) return 0;
  return countOf(run("SELECT count(*) AS n FROM t_offline_shot WHERE state = 'discarded'"), "n");
}

std::string DeliveredProcessIdOf(const std::string& localId) {
  if (DatabasePath().empty()) return {};
  const RowSet found = run(
      "SELECT process_id FROM t_offline_lesson WHERE local_id = ? AND offline = 1 AND state = 'delivered' "
      "ORDER BY id DESC LIMIT 1",
      {localId});
  return found.rowCount() > 0 ? found.text("process_id") : std::string();
}

long long AddRepairReport(const RepairRecord& r, const std::string& state) {
  return insertRow(
      "INSERT INTO t_repair_report(school_id, grade_id, grade_name, class_id, class_name, teacher_id, "
      "teacher_name, tel, fault_detail, report_time, state, queued_at, answered_at) "
      "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
      {r.schoolID, r.gradeID, r.gradeName, r.classID, r.className, r.teacherID, r.teacherName, r.tel,
       r.faultDetail, r.reportTime, state, nowMs(), state == kPending ? "" : localNowText()});
}

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

PendingItem NextPendingItem() { return NextPendingItem(NowMs()); }

PendingItem NextPendingItem(long long now) {
  if (DatabasePath().empty()) return {};  // no edu.db: nothing kept
  Connection connection(DatabasePath());
  // A picture can go once its lesson has the server's id; a lesson goes
  // before its pictures because it was queued before them. An item tried
  // before goes behind the ones not tried yet.
  const RowSet oldest = connection.query(
      "SELECT kind, id FROM ("
      " SELECT 1 AS kind, id, queued_at, next_try_at FROM t_offline_lesson WHERE state = 'pending'"
      " UNION ALL SELECT 2, s.id, s.queued_at, s.next_try_at FROM t_offline_shot s JOIN t_offline_lesson l"
      "  ON l.id = s.lesson_id WHERE s.state = 'pending' AND l.state = 'delivered' AND l.process_id <> ''"
      " UNION ALL SELECT 3, id, queued_at, next_try_at FROM t_repair_report WHERE state = 'pending')"
      " WHERE next_try_at <= ? ORDER BY next_try_at, queued_at, kind, id LIMIT 1",
      {std::to_string(now)});
  PendingItem item;
  if (oldest.rowCount() == 0) return item;
  const std::string id = oldest.text("id");
  item.id = std::atoll(id.c_str());
  switch (std::atoi(oldest.text("kind").c_str())) {
    case 1:
      item.kind = PendingItem::Kind::Lesson;
      item.row = connection.query("SELECT * FROM t_offline_lesson WHERE id = ?", {id});
      break;
    case 2:
      item.kind = PendingItem::Kind::Shot;
      item.row = connection.query(
          "SELECT s.*, l.process_id FROM t_offline_shot s JOIN t_offline_lesson l ON l.id = s.lesson_id "
          "WHERE s.id = ?",
          {id});
      break;
    default:
      item.kind = PendingItem::Kind::Repair;
      item.row = connection.query("SELECT * FROM t_repair_report WHERE id = ?", {id});
  }
  return item;
}

long long WaitAfterAnswers(int answers) {
  long long wait = kFirstWaitMs;
  for (int n = 1; n < answers && wait < kLongestWaitMs; ++n) wait *= 2;
  return std::min(wait, kLongestWaitMs);
}

void ItemUnanswered(const PendingItem& item, long long now) {
  // The count is a constant of ours, not a value: it goes into the text, so
  // that SQLite compares it as the number it is.
  change(std::string("UPDATE ") + tableOf(item.kind) +
             " SET attempts = attempts + 1, next_try_at = CASE WHEN attempts + 1 >= " +
             std::to_string(kUnansweredBeforeBehind) + " THEN ? ELSE next_try_at END WHERE id = ?",
         {std::to_string(now), std::to_string(item.id)});
}

void ItemNotTaken(const PendingItem& item, long long now) {
  Connection connection(DatabasePath());
  Transaction transaction(connection);
  const std::string table = tableOf(item.kind);
  const std::string id = std::to_string(item.id);
  const RowSet counts = connection.query("SELECT attempts FROM " + table + " WHERE id = ?", {id});
  const int answers = countOf(counts, "attempts") + 1;
  connection.execute("UPDATE " + table + " SET attempts = ?, next_try_at = ? WHERE id = ?",
                     {std::to_string(answers), std::to_string(now + WaitAfterAnswers(answers)), id});
  transaction.commit();
}

bool ItemRefusedOnce(const PendingItem& item, long long now) {
  const std::string table = tableOf(item.kind);
  const std::string id = std::to_string(item.id);
  long long first = now;
  int refusals = 1;
  {
    Connection connection(DatabasePath());
    Transaction transaction(connection);
    const RowSet row =
        connection.query("SELECT refusals, first_refused_at FROM " + table + " WHERE id = ?", {id});
    if (row.rowCount() > 0 && countOf(row, "refusals") > 0) {
      refusals = countOf(row, "refusals") + 1;
      first = std::atoll(row.text("first_refused_at").c_str());
    }
    connection.execute("UPDATE " + table + " SET refusals = ?, first_refused_at = ? WHERE id = ?",
                       {std::to_string(refusals), std::to_string(first), id});
    transaction.commit();
  }
  if (refusals < kRefusalsNeeded || now - first < kRefusalSpanMs) {
    ItemNotTaken(item, now);
    return false;
  }
  switch (item.kind) {
    case PendingItem::Kind::Lesson:
      LessonRefused(item.id);
      break;
    case PendingItem::Kind::Shot:
      ShotAnswered(item.id, kRefused);
      break;
    default:
      RepairAnswered(item.id, kRefused);
  }
  return true;
}

void ClearWaits() {
  if (DatabasePath().empty()) return;
  Connection connection(DatabasePath());
  Transaction transaction(connection);
  for (const char* table : kOwnTables)
    connection.execute(std::string("UPDATE ") + table +
                       " SET next_try_at = 0 WHERE state = 'pending' AND next_try_at <> 0");
  transaction.commit();
}

int ResendRefused() {
  Connection connection(DatabasePath());
  Transaction transaction(connection);
  int resent = 0;
  for (const char* table : kOwnTables) {
    connection.execute(std::string("UPDATE ") + table +
                           " SET state = 'pending', attempts = 0, next_try_at = 0, refusals = 0, "
                           "first_refused_at = 0, answered_at = '' WHERE state = 'refused'",
                       {});
    resent += countOf(connection.query("SELECT changes() AS n"), "n");
  }
  transaction.commit();
  return resent;
}

void LessonDelivered(long long id, const std::string& processID) {
  change("UPDATE t_offline_lesson SET state = 'delivered', process_id = ?, answered_at = ? WHERE id = ?",
         {processID, localNowText(), std::to_string(id)});
}

void LessonRefused(long long id) {
  Connection connection(DatabasePath());
  Transaction transaction(connection);
  const std::string row = std::to_string(id);
  const std::string now = localNowText();
  connection.execute("UPDATE t_offline_lesson SET state = 'refused', answered_at = ? WHERE id = ?",
                     {now, row});
  connection.execute(
      "UPDATE t_offline_shot SET state = 'refused', answered_at = ? WHERE lesson_id = ? AND state = "
      "'pending'",
      {now, row});
  transaction.commit();
}

void ShotAnswered(long long id, const std::string& state) {
  change("UPDATE t_offline_shot SET state = ?, answered_at = ? WHERE id = ?",
         {state, localNowText(), std::to_string(id)});
}

void RepairAnswered(long long id, const std::string& state) {
  change("UPDATE t_repair_report SET state = ?, answered_at = ? WHERE id = ?",
         {state, localNowText(), std::to_string(id)});
}

PendingCounts CountPending() {
  if (DatabasePath().empty()) return {};  // no edu.db: nothing kept
  const RowSet rows =
      run("SELECT (SELECT count(*) FROM t_offline_lesson WHERE state = 'pending') AS lessons,"
          " (SELECT count(*) FROM t_offline_shot WHERE state = 'pending') AS shots,"
          " (SELECT count(*) FROM t_repair_report WHERE state = 'pending') AS repairs");
  PendingCounts counts;
  counts.lessons = countOf(rows, "lessons");
  counts.shots = countOf(rows, "shots");
  counts.repairs = countOf(rows, "repairs");
  return counts;
}

RowSet QueryOfflineEntries() {
  if (DatabasePath().empty()) return {};  // no edu.db: nothing kept
  return run(
      "SELECT l.begin_time, l.grade_name, l.class_name, l.subject_name,"
      " (SELECT count(*) FROM t_offline_shot s WHERE s.lesson_id = l.id) AS shots,"
      " (SELECT count(*) FROM t_offline_shot s WHERE s.lesson_id = l.id AND s.state = 'pending') AS waiting,"
      " l.offline, l.state FROM t_offline_lesson l"
      " WHERE l.state = 'pending' OR EXISTS (SELECT 1 FROM t_offline_shot s WHERE s.lesson_id = l.id AND "
      "s.state = 'pending')"
      " ORDER BY l.begin_time DESC, l.id DESC");
}

RowSet QueryRepairHistory() {
  if (DatabasePath().empty()) return {};  // no edu.db: nothing kept
  return run(
      "SELECT report_time, grade_name, class_name, teacher_name, fault_detail, state FROM t_repair_report "
      "ORDER BY report_time DESC, id DESC");
}

RowSet QueryRecentOfflineLesson(const std::string& teacherID, const std::string& notBefore) {
  if (DatabasePath().empty()) return {};  // no edu.db: nothing kept
  return run(
      "SELECT * FROM t_offline_lesson WHERE offline = 1 AND teacher_id = ? AND begin_time >= ? "
      "ORDER BY begin_time DESC, id DESC LIMIT 1",
      {teacherID, notBefore});
}

}  // namespace DB_Func
