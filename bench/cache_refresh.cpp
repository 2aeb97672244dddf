// Times the teacher refresh of 10,000 teachers against the sqlite3 tool
// running the same change as a script (delete, begin, 10,000 inserts,
// commit) on a copy of the same database, and prints the ratio.
//
//   bench_cache_refresh --write-inputs DIR   writes DIR/reply.json (the JSON
//                                            part, GBK) and DIR/refresh.sql
//   bench_cache_refresh DIR [ROUNDS]         copies DIR/base.db for each run
//                                            and times both, ROUNDS times
// bench/cache_refresh.sh makes DIR/base.db and runs both steps.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store/db_func.h"
#include "sys/guid.h"
#include "sys/text_codec.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTeachers = 10000;
const char* const kSchool = "12";

struct Teacher {
  std::string id, name, mobile, acronym, email;  // UTF-8
};

std::vector<Teacher> teachers() {
  const char* surnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "欧阳", "周"};
  const char* given[] = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "晓明", "秀英"};
  std::vector<Teacher> list;
  for (int i = 0; i < kTeachers; ++i) {
    char mobile[16];
    std::snprintf(mobile, sizeof mobile, "138%08d", i);
    const std::string n = std::to_string(100000 + i);
    list.push_back({n, std::string(surnames[i % 10]) + given[(i / 10) % 10] + std::to_string(i), mobile,
                    "t" + std::to_string(i % 997), "t" + n + "@school.edu.cn"});
  }
  return list;
}

std::string jsonString(const std::string& utf8) { return "\"" + utf8 + "\""; }  // no quotes or escapes inside

void writeInputs(const fs::path& dir) {
  fs::create_directories(dir);
  std::ostringstream json;
  std::ostringstream sql;
  json << "{\"status\":\"success\",\"jsonData\":[";
  sql << "delete from t_teacher where school_id='" << kSchool << "';\nBEGIN TRANSACTION;\n";
  bool first = true;
  for (const Teacher& t : teachers()) {
    json << (first ? "" : ",") << "{\"id\":" << jsonString(t.id) << ",\"userName\":" << jsonString(t.name)
         << ",\"mobile\":" << jsonString(t.mobile) << ",\"acronym\":" << jsonString(t.acronym)
         << ",\"email\":" << jsonString(t.email) << "}";
    first = false;
    sql << "insert into t_teacher(id,teacher_id,teacher_name,phone,school_id,acronym,email) values('"
        << newGuidText() << "','" << t.id << "','" << t.name << " ','" << t.mobile << " ','" << kSchool
        << "','" << t.acronym << "','" << t.email << "');\n";
  }
  json << "]}";
  sql << "COMMIT;\n";
  std::ofstream(dir / "reply.json", std::ios::binary) << text::utf8ToGbk(json.str());
  std::ofstream(dir / "refresh.sql", std::ios::binary) << sql.str();
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A fresh copy of the base database as DIR/NAME/edu.db; returns its folder.
fs::path freshCopy(const fs::path& dir, const char* name) {
  const fs::path folder = dir / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(dir / "base.db", folder / "edu.db");
  return folder;
}

double timeOurs(const fs::path& folder, const std::string& jsonPart) {
  DB_Func::LocateDatabaseIn(folder.string());
  const auto start = Clock::now();
  DB_Func::RefreshTeachers(jsonPart, kSchool);
  return secondsSince(start);
}

// sqlite3 DB < refresh.sql; seconds, or -1 when the tool failed.
double timeSqlite3(const fs::path& folder, const fs::path& script) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, script.c_str(), O_RDONLY, 0);
  const std::string db = (folder / "edu.db").string();
  char* argv[] = {const_cast<char*>("sqlite3"), const_cast<char*>("-bail"), const_cast<char*>(db.c_str()),
                  nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = secondsSince(start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

size_t teachersOfSchool(const fs::path& folder) {
  DB_Func::LocateDatabaseIn(folder.string());
  return DB_Func::QueryTeachers(kSchool).rowCount();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-inputs") {
    writeInputs(argv[2]);
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s --write-inputs DIR | %s DIR [ROUNDS]\n", argv[0], argv[0]);
    return 2;
  }
  const fs::path dir = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string jsonPart = readFile(dir / "reply.json");
  std::vector<double> ours, theirs;
  for (int round = 0; round < rounds; ++round) {
    const fs::path oursFolder = freshCopy(dir, "ours");
    const fs::path theirsFolder = freshCopy(dir, "theirs");
    ours.push_back(timeOurs(oursFolder, jsonPart));
    theirs.push_back(timeSqlite3(theirsFolder, dir / "refresh.sql"));
    if (theirs.back() < 0) {
      std::fprintf(stderr, "the sqlite3 tool failed\n");
      return 1;
    }
    if (teachersOfSchool(oursFolder) != kTeachers || teachersOfSchool(theirsFolder) != kTeachers) {
      std::fprintf(stderr, "a run did not leave %d teachers\n", kTeachers);
      return 1;
    }
  }
  const double a = median(ours), b = median(theirs);
  std::printf(
      "RefreshTeachers of %d teachers: ours %.1f ms, sqlite3 %.1f ms (medians of %d), ratio %.2f (goal at "
      "most 1.0)\n",
      kTeachers, a * 1000, b * 1000, rounds, a / b);
  return 0;
}
