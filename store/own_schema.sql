-- Tables of this client's own, beside the server's reference data: what the
-- client keeps until the server has it. The client creates them when an
-- edu.db lacks them (an edu.db from before they existed); every statement
-- here must therefore be safe to run again. The tables of the server's data
-- are never touched by this file.
--
-- Times are local times as text, 'yyyy-MM-dd HH:mm:ss'. queued_at orders all
-- pending items across the three tables (milliseconds since 1970). state is
-- 'pending' until the server has the item, then 'delivered'; an item the
-- server answered with a refusal becomes 'refused' and is not sent again.
-- A picture is 'sending' while its live post is on its way (pending again
-- after a restart), 'missing' when its file was cut off or is gone, and
-- 'discarded' when the retention had to remove it before delivery.
-- No row is ever deleted.

-- A lesson whose records wait for the server: one started while the server
-- could not be reached (offline = 1, local_id 'offline-yyyyMMddHHmmss',
-- process_id empty until the server has taken it), or an online lesson
-- (offline = 0, process_id known, state 'delivered') with pictures whose
-- upload failed.
CREATE TABLE IF NOT EXISTS t_offline_lesson (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  local_id TEXT NOT NULL, process_id TEXT NOT NULL DEFAULT '', offline INTEGER NOT NULL,
  teacher_id TEXT NOT NULL, teacher_name TEXT NOT NULL, teacher_phone TEXT NOT NULL,
  school_id TEXT NOT NULL, grade_id TEXT NOT NULL, grade_name TEXT NOT NULL,
  class_id TEXT NOT NULL, class_name TEXT NOT NULL, subject_id TEXT NOT NULL, subject_name TEXT NOT NULL,
  device_id TEXT NOT NULL, begin_time TEXT NOT NULL,
  state TEXT NOT NULL, queued_at INTEGER NOT NULL, answered_at TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS t_offline_lesson_local ON t_offline_lesson(local_id);
CREATE INDEX IF NOT EXISTS t_offline_lesson_process ON t_offline_lesson(process_id);

-- A lesson picture, recorded before its post: its file (the client's
-- path), its lesson, the time it was taken and the ids it is sent with.
CREATE TABLE IF NOT EXISTS t_offline_shot (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  lesson_id INTEGER NOT NULL REFERENCES t_offline_lesson(id),
  file_path TEXT NOT NULL, shot_time TEXT NOT NULL,
  school_id TEXT NOT NULL, grade_id TEXT NOT NULL, class_id TEXT NOT NULL, teacher_id TEXT NOT NULL,
  subject_id TEXT NOT NULL, device_id TEXT NOT NULL,
  state TEXT NOT NULL, queued_at INTEGER NOT NULL, answered_at TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS t_offline_shot_lesson ON t_offline_shot(lesson_id, state);

-- Every fault report made on this computer, delivered or not: the repair
-- history lists them, the pending ones are sent later.
CREATE TABLE IF NOT EXISTS t_repair_report (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  school_id TEXT NOT NULL, grade_id TEXT NOT NULL, grade_name TEXT NOT NULL,
  class_id TEXT NOT NULL, class_name TEXT NOT NULL, teacher_id TEXT NOT NULL, teacher_name TEXT NOT NULL,
  tel TEXT NOT NULL, fault_detail TEXT NOT NULL, report_time TEXT NOT NULL,
  state TEXT NOT NULL, queued_at INTEGER NOT NULL, answered_at TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS t_repair_report_state ON t_repair_report(state);
