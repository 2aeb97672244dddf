// The status window's sign-in and lesson kept across a crash: written to
// edu.db as they begin, taken up by the next start within the lesson's 40
// minutes, and cleared when the teacher signs out, changes or the lesson
// ends.
#include <algorithm>
#include <climits>
#include <ctime>
#include <utility>

#include "core/fdck.h"
#include "core/offline_records.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
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
    kept.processID = ClientState.processID;
    kept.schoolID = ClientState.schoolID;
    kept.gradeID = ClientState.gradeID;
    kept.gradeName = ClientState.gradeName;
    kept.classID = ClientState.classID;
    kept.className = ClientState.className;
    kept.subjectID = ClientState.subjectID;
    kept.subjectName = ClientState.subjectName;
    kept.lessonBegan = kept.keptAt - ClientState.elapsedSeconds;
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
            (kept->lessonBegan != 0 ? ", lesson " + kept->processID + " of " +
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
  ClientState.processID = kept->processID;
  ClientState.schoolID = kept->schoolID;
  ClientState.gradeID = kept->gradeID;
  ClientState.gradeName = kept->gradeName;
  ClientState.classID = kept->classID;
  ClientState.className = kept->className;
  ClientState.subjectID = kept->subjectID;
  ClientState.subjectName = kept->subjectName;
  appendLog("lesson " + kept->processID + " goes on as it was kept (the server did not answer)");
  std::tm began{};
  localtime_r(&kept->lessonBegan, &began);
  callHook(AppHooks.classStartResumed, offline::timeText(began));
  ClientState.elapsedSeconds =
      static_cast<int>(std::clamp<long long>(std::time(nullptr) - kept->lessonBegan, 0, INT_MAX - 1));
  callHook(AppHooks.classStartRefresh);
  Timer1.start();
  Timer3.start();
  keepSession();
  return true;
}
