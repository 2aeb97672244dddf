// The status window's lesson: the class timer with its 40-minute limit, the
// lock timer, the screenshot timer, the lesson stop and the resume of a
// lesson the server still counts.
#include <QLabel>
#include <algorithm>
#include <array>

#include "core/fdck.h"
#include "core/lamp_shape.h"
#include "core/offline_records.h"
#include "core/sign_in.h"
#include "replies/json_func.h"
#include "state/client_state.h"
#include "store/offline_store.h"
#include "sys/qt_text.h"

namespace {

const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);
constexpr int kLessonLimitMinutes = 40;

// A lesson's room and subject from a server reply or a row of edu.db, each
// naming its six values in its own words.
template <typename Row>
LessonChoice roomOf(const Row& row, const std::array<const char*, 6>& names) {
  LessonChoice room;
  room.gradeID = row.text(names[0]);
  room.gradeName = row.text(names[1]);
  room.classID = row.text(names[2]);
  room.className = row.text(names[3]);
  room.subjectID = row.text(names[4]);
  room.subjectName = row.text(names[5]);
  return room;
}

}  // namespace

void TForm1::setTimeDisplay(int minutes, int seconds) {
  Label2->setText(QString("%1:%2").arg(minutes, 2, 10, QChar('0')).arg(seconds, 2, 10, QChar('0')));
  Label2->adjustSize();
}

void TForm1::stopLesson() {
  Timer1.stop();
  Timer3.stop();
  Timer4.stop();
  Label2->setText("00：00");
  Label2->adjustSize();
  clearKeptSession();
  lesson_.stop();
}

void TForm1::startLessonTimers() {
  Timer1.start();
  Timer3.start();
  Timer4.stop();
  keepSession();
}

bool TForm1::isLessonRunning() const { return lesson_.running(); }

void TForm1::Timer1Timer() {
  Shape1->setBrushColor(Shape1->brushColor() == kLime ? kRed : kLime);
  const int elapsed = std::max(0, lesson_.elapsedSeconds());
  const int minutes = elapsed / 60;
  const int seconds = elapsed % 60;
  if (minutes >= kLessonLimitMinutes) {
    stopLesson();
    Timer4.start();
    // The display keeps the limit it reached; the count stays at 0 so the
    // next lesson starts at 00:00.
    setTimeDisplay(minutes, seconds);
    return;
  }
  setTimeDisplay(minutes, seconds);
  lesson_.countSecond();
}

void TForm1::Timer3Timer() {
  lesson_.countScreenshot();
  if (services_.screenshotTick) services_.screenshotTick();
}

void TForm1::Timer4Timer() {
  Timer4.stop();
  suiImageButton2Click();
}

void TForm1::resumeReply(const std::string& replyText) {
  const std::string json = Json_Func::ExtractJsonPart(replyText);
  if (uploadQueueClient_ != nullptr) uploadQueueClient_->finishRequest(replyText);
  // A teacher who signed out while the question was on its way gets no lesson.
  if (!ClientState.loginState) return;
  Json_Func::RecordList lessons;
  if (!json.empty()) Json_Func::ReadLessonRecords(json, lessons);
  // No answer, or no lesson on the server: a lesson this teacher started
  // offline a short while ago goes on.
  // Only when the server did not answer at all does a lesson kept before a
  // restart go on from what was kept.
  if (lessons.empty()) {
    if (!takeUpOfflineLesson() && json.empty()) takeUpKeptLesson();
    resumingFrom_.reset();
    return;
  }
  resumingFrom_.reset();

  // Only the first lesson counts, and only when it is this teacher's.
  const Json_Func::JsonRecord& lesson = lessons.front();
  if (lesson.text("teacherID") != ClientState.teacherID) {
    stopLesson();
    return;
  }
  signin::takeLessonTeacher(lesson.text("teacherID"), lesson.text("userName"), lesson.text("mobile"),
                            lesson.text("schoolID"), lesson.text("schoolName"));
  Label1->setText(text::toQString(ClientState.teacherName) + " 老师");
  Label1->adjustSize();
  const LessonChoice room =
      roomOf(lesson, {"gradeID", "gradeName", "classesID", "classesName", "subjectID", "subjectName"});
  lesson_.resume(lesson.text("processID"), room, lesson.text("beginTime"), lesson.integer("timeDiff"));
}

bool TForm1::takeUpOfflineLesson() {
  // A lesson started meanwhile on this computer goes on.
  if (isLessonRunning()) return false;
  const std::time_t now = std::time(nullptr);
  const std::time_t limit = now - kLessonLimitMinutes * 60;
  std::tm local{};
  localtime_r(&limit, &local);
  const DB_Func::RowSet lesson =
      DB_Func::QueryRecentOfflineLesson(ClientState.teacherID, offline::timeText(local));
  if (lesson.rowCount() == 0) return false;
  const std::string beginTime = lesson.text("begin_time");
  std::tm begin{};
  if (strptime(beginTime.c_str(), "%Y-%m-%d %H:%M:%S", &begin) == nullptr) return false;
  begin.tm_isdst = -1;
  const std::time_t began = std::mktime(&begin);

  signin::takeLessonSchool(lesson.text("school_id"));
  const LessonChoice room =
      roomOf(lesson, {"grade_id", "grade_name", "class_id", "class_name", "subject_id", "subject_name"});
  // Its pictures keep going to the lesson's folder and wait for delivery;
  // once the server has taken it, it goes on under the server's id.
  const std::string serverID = lesson.text("process_id");
  const std::string processID = serverID.empty() ? lesson.text("local_id") : serverID;
  appendLog("offline lesson taken up: " + processID);
  lesson_.resume(processID, room, beginTime, now - began);
  return true;
}
