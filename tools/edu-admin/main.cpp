// edu-admin: the school IT admin's command for a classroom PC.
//
//   edu-admin server ADDRESS   store the server address in the client's edu.db
//   edu-admin show             data folder, stored address, log file, cached rows
//   edu-admin --help
//
// It uses the edu.db the client will use: the same data-folder decision, so
// on a read-only program folder the user's copy is made first, as the client
// would make it. Exit status 0 done, 1 failure (no or unwritable edu.db),
// 2 wrong use or an address the client could not use.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/data_dir.h"
#include "platform/program_dir.h"
#include "server/server_address.h"
#include "store/db_func.h"
#include "store/offline_store.h"
#include "sys/text_codec.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kWrongUse = 2;

const char kUsage[] =
    "用法 / usage:\n"
    "  edu-admin server ADDRESS   设置服务器地址 / store the server address\n"
    "  edu-admin show             显示数据目录、服务器地址、日志和缓存 / show data folder, address, log, "
    "cache\n"
    "  edu-admin --help           本说明 / this text\n"
    "\n"
    "ADDRESS: host, host:port or host:port/path (a leading http:// is accepted),\n"
    "for example 192.168.1.10:8080/edu. The address goes into the edu.db that\n"
    "edu-client uses: beside the program when its folder is writable (as root on\n"
    "an installed package: the copy every new user starts from), else the\n"
    "user's own copy in $XDG_DATA_HOME/edu-client or ~/.local/share/edu-client.\n"
    "A running client keeps the address it started with; restart it.\n"
    "\n"
    "Exit status: 0 done, 1 failed (edu.db missing or not writable), 2 wrong use\n"
    "or an address the client cannot use.\n";

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
  if (!locateDatabase()) return kFailed;
  try {
    DB_Func::StoreServerUrl(text::utf8ToGbk(address));
  } catch (const DB_Func::DbError& error) {
    return databaseFailed("写入", "write", error);
  }
  const ServerAddress split = *usableServerAddress(address);
  std::printf("server address stored in %s: %s (host %s, port %d, path %s%s)\n",
              DB_Func::DatabasePath().c_str(), address.c_str(), split.host.c_str(), split.port,
              split.path.c_str(), split.secure ? ", over TLS" : "");
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

int show() {
  const platform::DataFolder& folder = platform::dataFolder();
  std::printf("program folder: %s\n", platform::programDir().c_str());
  std::printf("data folder:    %s\n", folder.path.c_str());
  // The log line's reason, without the folder it names again.
  const std::string named = "data folder: " + folder.path + " ";
  const std::string why = folder.note.rfind(named, 0) == 0 ? folder.note.substr(named.size()) : folder.note;
  std::printf("                %s\n", why.c_str());
  std::printf("log file:       %s/log/edu-client.log\n", folder.path.c_str());
  if (!locateDatabase()) return kFailed;
  std::printf("edu.db:         %s\n", DB_Func::DatabasePath().c_str());
  try {
    const DB_Func::RowSet login = DB_Func::ReadLoginInfo();
    const std::string address =
        login.rowCount() == 0 ? std::string() : text::gbkToUtf8(login.text("http_url"));
    if (address.empty())
      std::printf("server address: (none stored: the client asks for it at its first start)\n");
    else
      std::printf("server address: %s%s\n", address.c_str(),
                  usableServerAddress(address) ? "" : "  (not usable: the client asks for another)");
    std::printf("cached rows:\n");
    for (const DB_Func::TableRowCount& count : DB_Func::CountCachedRows())
      std::printf("  %-14s %lld\n", count.table.c_str(), count.rows);
    const std::vector<DB_Func::TableRowCount> pending = pendingOfflineItems();
    std::printf("pending offline items:%s\n", pending.empty() ? " none" : "");
    for (const DB_Func::TableRowCount& count : pending)
      std::printf("  %-14s %lld\n", count.table.c_str(), count.rows);
  } catch (const DB_Func::DbError& error) {
    return databaseFailed("读取", "read", error);
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
  if (args.size() == 2 && args[0] == "server") return setServer(args[1]);
  if (args.size() == 1 && args[0] == "show") return show();
  std::fprintf(stderr, "%s", kUsage);
  return kWrongUse;
}
