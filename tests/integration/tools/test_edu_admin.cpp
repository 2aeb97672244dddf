// edu-admin, the built program, in a program folder of the test's own with
// the delivered (empty) edu.db: the address it stores is the one the client
// reads, its exit status says what happened, and on a read-only program
// folder it works on the user's copy in the data folder, made as the client
// would make it. Root writes into any folder, so the read-only cases run
// the program as nobody when the test runs as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/test_support.h"

namespace {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class EduAdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Others (nobody) must reach the folders below.
    ::chmod(root.path().toUtf8().constData(), 0755);
    ASSERT_TRUE(QDir().mkpath(program) && QDir().mkpath(home));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testsupport::programDir() + "/edu-admin"),
                            program + "/edu-admin"));
    ASSERT_TRUE(
        QFile::copy(QString::fromStdString(testsupport::programDir() + "/edu.db"), program + "/edu.db"));
    ::chmod((program + "/edu.db").toUtf8().constData(), 0644);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(home.toUtf8().constData(), 65534, 65534), 0);
    }
  }

  // Runs edu-admin; `asUser` runs it as nobody when the test is root.
  Result run(const QStringList& arguments, bool asUser = false, const QString& programPath = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.remove("XDG_DATA_HOME");
    process.setProcessEnvironment(environment);
    const QString admin = programPath.isEmpty() ? program + "/edu-admin" : programPath;
    if (asUser && ::geteuid() == 0)
      process.start("setpriv",
                    QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--", admin} + arguments);
    else
      process.start(admin, arguments);
    Result result;
    if (!process.waitForFinished(30000)) return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
  }

  static std::string storedAddresses(const QString& database) {
    QProcess sqlite;
    sqlite.start("sqlite3", {database, "SELECT group_concat(http_url, '|') FROM t_login_info"});
    sqlite.waitForFinished(10000);
    return sqlite.readAllStandardOutput().trimmed().toStdString();
  }

  QTemporaryDir root;
  QString program = root.path() + "/program";
  QString home = root.path() + "/home";
  QString userCopy = home + "/.local/share/edu-client/edu.db";
};

TEST_F(EduAdminTest, StoresUsableAddressesAndRefusesTheRestWithTheirExitStatus) {
  struct Case {
    QStringList arguments;
    int exitCode;
    std::string stored;  // what t_login_info holds afterwards
    const char* says;    // in the output or the error output
  } cases[] = {
      {{"server", "192.168.1.10:8080/edu"}, 0, "192.168.1.10:8080/edu", "port 8080, path /edu/"},
      {{"server", "http://edu.school.cn/"}, 0, "http://edu.school.cn/", "host edu.school.cn"},
      {{"server", "192.168.1.10:8O80"}, 2, "http://edu.school.cn/", "服务器地址无效"},
      {{"server", "edu server"}, 2, "http://edu.school.cn/", "not a usable server address"},
      {{"server", "."}, 2, "http://edu.school.cn/", "not a usable server address"},
      {{"server", "-"}, 2, "http://edu.school.cn/", "not a usable server address"},
      {{"server", QString(100000, 'a')}, 2, "http://edu.school.cn/", "not a usable server address"},
      {{"server", ""}, 2, "http://edu.school.cn/", "not a usable server address"},
      {{"server"}, 2, "http://edu.school.cn/", "usage"},
      {{"server", "10.0.0.1", "extra"}, 2, "http://edu.school.cn/", "usage"},
      {{"serve", "10.0.0.1"}, 2, "http://edu.school.cn/", "usage"},
      {{}, 2, "http://edu.school.cn/", "usage"},
      {{"--help"}, 0, "http://edu.school.cn/", "edu-admin server ADDRESS"},
      {{"server", "10.0.0.2:81"}, 0, "10.0.0.2:81", "10.0.0.2:81"},
  };
  EXPECT_EQ(storedAddresses(program + "/edu.db"), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const Result result = run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(storedAddresses(program + "/edu.db"), c.stored);
    EXPECT_NE((result.out + result.err).find(c.says), std::string::npos) << result.out << result.err;
  }

  const Result shown = run({"show"});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  for (const std::string& line :
       {"data folder:    " + program.toStdString() + "\n", std::string("server address: 10.0.0.2:81\n"),
        "log file:       " + program.toStdString() + "/log/edu-client.log\n",
        std::string("  t_teacher      0\n"), std::string("pending offline items: none\n")})
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;

  // A fault report waiting for the server is counted by its kind.
  QProcess sqlite;
  sqlite.start("sqlite3",
               {program + "/edu.db",
                "INSERT INTO t_repair_report(school_id, grade_id, grade_name, class_id, class_name, "
                "teacher_id, teacher_name, tel, fault_detail, report_time, state, queued_at) VALUES "
                "('1001','','','','','2001','','','x','2026-12-10 09:00:00','pending',1)"});
  ASSERT_TRUE(sqlite.waitForFinished(10000));
  ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
  const Result waiting = run({"show"});
  EXPECT_NE(waiting.out.find("pending offline items:\n  fault reports  1\n"), std::string::npos)
      << waiting.out;
}

