#include "core/sign_in.h"

#include "state/client_state.h"

namespace signin {

void applyLogin(const LoginMessage& message) { ::applyLogin(message, ClientState); }

void applyLogout() { ::applyLogout(ClientState); }

void takePicked(const Picked& picked) {
  ClientState.teacherID = picked.teacherID;
  ClientState.teacherName = picked.teacherName;
  ClientState.teacherPhone = picked.teacherPhone;
  const auto take = [](const std::optional<Picked::Level>& level, std::string& id, std::string& name) {
    if (!level) return;
    id = level->id;
    name = level->name;
  };
  take(picked.province, ClientState.provinceID, ClientState.provinceName);
  take(picked.city, ClientState.cityID, ClientState.cityName);
  take(picked.area, ClientState.areaID, ClientState.areaName);
  take(picked.school, ClientState.schoolID, ClientState.schoolName);
}

void takeLessonTeacher(const std::string& teacherID, const std::string& teacherName,
                       const std::string& teacherPhone, const std::string& schoolID,
                       const std::string& schoolName) {
  ClientState.teacherID = teacherID;
  ClientState.teacherName = teacherName;
  ClientState.teacherPhone = teacherPhone;
  ClientState.schoolID = schoolID;
  ClientState.schoolName = schoolName;
}

void takeLessonSchool(const std::string& schoolID) { ClientState.schoolID = schoolID; }

void useServerAddress(const ServerAddress& address) {
  ClientState.serverHost = address.host;
  ClientState.serverPort = address.port;
  ClientState.serverPath = address.path;
  ClientState.serverSecure = address.secure;
}

void setComputer(const std::string& diskID, const std::string& ftpTls) {
  ClientState.diskID = diskID;
  ClientState.ftpTls = ftpTls;
}

}  // namespace signin
