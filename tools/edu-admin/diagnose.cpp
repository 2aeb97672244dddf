#include "tools/edu-admin/diagnose.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/data_dir.h"
#include "platform/error_words.h"
#include "platform/program_dir.h"
#include "platform/run_program.h"
#include "platform/site_files.h"
#include "platform/tcp_stream.h"
#include "platform/user_folders.h"
#include "replies/json_func.h"
#include "server/get_client.h"
#include "server/http_url.h"
#include "server/server_address.h"
#include "store/db_error.h"
#include "store/db_func.h"
#include "store/kept_session.h"
#include "sys/deployment_settings.h"
#include "sys/hd_serial.h"
#include "sys/protected_text.h"
#include "sys/split_items.h"
#include "sys/text_codec.h"

namespace admin {

namespace {

namespace fs = std::filesystem;

// Login items that name the FTP server and its password.
constexpr size_t kFtpHostItem = 16;
constexpr size_t kFtpPortItem = 17;
constexpr size_t kFtpPasswordItem = 26;

// The login of the teacher signed in (kept for a restart), split; empty
// when none is kept.
std::vector<std::string> keptLoginItems() {
  try {
    if (const auto kept = DB_Func::ReadKeptSession()) return splitItems(kept->loginText, "|", " ");
  } catch (const DB_Func::DbError&) {
  }
  return {};
}

// The server answers the question a login asks (is a lesson running on this
// computer?) cheaply and without changing anything.
bool checkServer(const std::string& address) {
  const std::optional<ServerAddress> split = usableServerAddress(address);
  if (!split) {
    std::printf("server %s: not a usable address\n", address.c_str());
    return false;
  }
  const std::string where = split->host + ":" + std::to_string(split->port);
  server::GetClient client;
  client.setServer(split->host, split->port);
  std::string failure;
  client.setRequestLog([&](const std::string& line) {
    const size_t at = line.find(" failed: ");
    if (at != std::string::npos) failure = line.substr(at + 9);
  });
  QEventLoop loop;
  std::string reply;
  bool done = false;
  client.setReplyHandler([&](const std::string& text) {
    reply = text;
    done = true;
    loop.quit();
  });
  QElapsedTimer took;
  took.start();
  client.startRequest(HttpUrl::RunningLesson(split->path, ReadDiskIdentity()));
  if (!done) loop.exec();
  client.finishRequest(reply);
  if (!failure.empty()) {
    std::printf("server %s: NOT reached: %s\n", where.c_str(), failure.c_str());
    std::printf("  服务器无法连接：%s\n", where.c_str());
    return false;
  }
  if (Json_Func::ExtractJsonPart(reply).empty()) {
    std::printf(
        "server %s: answered in %lld ms, but not as the school's server answers (is the path %s right?)\n",
        where.c_str(), static_cast<long long>(took.elapsed()), split->path.c_str());
    return false;
  }
  std::printf("server %s: answers (%lld ms)\n", where.c_str(), static_cast<long long>(took.elapsed()));
  return true;
}

// The FTP server answers with its "220" greeting.
bool checkFtp(const std::string& host, const std::string& port) {
  const std::string where = host + ":" + port;
  const int number = std::atoi(port.c_str());
  platform::TcpStream stream;
  if (number < 1 || number > 65535 || !stream.connect(host, static_cast<uint16_t>(number), 5000)) {
    std::printf(
        "FTP server %s: NOT reached: %s\n", where.c_str(),
        stream.lastError() != 0 ? platform::errorInWords(stream.lastError()).c_str() : "name not found");
    return false;
  }
  char greeting[256] = {};
  long got = -1;
  if (stream.waitReadable(5000) == platform::WaitResult::Ready)
    got = stream.receive(greeting, sizeof greeting - 1);
  if (got < 3 || std::string(greeting, 3) != "220") {
    std::printf("FTP server %s: connected, but no FTP greeting within 5 s\n", where.c_str());
    return false;
  }
  std::printf("FTP server %s: answers\n", where.c_str());
  return true;
}

std::string nowText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

// Lines that could give a secret away are left out whole: login messages,
// anything naming a password, and the kept sign-in's FTP password in either
// form.
std::string withoutSecrets(const std::string& text, const std::vector<std::string>& secrets) {
  std::string kept;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(from, end - from);
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const bool secret =
        std::count(line.begin(), line.end(), '|') >= 20 || lower.find("password") != std::string::npos ||
        std::any_of(secrets.begin(), secrets.end(),
                    [&](const std::string& s) { return !s.empty() && line.find(s) != std::string::npos; });
    kept += secret ? "(line left out: it may hold a password)\n" : line + "\n";
    from = end + 1;
  }
  return kept;
}

bool writeText(const std::string& path, const std::string& text) {
  std::string error;
  return platform::replaceFile(path, text, 0600, &error);
}

std::string output(const std::vector<std::string>& arguments) {
  std::string text;
  const int status = platform::runProgram(arguments, &text);
  if (status < 0) return "(" + arguments.front() + " could not be run)\n";
  return text;
}

}  // namespace

