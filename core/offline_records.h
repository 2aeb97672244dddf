// The lesson records the client keeps while the server cannot be reached:
// the local id of a lesson started offline, and the pictures that wait for
// a later delivery. The records themselves live in edu.db (offline_store.h).
#pragma once

#include <ctime>
#include <string>

#include "core/screenshot_taker.h"
#include "store/offline_store.h"

namespace offline {

// "offline-" and the local start time as yyyyMMddHHmmss: the lesson's id
// until the server gives it one, and the name of its picture folder.
std::string lessonIdAt(const std::tm& localStart);
bool isOfflineLessonId(const std::string& processID);
// "yyyy-MM-dd HH:mm:ss", the form the server reads beginTime and shotTime in.
std::string timeText(const std::tm& local);
std::tm localNow();

// Records a picture the server has not got yet, under the lesson it was
// taken in (the lesson of its job, added when it is an online one seen for
// the first time), as `shotState` (pending, or sending while its live post
// is on its way). Returns its row id; 0 when its offline lesson is not
// stored.
long long recordPicture(const ScreenshotUpload& picture, const std::string& shotState);

}  // namespace offline
