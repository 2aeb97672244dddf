// edu-admin: the school IT admin's command for a classroom PC.
//
//   edu-admin server ADDRESS   set the server address: as root for every user
//                              (/etc/edu-client/conf.d/50-edu-admin.conf), as
//                              a user in the user's own edu.db
//   edu-admin show             settings and their files, data folder, stored
//                              address, log file, cached rows; as root every
//                              user's data folder too
//   edu-admin check            does the server (and the FTP server) answer?
//   edu-admin report [FILE]    a .tar.gz for support, without passwords
//   edu-admin resend           put the items the server refused back in the queue
//   edu-admin allow-screenshot let the desktop portal hand out screenshots
//                              without asking (GNOME, KDE; current user)
//   edu-admin --help | --version
//
// As a user it uses the edu.db the client will use: the same data-folder
// decision, so on a read-only program folder the user's copy is made first,
// as the client would make it. Nothing is ever written into the program
// folder of an installed package. Exit status 0 done, 1 failure (no or
// unwritable edu.db or settings file, or the address is set elsewhere), 2
// wrong use or an address the client could not use.
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/data_dir.h"
#include "platform/dbus/screenshot_permission.h"
#include "platform/program_dir.h"
#include "platform/site_files.h"
#include "platform/user_folders.h"
#include "server/server_address.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/deployment_settings.h"
#include "sys/text_codec.h"
#include "tools/edu-admin/diagnose.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kWrongUse = 2;

const char kUsage[] =
    "用法 / usage:\n"
    "  edu-admin server ADDRESS   设置服务器地址 / store the server address\n"
    "  edu-admin show             显示数据目录、服务器地址、日志和缓存 / show data folder, address, log, "
    "cache\n"
    "  edu-admin check            检查服务器是否可以连接 / try the server (and FTP server)\n"
    "  edu-admin report [FILE]    生成支持用的报告 / write a .tar.gz for support, without passwords\n"
    "  edu-admin resend           重新上传被服务器拒绝的离线数据 / send refused offline items again\n"
    "  edu-admin allow-screenshot 允许桌面门户静默截图（GNOME、KDE，当前用户）/ let the desktop portal\n"
    "                             give screenshots without asking (GNOME, KDE; the current user)\n"
    "  edu-admin --help           本说明 / this text\n"
    "  edu-admin --version        版本 / version\n"
    "\n"
    "ADDRESS: host, host:port or host:port/path (a leading http:// is accepted),\n"
    "for example 192.168.1.10:8080/edu. Run as root, the address is set for every\n"
    "user of this computer in /etc/edu-client/conf.d/50-edu-admin.conf; running\n"
    "clients follow it within 10 seconds. Run as a user, it goes into the edu.db\n"
    "that user's edu-client uses (beside the program when its folder is\n"
    "writable, else $XDG_DATA_HOME/edu-client or ~/.local/share/edu-client),\n"
    "unless /etc/edu-client sets one: then the file that sets it is named.\n"
    "\n"
    "Exit status: 0 done, 1 failed (edu.db or the settings file missing or not\n"
    "writable, or the address is set in /etc), 2 wrong use or an address the\n"
    "client cannot use.\n";

// The drop-in root's command writes; later names still win over it.
const char kAdminDropIn[] = "50-edu-admin.conf";

// What the admin runs against: the client's own decision.
bool locateDatabase() {
  if (DB_Func::LocateDatabase()) return true;
  std::fprintf(stderr, "edu-admin: 找不到数据库 edu.db（数据目录 %s）\n", platform::dataDir().c_str());
  std::fprintf(stderr, "edu-admin: no edu.db in the data folder %s (%s)\n", platform::dataDir().c_str(),
               platform::dataFolder().note.c_str());
  return false;
}