std::optional<AddressInUse> addressInUse() {
  if (const auto site = panels::configuredServer(platform::programDir()))
    return AddressInUse{site->value, site->file};
  if (!DB_Func::LocateDatabase()) return std::nullopt;
  try {
    const DB_Func::RowSet login = DB_Func::ReadLoginInfo();
    if (login.rowCount() > 0 && !login.text("http_url").empty())
      return AddressInUse{text::gbkToUtf8(login.text("http_url")), DB_Func::DatabasePath()};
  } catch (const DB_Func::DbError&) {
  }
  return std::nullopt;
}

int check(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::optional<AddressInUse> address = addressInUse();
  if (!address) {
    std::printf("server: no address is set (edu-admin server ADDRESS sets one)\n");
    return 1;
  }
  std::printf("server address in use: %s (from %s)\n", address->address.c_str(), address->from.c_str());
  bool fine = checkServer(address->address);
  const std::vector<std::string> login = keptLoginItems();
  if (login.size() > kFtpPortItem && !login[kFtpHostItem].empty())
    fine = checkFtp(login[kFtpHostItem], login[kFtpPortItem]) && fine;
  else
    std::printf("FTP server: not known until a teacher signs in\n");
  return fine ? 0 : 1;
}

int report(const std::string& requested) {
  const std::string file =
      requested.empty() ? "edu-client-report-" + nowText("%Y%m%d-%H%M%S") + ".tar.gz" : requested;
  char pattern[] = "/tmp/edu-admin-report-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) {
    std::fprintf(stderr, "edu-admin: cannot make a working folder in /tmp\n");
    return 1;
  }
  const std::string work = made;
  const std::string top = "edu-client-report";
  const std::string folder = work + "/" + top;

  // Each data folder this user may read: its edu.db's state and its logs.
  std::vector<std::pair<std::string, std::string>> folders;  // name in the archive, data folder
  if (::geteuid() == 0) {
    for (const platform::UserDataFolder& user : platform::usersWithDataFolder())
      folders.emplace_back(user.user, user.folder);
  } else {
    folders.emplace_back("data", platform::dataDir());
  }
  // What may name a secret: each kept sign-in's FTP password in both forms.
  std::vector<std::string> secrets;
  for (const auto& folder : folders) {
    if (!DB_Func::LocateDatabaseIn(folder.second)) continue;
    const std::vector<std::string> login = keptLoginItems();
    if (login.size() <= kFtpPasswordItem) continue;
    secrets.push_back(login[kFtpPasswordItem]);
    secrets.push_back(decodeProtectedText(login[kFtpPasswordItem], kProtectedTextKey));
  }

  const std::string self = platform::programDir() + "/edu-admin";
  bool written = writeText(folder + "/show.txt", withoutSecrets(output({self, "show"}), secrets));
  written =
      writeText(folder + "/versions.txt",
                output({self, "--version"}) + output({platform::programDir() + "/edu-client", "--version"}) +
                    output({"dpkg-query", "-W", "edu-client"}) + output({"uname", "-a"})) &&
      written;
  std::string session;
  for (const char* name : {"XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY", "DISPLAY"}) {
    const char* value = std::getenv(name);
    session += std::string(name) + "=" + (value != nullptr ? value : "") + "\n";
  }
  written = writeText(folder + "/session.txt", session) && written;

  std::string integrity;
  for (const auto& [name, data] : folders) {
    if (DB_Func::LocateDatabaseIn(data)) {
      try {
        integrity += name + " " + DB_Func::DatabasePath() + ": " + DB_Func::IntegrityCheck() + "\n";
      } catch (const DB_Func::DbError& error) {
        integrity += name + " " + DB_Func::DatabasePath() + ": " + error.what() + "\n";
      }
    }
    std::error_code code;
    for (fs::directory_iterator entry(data + "/log", code), end; !code && entry != end;
         entry.increment(code)) {
      std::string text;
      if (!platform::readWholeFile(entry->path().string(), &text)) continue;
      written = writeText(folder + "/logs/" + name + "/" + entry->path().filename().string(),
                          withoutSecrets(text, secrets)) &&
                written;
    }
  }
  written = writeText(folder + "/integrity_check.txt", integrity) && written;
  // The site's settings files, as read.
  for (const std::string& settings : panels::deploymentSettingsFiles(platform::programDir())) {
    std::string text;
    if (platform::readWholeFile(settings, &text))
      written = writeText(folder + "/settings" + settings, withoutSecrets(text, secrets)) && written;
  }

  std::string tarSaid;
  const int tarStatus = written ? platform::runProgram({"tar", "-czf", file, "-C", work, top}, &tarSaid) : -1;
  std::error_code code;
  fs::remove_all(work, code);
  if (tarStatus != 0) {
    std::fprintf(stderr, "edu-admin: 无法写入报告 %s\nedu-admin: cannot write the report %s: %s\n",
                 file.c_str(), file.c_str(),
                 written ? tarSaid.c_str() : "the working folder could not be filled");
    return 1;
  }
  ::chmod(file.c_str(), 0600);
  std::printf("report written: %s (passwords and login lines left out)\n", file.c_str());
  return 0;
}

}  // namespace admin
