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
-- Each table also carries the item's retry columns (attempts, next_try_at,
-- refusals, first_refused_at), which the client adds with ALTER TABLE
-- (store/offline_store.cpp) to tables made before them.
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

-- The sign-in and the lesson running on this computer, so that a client that
-- was killed or crashed comes back signed in as the same teacher and goes on
-- with the lesson: at most one row (id 1), replaced as they change and
-- emptied at a sign-out, at 更换老师 and at the lesson's end (this table
-- alone is emptied). login_text is the login message as the sign-in
-- companion sent it, so the FTP password is held only in the form that
-- message protects it; lesson_began (seconds since 1970) is 0 while no
-- lesson runs; kept_at is when the sign-in or the lesson began.
CREATE TABLE IF NOT EXISTS t_kept_session (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  login_text TEXT NOT NULL, teacher_id TEXT NOT NULL,
  process_id TEXT NOT NULL DEFAULT '', school_id TEXT NOT NULL DEFAULT '',
  grade_id TEXT NOT NULL DEFAULT '', grade_name TEXT NOT NULL DEFAULT '',
  class_id TEXT NOT NULL DEFAULT '', class_name TEXT NOT NULL DEFAULT '',
  subject_id TEXT NOT NULL DEFAULT '', subject_name TEXT NOT NULL DEFAULT '',
  lesson_began INTEGER NOT NULL DEFAULT 0, kept_at INTEGER NOT NULL);