int databaseFailed(const char* doingChinese, const char* doingEnglish, const DB_Func::DbError& error) {
  const std::string message = error.message() + " (" + std::to_string(error.code()) + ")";
  const char* path = DB_Func::DatabasePath().c_str();
  std::fprintf(stderr, "edu-admin: 无法%s数据库 %s：%s\n", doingChinese, path, message.c_str());
  std::fprintf(stderr, "edu-admin: cannot %s the database %s: %s\n", doingEnglish, path, message.c_str());
  return kFailed;
}

std::string describeAddress(const std::string& address) {
  const ServerAddress split = *usableServerAddress(address);
  return address + " (host " + split.host + ", port " + std::to_string(split.port) + ", path " + split.path +
         (split.secure ? ", over TLS" : "") + ")";
}

// The address the site's settings set for every user, with its file.
std::optional<panels::SettingSource> siteServerAddress() {
  return panels::configuredServer(platform::programDir());
}

// Root: one drop-in for every user; the clients read it at once.
int setSiteServer(const std::string& address) {
  const std::string file = platform::siteSettingsDir() + "/conf.d/" + kAdminDropIn;
  const std::string text =
      "# Written by \"edu-admin server\": the school's server for every user of this\n"
      "# computer. A file named later in this folder wins over this one.\n"
      "server=" +
      address + "\n";
  std::string error;
  if (!platform::replaceFile(file, text, 0644, &error)) {
    std::fprintf(stderr, "edu-admin: 无法写入设置文件：%s\n", error.c_str());
    std::fprintf(stderr, "edu-admin: cannot write the settings file: %s\n", error.c_str());
    return kFailed;
  }
  std::printf("server address for every user set in %s: %s\n", file.c_str(),
              describeAddress(address).c_str());
  const std::optional<panels::SettingSource> inUse = siteServerAddress();
  if (inUse && inUse->file != file) {
    std::fprintf(stderr, "edu-admin: 但 %s 设置的地址 %s 优先\n", inUse->file.c_str(), inUse->value.c_str());
    std::fprintf(stderr, "edu-admin: but %s, read after it, sets %s: that address stays in use\n",
                 inUse->file.c_str(), inUse->value.c_str());
    return kFailed;
  }
  std::printf("running clients use it within 10 seconds\n");
  return kDone;
}

int setServer(const std::string& address) {
  if (!usableServerAddress(address)) {
    std::fprintf(
        stderr,
        "edu-admin: 服务器地址无效：%s（应为 主机、主机:端口 或 主机:端口/路径，可带 http:// 或 https://）\n",
        address.c_str());
    std::fprintf(stderr,
                 "edu-admin: not a usable server address: %s (expected host, host:port or host:port/path, "
                 "optionally after http:// or https://)\n",
                 address.c_str());
    return kWrongUse;
  }
  if (::geteuid() == 0) return setSiteServer(address);
  if (const std::optional<panels::SettingSource> site = siteServerAddress()) {
    std::fprintf(stderr, "edu-admin: 服务器地址由 %s 设置（%s），请联系管理员\n", site->file.c_str(),
                 site->value.c_str());
    std::fprintf(
        stderr,
        "edu-admin: the server address is set for every user in %s (%s); "
        "it wins over the user's own, so nothing was stored (root changes it with edu-admin server)\n",
        site->file.c_str(), site->value.c_str());
    return kFailed;
  }
  if (!locateDatabase()) return kFailed;
  try {
    DB_Func::StoreServerUrl(text::utf8ToGbk(address));
  } catch (const DB_Func::DbError& error) {
    return databaseFailed("写入", "write", error);
  }
  std::printf("server address stored in %s: %s\n", DB_Func::DatabasePath().c_str(),
              describeAddress(address).c_str());
  return kDone;
}

