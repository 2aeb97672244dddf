// The only writer of the ClientState: every change to who is signed in, to
// the server's address and to this computer's values goes through here, so
// that "who set this field?" has one answer per routine below. All of them
// run on the UI thread.
#pragma once

#include <optional>
#include <string>

#include "core/login_message.h"
#include "server/http_helpers.h"

namespace signin {

// The sign-in companion's login and logout messages.
void applyLogin(const LoginMessage& message);
void applyLogout();

// A teacher picked in the picker, with the school and areas chosen there
// (a level not chosen stays as it was).
struct Picked {
  struct Level {
    std::string id, name;
  };
  std::string teacherID, teacherName, teacherPhone;
  std::optional<Level> province, city, area, school;
};
void takePicked(const Picked& picked);

// The teacher and school of a lesson the server still counts for this
// computer, as its answer names them.
void takeLessonTeacher(const std::string& teacherID, const std::string& teacherName,
                       const std::string& teacherPhone, const std::string& schoolID,
                       const std::string& schoolName);
// The school of a lesson taken up from this computer's own records.
void takeLessonSchool(const std::string& schoolID);

// The server every request goes to from now on.
void useServerAddress(const ServerAddress& address);

// This computer's disk identity and the site's FTP encryption setting.
void setComputer(const std::string& diskID, const std::string& ftpTls);

}  // namespace signin
