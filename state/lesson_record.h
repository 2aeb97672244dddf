// The one place where the sign-in and a lesson become a record: the row an
// offline lesson is kept in, the ids a picture is sent and kept with, what a
// restart takes up again and what courseware is registered under all start
// from it.
#pragma once

#include <string>

#include "state/client_state.h"
#include "state/lesson.h"
#include "store/offline_store.h"

// The teacher, school and computer of `signIn` with the lesson's id, room
// and begin time.
DB_Func::LessonRecord lessonRecord(const ClientStateRecord& signIn, const std::string& processID,
                                   const LessonChoice& room, const std::string& beginTime);
DB_Func::LessonRecord lessonRecord(const ClientStateRecord& signIn, const Lesson& lesson);

// The room and subject a record names.
LessonChoice roomOf(const DB_Func::LessonRecord& record);