// Items the server refused go back in the queue; the damaged copies the
// client kept aside are named.
TEST_F(EduAdminTest, ResendPutsRefusedItemsBackAndShowNamesKeptDamagedCopies) {
  QProcess sqlite;
  sqlite.start("sqlite3",
               {program + "/edu.db",
                "INSERT INTO t_repair_report(school_id, grade_id, grade_name, class_id, class_name, "
                "teacher_id, teacher_name, tel, fault_detail, report_time, state, queued_at) VALUES "
                "('1001','','','','','2001','','','x','2026-12-10 09:00:00','refused',1)"});
  ASSERT_TRUE(sqlite.waitForFinished(10000));
  ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();

  Result result = run({"resend"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("1 refused offline item put back"), std::string::npos) << result.out;
  EXPECT_NE(run({"show"}).out.find("pending offline items:\n  fault reports  1\n"), std::string::npos);
  result = run({"resend"});
  EXPECT_NE(result.out.find("0 refused offline items"), std::string::npos) << result.out;

  const QString kept = program + "/edu.db.damaged-20261210-090000";
  ASSERT_TRUE(testsupport::writeFile(kept.toStdString(), "x"));
  EXPECT_NE(run({"show"}).out.find("damaged edu.db: " + kept.toStdString()), std::string::npos);
}

TEST_F(EduAdminTest, AMissingOrBrokenDatabaseFailsWithStatusOne) {
  ASSERT_TRUE(QFile::remove(program + "/edu.db"));
  Result result = run({"server", "10.0.0.1"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("找不到数据库"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("no edu.db"), std::string::npos) << result.err;
  EXPECT_EQ(run({"show"}).exitCode, 1);

  ASSERT_TRUE(testsupport::writeFile((program + "/edu.db").toStdString(), std::string(4096, 'x')));
  result = run({"server", "10.0.0.1"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("无法写入数据库"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("cannot write the database"), std::string::npos) << result.err;
}

TEST_F(EduAdminTest, OnAReadOnlyProgramFolderTheUsersCopyIsMadeAndUsed) {
  ASSERT_EQ(::chmod(program.toUtf8().constData(), 0555), 0);
  // Reached through a link, as the package puts it on the PATH.
  ASSERT_TRUE(QDir().mkpath(root.path() + "/bin"));
  ASSERT_TRUE(QFile::link(program + "/edu-admin", root.path() + "/bin/edu-admin"));

  Result result = run({"show"}, true, root.path() + "/bin/edu-admin");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("program folder: " + program.toStdString() + "\n"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("data folder:    " + home.toStdString() + "/.local/share/edu-client\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("server address: (none stored"), std::string::npos) << result.out;
  ASSERT_TRUE(QFile::exists(userCopy));

  result = run({"server", "10.0.0.5:9000/edu"}, true);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(storedAddresses(userCopy), "10.0.0.5:9000/edu");
  EXPECT_EQ(storedAddresses(program + "/edu.db"), "") << "the delivered file stays as it is";

  // The user's copy made read-only: nothing can be stored.
  ASSERT_EQ(::chmod(userCopy.toUtf8().constData(), 0444), 0);
  result = run({"server", "10.0.0.6"}, true);
  EXPECT_EQ(result.exitCode, 1) << result.out;
  EXPECT_NE(result.err.find("无法写入数据库"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("cannot write the database " + userCopy.toStdString()), std::string::npos)
      << result.err;
  EXPECT_EQ(storedAddresses(userCopy), "10.0.0.5:9000/edu");
  ::chmod(program.toUtf8().constData(), 0755);
}

}  // namespace
