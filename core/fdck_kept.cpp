// The status window's sign-in and lesson kept across a crash: written to
// edu.db as they begin, taken up by the next start within the lesson's 40
// minutes, and cleared when the teacher signs out, changes or the lesson
// ends.
#include <ctime>
#include <utility>

#include "core/fdck.h"
#include "core/offline_records.h"
#include "core/sign_in.h"
#include "state/client_state.h"
#include "state/lesson_record.h"
#include "store/db_error.h"
#include "store/db_func.h"
#include "sys/text_codec.h"

namespace {

constexpr std::time_t kKeptForSeconds = 40 * 60;

}  // namespace

void TForm1::keepSession() {
  if (!ClientState.loginState || loginText_.empty() || DB_Func::DatabasePath().empty()) return;
  DB_Func::KeptSession kept;
  kept.loginText = loginText_;
  kept.teacherID = ClientState.teacherID;
  kept.keptAt = std::time(nullptr);
  if (isLessonRunning()) {
    kept.lesson = lessonRecord(ClientState, lesson_);
    kept.lessonBegan = kept.keptAt - lesson_.elapsedSeconds();
    kept.keptAt = kept.lessonBegan;
  }
  try {
    DB_Func::KeepSession(kept);
  } catch (const DB_Func::DbError& error) {
    appendLog("sign-in not kept for a restart: " + std::string(error.what()));
  }
}

void TForm1::clearKeptSession() {
  if (DB_Func::DatabasePath().empty()) return;
  try {
    DB_Func::ClearKeptSession();
  } catch (const DB_Func::DbError& error) {
    appendLog("kept sign-in not cleared: " + std::string(error.what()));
  }
}

void TForm1::resumeKeptSession() {
  if (DB_Func::DatabasePath().empty() || ClientState.loginState) return;
  std::optional<DB_Func::KeptSession> kept;
  try {
    kept = DB_Func::ReadKeptSession();
  } catch (const DB_Func::DbError& error) {
    appendLog("kept sign-in not read: " + std::string(error.what()));
    return;
  }
  if (!kept) return;
  const std::time_t now = std::time(nullptr);
  const std::time_t age = now - kept->keptAt;
  if (age < 0 || age >= kKeptForSeconds) {
    appendLog("sign-in kept from before the restart is " + std::to_string(age / 60) +
              " minutes old; not taken up");
    clearKeptSession();
    return;
  }
  appendLog("restarted: teacher " + kept->teacherID + " signed in again" +
            (kept->lessonBegan != 0 ? ", lesson " + kept->lesson.processID + " of " +
                                          std::to_string(now - kept->lessonBegan) + " s taken up"
                                    : std::string()) +
            " (kept before the restart)");
  resumingFrom_ = kept;
  loginMessage(kept->loginText);
}

bool TForm1::takeUpKeptLesson() {
  const std::optional<DB_Func::KeptSession> kept = std::exchange(resumingFrom_, std::nullopt);
  if (!kept || kept->lessonBegan == 0 || kept->teacherID != ClientState.teacherID || isLessonRunning())
    return false;
  signin::takeLessonSchool(kept->lesson.schoolID);
  appendLog("lesson " + kept->lesson.processID + " goes on as it was kept (the server did not answer)");
  std::tm began{};
  localtime_r(&kept->lessonBegan, &began);
  lesson_.resume(kept->lesson.processID, roomOf(kept->lesson), offline::timeText(began),
                 std::time(nullptr) - kept->lessonBegan);
  return true;
}