// The offline records this client keeps until the server takes them: one
// line per kind that has any. An edu.db from before the client kept them
// has none.
std::vector<DB_Func::TableRowCount> pendingOfflineItems() {
  DB_Func::PendingCounts counts;
  try {
    counts = DB_Func::CountPending();
  } catch (const DB_Func::DbError&) {
    return {};  // the client adds its own tables at its next start
  }
  std::vector<DB_Func::TableRowCount> items;
  for (const auto& [name, count] :
       {std::pair("lessons", counts.lessons), std::pair("screenshots", counts.shots),
        std::pair("fault reports", counts.repairs)})
    if (count > 0) items.push_back({name, count});
  return items;
}

// The address stored in the located edu.db, one line.
void printStoredAddress(const char* label) {
  const DB_Func::RowSet login = DB_Func::ReadLoginInfo();
  const std::string address = login.rowCount() == 0 ? std::string() : text::gbkToUtf8(login.text("http_url"));
  if (address.empty())
    std::printf("%s(none stored: the client asks for it at its first start)\n", label);
  else
    std::printf("%s%s%s\n", label, address.c_str(),
                usableServerAddress(address) ? "" : "  (not usable: the client asks for another)");
}

void printPending(const char* indent) {
  const std::vector<DB_Func::TableRowCount> pending = pendingOfflineItems();
  std::printf("%spending offline items:%s\n", indent, pending.empty() ? " none" : "");
  for (const DB_Func::TableRowCount& count : pending)
    std::printf("%s  %-14s %lld\n", indent, count.table.c_str(), count.rows);
}

// Every setting the site's files set, with the file it came from.
void showSettings() {
  const panels::LayeredSettings site = panels::loadLayeredSettings(platform::programDir());
  std::printf("settings files:%s\n", site.files.empty() ? " none (every value at its default)" : "");
  for (const std::string& file : site.files) std::printf("  %s\n", file.c_str());
  for (const std::string& refused : site.refused) std::printf("  refused: %s\n", refused.c_str());
  for (const auto& [key, source] : site.sources)
    std::printf("  %s=%s  (%s)\n", key.c_str(), source.value.c_str(), source.file.c_str());
}

// Root's view: each user's data folder, the address kept there, what waits
// and the log.
int showUsers() {
  const std::vector<platform::UserDataFolder> users = platform::usersWithDataFolder();
  std::printf("users with a data folder:%s\n", users.empty() ? " none" : "");
  int status = kDone;
  for (const platform::UserDataFolder& user : users) {
    std::printf("  %s: %s\n", user.user.c_str(), user.folder.c_str());
    std::printf("    log file:       %s/log/edu-client.log\n", user.folder.c_str());
    if (!DB_Func::LocateDatabaseIn(user.folder)) {
      std::printf("    edu.db:         none\n");
      continue;
    }
    try {
      printStoredAddress("    server address: ");
      printPending("    ");
    } catch (const DB_Func::DbError& error) {
      status = databaseFailed("读取", "read", error);
    }
  }
  return status;
}

