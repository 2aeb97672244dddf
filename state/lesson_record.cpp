#include "state/lesson_record.h"

DB_Func::LessonRecord lessonRecord(const ClientStateRecord& signIn, const std::string& processID,
                                   const LessonChoice& room, const std::string& beginTime) {
  DB_Func::LessonRecord record;
  record.processID = processID;
  record.teacherID = signIn.teacherID;
  record.teacherName = signIn.teacherName;
  record.teacherPhone = signIn.teacherPhone;
  record.schoolID = signIn.schoolID;
  record.gradeID = room.gradeID;
  record.gradeName = room.gradeName;
  record.classID = room.classID;
  record.className = room.className;
  record.subjectID = room.subjectID;
  record.subjectName = room.subjectName;
  record.deviceID = signIn.diskID;
  record.beginTime = beginTime;
  return record;
}

DB_Func::LessonRecord lessonRecord(const ClientStateRecord& signIn, const Lesson& lesson) {
  return lessonRecord(signIn, lesson.processID(), lesson.room(), lesson.beginTime());
}

LessonChoice roomOf(const DB_Func::LessonRecord& record) {
  LessonChoice room;
  room.gradeID = record.gradeID;
  room.gradeName = record.gradeName;
  room.classID = record.classID;
  room.className = record.className;
  room.subjectID = record.subjectID;
  room.subjectName = record.subjectName;
  return room;
}
