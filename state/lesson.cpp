#include "state/lesson.h"

#include <algorithm>
#include <climits>

void LessonChoice::chooseGrade(const std::string& id, const std::string& name) {
  if (id != gradeID) {
    classID.clear();
    className.clear();
    subjectID.clear();
    subjectName.clear();
  }
  gradeID = id;
  gradeName = name;
}

void Lesson::start(const std::string& processID, const LessonChoice& room, const std::string& beginTime) {
  running_ = true;
  processID_ = processID;
  room_ = room;
  beginTime_ = beginTime;
  startTime_ = std::time(nullptr);
  elapsedSeconds_ = 0;
  screenshotCounter_ = 1;
  emit started();
}

void Lesson::resume(const std::string& processID, const LessonChoice& room, const std::string& beginTime,
                    long long elapsedSeconds) {
  // A lesson said to begin in the future counts from 0.
  elapsedSeconds_ = static_cast<int>(std::clamp<long long>(elapsedSeconds, 0, INT_MAX - 1));
  running_ = true;
  processID_ = processID;
  room_ = room;
  beginTime_ = beginTime;
  startTime_ = std::time(nullptr) - elapsedSeconds_;
  emit resumed();
}

void Lesson::stop() {
  const bool wasRunning = running_;
  running_ = false;
  beginTime_.clear();
  startTime_ = 0;
  elapsedSeconds_ = 0;
  screenshotCounter_ = 1;
  if (wasRunning) emit stopped();
}

void Lesson::forget() {
  stop();
  processID_.clear();
  room_.clear();
}

void Lesson::takeServerId(const std::string& localId, const std::string& serverId) {
  if (processID_ != localId || localId == serverId) return;
  processID_ = serverId;
  emit idChanged(localId, serverId);
}