// Damaged edu.db files the client moved aside and replaced, oldest first.
std::vector<std::string> damagedCopies(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("edu.db.damaged-", 0) == 0 && name.find("-journal") == std::string::npos &&
        name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
      found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Pictures the retention had to remove before the server had them.
int discardedPictures() {
  try {
    return DB_Func::CountDiscardedShots();
  } catch (const DB_Func::DbError&) {
    return 0;  // the client adds its own tables at its next start
  }
}

// Captures the client could not use (failed, or blank: one colour over the
// whole screen), as its log files still tell; the newest line says why.
void showRefusedCaptures(const std::string& dataFolder) {
  long count = 0;
  std::string newest;
  for (const char* suffix : {".4", ".3", ".2", ".1", ""}) {
    std::ifstream file(dataFolder + "/log/edu-client.log" + suffix);
    for (std::string line; std::getline(file, line);) {
      if (line.find("截图全黑：") == std::string::npos && line.find("截图失败：") == std::string::npos)
        continue;
      ++count;
      newest = line;
    }
  }
  std::printf("screenshots not taken (blank or failed) in the log: %ld\n", count);
  if (count > 0) std::printf("                %s\n", newest.c_str());
}

int allowScreenshots(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the bus connection wants one
  std::string why;
  if (!platform::allowPortalScreenshots(why)) {
    std::fprintf(stderr, "edu-admin: 无法设置截图权限：%s\n", why.c_str());
    std::fprintf(stderr, "edu-admin: the screenshot permission cannot be set: %s\n", why.c_str());
    return kFailed;
  }
  std::printf(
      "screenshots through the desktop portal allowed without asking for this user "
      "(permission store: table screenshot, id screenshot, app \"\": yes)\n");
  return kDone;
}

int show() {
  showSettings();
  const std::optional<panels::SettingSource> site = siteServerAddress();
  if (site)
    std::printf("server address in use: %s (from %s, for every user)\n", site->value.c_str(),
                site->file.c_str());
  const std::string program = platform::programDir();
  std::printf("program folder: %s\n", program.c_str());
  // Root on the installed package looks after every user; root in a built
  // or copied folder sees that folder's data, as anyone running it would.
  if (::geteuid() == 0 && (platform::packagedProgramFolder(program) || !platform::folderWritable(program)))
    return showUsers();
  const platform::DataFolder& folder = platform::dataFolder();
  std::printf("data folder:    %s\n", folder.path.c_str());
  // The log line's reason, without the folder it names again.
  const std::string named = "data folder: " + folder.path + " ";
  const std::string why = folder.note.rfind(named, 0) == 0 ? folder.note.substr(named.size()) : folder.note;
  std::printf("                %s\n", why.c_str());
  std::printf("log file:       %s/log/edu-client.log\n", folder.path.c_str());
  showRefusedCaptures(folder.path);
  if (!locateDatabase()) return kFailed;
  std::printf("edu.db:         %s\n", DB_Func::DatabasePath().c_str());
  for (const std::string& copy : damagedCopies(folder.path))
    std::printf("damaged edu.db: %s (found damaged by the client, replaced by a clean copy; kept for you)\n",
                copy.c_str());
  try {
    printStoredAddress(site ? "server address: (edu.db) " : "server address: ");
    std::printf("cached rows:\n");
    for (const DB_Func::TableRowCount& count : DB_Func::CountCachedRows())
      std::printf("  %-14s %lld\n", count.table.c_str(), count.rows);
    printPending("");
    const int discarded = discardedPictures();
    if (discarded > 0)
      std::printf("screenshots discarded before delivery (picture folder or disk full): %d\n", discarded);
  } catch (const DB_Func::DbError& error) {
    return databaseFailed("读取", "read", error);
  }
  return kDone;
}

// Items the server refused (after repeated refusals over an hour) go back
// to pending; the running client sends them at its next try.
int resend() {
  if (!locateDatabase()) return kFailed;
  try {
    DB_Func::EnsureOwnTables();
    const int resent = DB_Func::ResendRefused();
    std::printf("%d refused offline item%s put back in the queue; the client sends %s at its next try\n",
                resent, resent == 1 ? "" : "s", resent == 1 ? "it" : "them");
  } catch (const DB_Func::DbError& error) {
    return databaseFailed("写入", "write", error);
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::printf("edu-admin %s\n\n%s", EDU_CLIENT_VERSION, kUsage);
    return kDone;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("edu-admin %s\n", EDU_CLIENT_VERSION);
    return kDone;
  }
  if (args.size() == 2 && args[0] == "server") return setServer(args[1]);
  if (args.size() == 1 && args[0] == "show") return show();
  if (args.size() == 1 && args[0] == "check") return admin::check(argc, argv);
  if ((args.size() == 1 || args.size() == 2) && args[0] == "report")
    return admin::report(args.size() == 2 ? args[1] : "");
  if (args.size() == 1 && args[0] == "resend") return resend();
  if (args.size() == 1 && args[0] == "allow-screenshot") return allowScreenshots(argc, argv);
  std::fprintf(stderr, "%s", kUsage);
  return kWrongUse;
}
