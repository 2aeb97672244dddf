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

DB_Func::LessonRecord lessonOf(const ClientStateRecord& state, const std::string& beginTime) {
  DB_Func::LessonRecord lesson;
  lesson.teacherID = state.teacherID;
  lesson.teacherName = state.teacherName;
  lesson.teacherPhone = state.teacherPhone;
  lesson.schoolID = state.schoolID;
  lesson.gradeID = state.gradeID;
  lesson.gradeName = state.gradeName;
  lesson.classID = state.classID;
  lesson.className = state.className;
  lesson.subjectID = state.subjectID;
  lesson.subjectName = state.subjectName;
  lesson.deviceID = state.diskID;
  lesson.beginTime = beginTime;
  return lesson;
}

long long recordPicture(const ScreenshotUpload& picture, const ClientStateRecord& state,
                        const std::string& shotState) {
  const ScreenshotJob& job = picture.job;
  const std::string shotTime = timeText(picture.takenAt);
  DB_Func::LessonRecord lesson = lessonOf(state, shotTime);
  lesson.processID = job.processID;
  const long long row = DB_Func::LessonRowFor(job.processID, lesson);
  if (row == 0) return 0;
  DB_Func::ShotRecord shot;
  shot.filePath = picture.localPath;
  shot.shotTime = shotTime;
  shot.schoolID = job.schoolID;
  shot.gradeID = job.gradeID;
  shot.classID = job.classID;
  shot.teacherID = job.teacherID;
  shot.subjectID = job.subjectID;
  shot.deviceID = job.deviceID;
  return DB_Func::AddPendingShot(row, shot, shotState);
}

}  // namespace offline
