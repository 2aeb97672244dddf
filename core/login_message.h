// The login message of the sign-in companion, taken apart and applied to the
// ClientState. The companion sends 27 items separated by "|" for a login
// (item 0 "online") and any other first item for a logout. Taking the text
// apart is a pure step; a message that cannot be applied in full is refused
// whole, with the reason for the diagnostic log, so the client never runs
// with half of one teacher's values and half of another's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "state/client_state.h"

// Positions of the items the client uses. Empty fields vanish when the text
// is split, so a position counts only the non-empty items before it.
enum LoginItem : int {
  kItemOnline = 0,
  kItemTeacherID = 1,
  kItemTeacherName = 2,
  kItemTeacherPhone = 3,
  kItemSchoolID = 4,
  kItemSchoolName = 5,
  kItemProvinceID = 6,
  kItemProvinceName = 7,
  kItemCityID = 8,
  kItemCityName = 9,
  kItemAreaID = 10,
  kItemAreaName = 11,
  kItemServerUrl = 12,
  kItemLockScreenFlag = 13,
  kItemScreenshotInterval = 15,
  kItemFtpHost = 16,
  kItemFtpPort = 17,
  kItemLatestVersion = 19,
  kItemUpgradeVersionNumber = 21,
  kItemUpgradeInfoUrl = 23,
  kItemFtpUser = 25,
  kItemFtpPassword = 26,
  kLoginItemCount = 27,
};

// The version this client is.
inline constexpr std::string_view kClientVersion = "5.0.33";

// Screenshots never come more often than once a minute.
inline constexpr int kMinScreenshotIntervalSec = 60;

struct LoginMessage {
  bool online = false;             // item 0 is exactly "online": a login
  std::vector<std::string> items;  // every item, GBK, at least 27 for a login
  std::string ftpUser;             // items 25 and 26 decoded (login only)
  std::string ftpPassword;
};

struct LoginParseResult {
  bool accepted = false;
  LoginMessage message;
  // Why the message was refused (GBK, one line for the diagnostic log);
  // empty when accepted.
  std::string rejection;
};

// The text of the data block: it ends at its first NUL byte or at the end
// of the block.
std::string loginTextOfBlock(std::string_view block);

// The text as the diagnostic log holds it: its items joined by "|", the FTP
// password's item and any after it replaced by "***" (the last item of a
// login short of items), so neither the log nor the journal holds anything
// that decodes to the password.
std::string loginTextForLog(std::string_view text);

// Takes a login or logout text apart. Refused: an empty message (no items),
// a login with fewer than 27 items, a login whose interval item is not a
// decimal number.
LoginParseResult parseLoginMessage(std::string_view text);

// The login's writes into the record: signed in, the teacher, school, area,
// lock-screen, interval (never below 60), FTP and upgrade values. (The
// server address item is not used: the address in use is the one read at
// start-up. The lesson and the pages' choices are cleared by the status
// window.)
void applyLogin(const LoginMessage& message, ClientStateRecord& state);

// The logout's writes: signed out. Teacher, school, area, server, FTP and
// upgrade values stay.
void applyLogout(ClientStateRecord& state);

// The interval item as it is stored: "60" when its value is below 60,
// otherwise the item unchanged. Expects an item parseLoginMessage accepted.
std::string effectiveScreenshotInterval(std::string_view item);

// The screenshot timer's interval for a stored interval text, in
// milliseconds; capped where seconds x 1000 would not fit a timer.
int screenshotIntervalMs(std::string_view intervalSec);

// Whether the server announces a newer client: `current` is smaller than
// `latest` byte by byte (a prefix is the smaller; "5.0.4" is newer than
// "5.0.33", "5.0.100" is not).
bool upgradeAnnounced(std::string_view current, std::string_view latest);
