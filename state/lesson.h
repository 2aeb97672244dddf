// The lesson this computer is timing: its id, room and subject, when it
// began, how long it has been timed and which picture comes next. One object,
// owned by the program's wiring (app/client_windows), that every window reads.
//
// Only three places change it:
// - the class-start page starts a lesson (`start`);
// - the status window takes a lesson up again (`resume`: the server's lesson
//   after a login, a lesson started offline a short while ago, a lesson kept
//   across a restart), times it (`countSecond`, `countScreenshot`) and stops
//   it (`stop`: its 40-minute limit, a login, a logout);
// - the offline delivery gives a lesson started offline the server's id
//   (`takeServerId`).
// Everyone else connects to the signals. Text fields hold GBK bytes.
#pragma once

#include <QObject>
#include <ctime>
#include <string>

// A room and subject: a lesson's, or what a teacher has chosen on the pages
// for the next one. An empty text means not chosen.
struct LessonChoice {
  std::string gradeID, gradeName;
  std::string classID, className;
  std::string subjectID, subjectName;

  // A new grade: the class and subject chosen before belong to the old one;
  // kept, they would start a lesson of one grade with another grade's class.
  void chooseGrade(const std::string& id, const std::string& name);
  void clear() { *this = LessonChoice(); }
};

class Lesson : public QObject {
  Q_OBJECT

 public:
  explicit Lesson(QObject* parent = nullptr) : QObject(parent) {}

  bool running() const { return running_; }
  // The server's id, or the local "offline-..." id of a lesson the server
  // has not taken yet; empty when none was started since the last sign-in.
  const std::string& processID() const { return processID_; }
  const LessonChoice& room() const { return room_; }
  const std::string& gradeID() const { return room_.gradeID; }
  const std::string& classID() const { return room_.classID; }
  const std::string& subjectID() const { return room_.subjectID; }
  // When it began, local "yyyy-MM-dd HH:mm:ss" as the server or this
  // computer gave it; empty when none runs.
  const std::string& beginTime() const { return beginTime_; }
  std::time_t startTime() const { return startTime_; }
  // Seconds the class timer has shown; 0 when none runs.
  int elapsedSeconds() const { return elapsedSeconds_; }
  // The number in the next picture's name; 1 at a lesson's start.
  int screenshotCounter() const { return screenshotCounter_; }

  // The class-start page: the server (or, offline, this computer) gave the
  // lesson `processID`; it begins now.
  void start(const std::string& processID, const LessonChoice& room, const std::string& beginTime);
  // The status window: a lesson that began `elapsedSeconds` ago goes on.
  void resume(const std::string& processID, const LessonChoice& room, const std::string& beginTime,
              long long elapsedSeconds);
  // The status window: timers off, counts back to their start. The id and
  // room stay (the next sign-in clears them with `forget`).
  void stop();
  // A sign-in or sign-out: no lesson, no id, no room.
  void forget();
  // The status window's class timer: one more second.
  void countSecond() { ++elapsedSeconds_; }
  // The status window's screenshot timer: the next picture's number.
  void countScreenshot() { ++screenshotCounter_; }
  // The offline delivery: the lesson the server knew as `localId` is now
  // `serverId`; the lesson running under it goes on under the new one.
  void takeServerId(const std::string& localId, const std::string& serverId);

 signals:
  void started();
  void resumed();
  void stopped();
  void idChanged(const std::string& from, const std::string& to);

 private:
  bool running_ = false;
  std::string processID_;
  LessonChoice room_;
  std::string beginTime_;
  std::time_t startTime_ = 0;
  int elapsedSeconds_ = 0;
  int screenshotCounter_ = 1;
};
