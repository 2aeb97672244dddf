// The lock screen's login message with values of any bytes: either it is
// refused with a reason and nothing is sent, or the client's own parser
// takes it as a login of exactly 27 items and every value lands unchanged in
// its ClientState field (the server address, which the client does not
// keep, in its item).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/login_message.h"
#include "state/client_state.h"
#include "tools/LockScreen/login_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  LoginValues v;
  for (std::string* field : {&v.teacherID,      &v.teacherName,
                             &v.teacherPhone,   &v.schoolID,
                             &v.schoolName,     &v.provinceID,
                             &v.provinceName,   &v.cityID,
                             &v.cityName,       &v.areaID,
                             &v.areaName,       &v.serverUrl,
                             &v.lockScreenFlag, &v.screenshotIntervalSec,
                             &v.ftpHost,        &v.ftpPort,
                             &v.ftpUser,        &v.ftpPassword,
                             &v.latestVersion,  &v.upgradeVersionNumber,
                             &v.upgradeInfoUrl})
    *field = input.ConsumeRandomLengthString(24);
  const uint8_t userSeed = input.ConsumeIntegral<uint8_t>();
  const uint8_t passwordSeed = input.ConsumeIntegral<uint8_t>();

  const LoginTextResult built = buildLoginText(v, userSeed, passwordSeed);
  if (!built.problem.empty()) {
    if (!built.text.empty()) std::abort();
    return 0;
  }
  const LoginParseResult parsed = parseLoginMessage(built.text);
  if (!parsed.accepted || !parsed.message.online || parsed.message.items.size() != kLoginItemCount)
    std::abort();
  ClientStateRecord s;
  applyLogin(parsed.message, s);
  if (s.teacherID != v.teacherID || s.teacherName != v.teacherName || s.teacherPhone != v.teacherPhone ||
      s.schoolID != v.schoolID || s.schoolName != v.schoolName || s.provinceID != v.provinceID ||
      s.provinceName != v.provinceName || s.cityID != v.cityID || s.cityName != v.cityName ||
      s.areaID != v.areaID || s.areaName != v.areaName ||
      parsed.message.items[kItemServerUrl] != v.serverUrl || s.lockScreenFlag != v.lockScreenFlag ||
      s.screenshotIntervalSec != effectiveScreenshotInterval(v.screenshotIntervalSec) ||
      s.ftpHost != v.ftpHost || s.ftpPort != v.ftpPort || s.ftpUser != v.ftpUser ||
      s.ftpPassword != v.ftpPassword || s.latestVersion != v.latestVersion ||
      s.upgradeVersionNumber != v.upgradeVersionNumber || s.upgradeInfoUrl != v.upgradeInfoUrl)
    std::abort();
  return 0;
}
