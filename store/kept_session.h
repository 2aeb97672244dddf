// The sign-in and lesson kept in edu.db (t_kept_session) while they run, so
// that a client started again after a crash takes them up. Text in and out
// is GBK.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "store/offline_store.h"

namespace DB_Func {

struct KeptSession {
  std::string loginText;  // the login message as the companion sent it
  std::string teacherID;
  // The running lesson (its id, school, room and subject); lessonBegan is 0
  // when none runs.
  LessonRecord lesson;
  std::time_t lessonBegan = 0;
  std::time_t keptAt = 0;  // when the sign-in or the lesson began
};

// Replaces what is kept. Throws DbError.
void KeepSession(const KeptSession& session);
// The kept session, if any. Throws DbError.
std::optional<KeptSession> ReadKeptSession();
// Nothing kept any more. Throws DbError.
void ClearKeptSession();

}  // namespace DB_Func
