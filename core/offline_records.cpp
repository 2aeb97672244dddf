#include "core/offline_records.h"

#include "sys/local_time.h"

namespace offline {

namespace {

std::string formatted(const std::tm& local, const char* format) {
  char text[40];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

std::string lessonIdAt(const std::tm& localStart) {
  return "offline-" + formatted(localStart, "%Y%m%d%H%M%S");
}

bool isOfflineLessonId(const std::string& processID) { return processID.rfind("offline-", 0) == 0; }

std::string timeText(const std::tm& local) { return formatted(local, "%Y-%m-%d %H:%M:%S"); }

std::tm localNow() { return localDateNow(); }

long long recordPicture(const ScreenshotUpload& picture, const std::string& shotState) {
  const std::string shotTime = timeText(picture.takenAt);
  // An online lesson first seen here is dated by its first picture.
  DB_Func::LessonRecord lesson = picture.job.lesson;
  lesson.beginTime = shotTime;
  const long long row = DB_Func::LessonRowFor(lesson.processID, lesson);
  if (row == 0) return 0;
  DB_Func::ShotRecord shot;
  shot.filePath = picture.localPath;
  shot.shotTime = shotTime;
  shot.schoolID = lesson.schoolID;
  shot.gradeID = lesson.gradeID;
  shot.classID = lesson.classID;
  shot.teacherID = lesson.teacherID;
  shot.subjectID = lesson.subjectID;
  shot.deviceID = lesson.deviceID;
  return DB_Func::AddPendingShot(row, shot, shotState);
}

}  // namespace offline
