// What the client keeps in edu.db until the server has it: lessons started
// while the server could not be reached, every lesson picture (recorded
// before its post, so a kill at any moment leaves it waiting), and every
// fault report of this computer (delivered ones too, for the repair
// history). The tables are the client's own (own_schema.sql); the server's
// reference tables are never touched.
//
// Every change is one statement or one transaction, so a client that is
// killed at any moment leaves each item either as it was or fully changed.
// Items are never deleted. Text in and out is GBK, as everywhere else.
#pragma once

#include <string>

#include "store/row_set.h"

namespace DB_Func {

// Creates the client's own tables (and their indexes) in the located edu.db
// when they are missing; tables that exist are left as they are. Does
// nothing without a database. Throws DbError when the file cannot be
// written.
void EnsureOwnTables();

// The states an item goes through.
inline constexpr const char* kPending = "pending";
inline constexpr const char* kDelivered = "delivered";
inline constexpr const char* kRefused = "refused";
// A fault report whose live request is on its way, or a picture whose live
// post is; a pending one after a restart.
inline constexpr const char* kSending = "sending";
// A picture that is gone from the disk: cut off by a kill or a power loss,
// or removed by someone else. Never sent.
inline constexpr const char* kMissing = "missing";
// A picture the retention removed before the server had it, because the
// picture folder or its disk was full and nothing delivered was left to go.
inline constexpr const char* kDiscarded = "discarded";

// A lesson as the start request sent it, with the names the views show.
struct LessonRecord {
  std::string localId;    // "offline-yyyyMMddHHmmss" for an offline lesson
  std::string processID;  // the server's, for an online lesson
  std::string teacherID, teacherName, teacherPhone, schoolID;
  std::string gradeID, gradeName, classID, className, subjectID, subjectName;
  std::string deviceID;
  std::string beginTime;  // local, "yyyy-MM-dd HH:mm:ss"
};

// A lesson started offline, pending until the server has taken it; returns
// its row id.
long long AddOfflineLesson(const LessonRecord& lesson);

// The row of the lesson that pictures taken under `processID` belong to:
// the offline lesson whose local id it is, or the lesson with that server
// id (an online one, or one started offline and delivered since), which is
// added (as delivered) the first time a picture of it is recorded. 0 when
// an offline id names no stored lesson.
long long LessonRowFor(const std::string& processID, const LessonRecord& lesson);

// A picture of a lesson, with the ids it is sent with.
struct ShotRecord {
  std::string filePath;  // the client's (GBK) path of the picture
  std::string shotTime;  // local, "yyyy-MM-dd HH:mm:ss"
  std::string schoolID, gradeID, classID, teacherID, subjectID, deviceID;
};
// Recorded before its file is posted (`state` kSending) or when it is kept
// for later (kPending); returns its row id.
long long AddPendingShot(long long lessonRow, const ShotRecord& shot, const std::string& state = kPending);
// The live post of a picture recorded as kSending ended: delivered, or back
// to pending for a later delivery.
void ShotPostEnded(long long id, bool delivered);
// Pictures whose live post a kill or a stop cut off go back to pending
// (start-up).
void ReopenInterruptedShots();
// Pictures the server has not got yet: columns id, file_path, state
// (kPending or kSending).
RowSet QueryUndeliveredShots();
// The retention removed a pending picture: it is marked discarded.
void ShotDiscarded(long long id);
int CountDiscardedShots();

// A fault report as it was sent.
struct RepairRecord {
  std::string schoolID, gradeID, gradeName, classID, className, teacherID, teacherName, tel;
  std::string faultDetail;  // the memo's text, lines ended by CR LF
  std::string reportTime;   // local, "yyyy-MM-dd HH:mm:ss"
};
// Stores a report in `state` (kSending while its live request is on its
// way); returns its row id.
long long AddRepairReport(const RepairRecord& report, const std::string& state);

// The item that goes next: a pending lesson, a pending picture whose lesson
// the server knows, or a pending fault report whose retry time (next_try_at,
// ms since 1970) has come by `nowMs`; among them the one tried least
// recently, then the oldest. Its row holds the item's columns; a picture's
// row also holds its lesson's process_id.
struct PendingItem {
  enum class Kind { None, Lesson, Shot, Repair };
  Kind kind = Kind::None;
  long long id = 0;
  RowSet row;
};
PendingItem NextPendingItem(long long nowMs);
PendingItem NextPendingItem();  // now

// The milliseconds since 1970 now, the clock of next_try_at.
long long NowMs();

// How an item that was not taken waits. Without an answer (the server
// away) it has no wait of its own: the whole queue waits for the server;
// only from its third such try on does it go behind the others, so that one
// the server never answers cannot hold up the rest. With an answer that did not take it (an error
// page, a reply that is not ours) it waits 60 s, doubling with each such
// answer up to 30 min, so that it never holds up the items behind it.
inline constexpr long long kFirstWaitMs = 60'000;
inline constexpr long long kLongestWaitMs = 30 * 60'000;
inline constexpr int kUnansweredBeforeBehind = 3;
long long WaitAfterAnswers(int answers);
void ItemUnanswered(const PendingItem& item, long long nowMs);
void ItemNotTaken(const PendingItem& item, long long nowMs);

// An answer that says, for this item, that the server will not take it.
// One such answer refuses nothing (a server in maintenance may give it for
// everything): the item is marked refused only after kRefusalsNeeded of
// them spread over at least kRefusalSpanMs; until then it waits as in
// ItemNotTaken. Returns whether the item is now refused (a lesson takes its
// waiting pictures with it).
inline constexpr int kRefusalsNeeded = 3;
inline constexpr long long kRefusalSpanMs = 60 * 60'000;
bool ItemRefusedOnce(const PendingItem& item, long long nowMs);

// "上传全部离线数据": every waiting item may go now.
void ClearWaits();

// The admin's resend: every refused item (and a refused lesson's pictures)
// is pending again with its counts cleared. Returns how many.
int ResendRefused();

// The server's answer to one item. A refused lesson takes its waiting
// pictures with it: they cannot be sent without the server's lesson id.
void LessonDelivered(long long id, const std::string& processID);
void LessonRefused(long long id);
void ShotAnswered(long long id, const std::string& state);
void RepairAnswered(long long id, const std::string& state);

struct PendingCounts {
  int lessons = 0;
  int shots = 0;
  int repairs = 0;
  bool any() const { return lessons + shots + repairs > 0; }
};
PendingCounts CountPending();

// The lesson started offline as `localId`, once the server has taken it:
// the server's processID; empty while it waits (or when there is none).
std::string DeliveredProcessIdOf(const std::string& localId);

// The offline view's entries, newest first: every lesson that is pending
// or has pictures waiting. Columns begin_time, grade_name, class_name,
// subject_name, shots (pictures kept), waiting (pictures pending), offline,
// state.
RowSet QueryOfflineEntries();

// This computer's fault reports, newest first. Columns report_time,
// grade_name, class_name, teacher_name, fault_detail, state.
RowSet QueryRepairHistory();

// The newest lesson that `teacherID` started offline at `notBefore` or later
// (both local times as text); no row when none.
RowSet QueryRecentOfflineLesson(const std::string& teacherID, const std::string& notBefore);

}  // namespace DB_Func
