// edu-admin, the built program, in a program folder of the test's own with
// the delivered (empty) edu.db and an /etc of the test's own (EDU_ETC_DIR):
// a user's address goes into the edu.db the client reads, root's into the
// site's drop-in for every user, its exit status says what happened, and on
// a read-only program folder it works on the user's copy in the data
// folder, made as the client would make it. A test run as root runs the
// user's cases as nobody, who then owns the program folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "tests/support/devserver_process.h"
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
      for (const QString& path : {home, program, program + "/edu.db"})
        ASSERT_EQ(::chown(path.toUtf8().constData(), 65534, 65534), 0);
    }
  }

  // Runs edu-admin; `asUser` runs it as nobody when the test is root.
  Result run(const QStringList& arguments, bool asUser = false, const QString& programPath = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.remove("XDG_DATA_HOME");
    environment.insert("EDU_ETC_DIR", etc);
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
  QString etc = root.path() + "/etc";
};

TEST_F(EduAdminTest, StoresUsableAddressesAndRefusesTheRestWithTheirExitStatus) {
  struct Case {
    QStringList arguments;
    int exitCode;
    std::string stored;  // what t_login_info holds afterwards
    const char* says;    // in the output or the error output
  } cases[] = {
      {{"server", "192.168.1.10:8080/edu"}, 0, "192.168.1.10:8080/edu", "port 8080, path /edu/"},
      {{"server", "https://edu.school.cn:8443/edu"},
       0,
       "https://edu.school.cn:8443/edu",
       "port 8443, path /edu/, over TLS"},
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
      {{"--version"}, 0, "http://edu.school.cn/", "edu-admin 5."},
      {{"server", "10.0.0.2:81"}, 0, "10.0.0.2:81", "10.0.0.2:81"},
  };
  EXPECT_EQ(storedAddresses(program + "/edu.db"), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const Result result = run(c.arguments, true);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(storedAddresses(program + "/edu.db"), c.stored);
    EXPECT_NE((result.out + result.err).find(c.says), std::string::npos) << result.out << result.err;
  }

  const Result shown = run({"show"}, true);
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
  const Result waiting = run({"show"}, true);
  EXPECT_NE(waiting.out.find("pending offline items:\n  fault reports  1\n"), std::string::npos)
      << waiting.out;
  EXPECT_EQ(waiting.out.find("discarded"), std::string::npos) << waiting.out;

  // Pictures the retention removed before delivery are counted apart.
  sqlite.start("sqlite3", {program + "/edu.db",
                           "INSERT INTO t_offline_shot(lesson_id, file_path, shot_time, school_id, grade_id, "
                           "class_id, teacher_id, subject_id, device_id, state, queued_at) VALUES "
                           "(1,'a.jpg','','','','','','','','discarded',1),"
                           "(1,'b.jpg','','','','','','','','discarded',2)"});
  ASSERT_TRUE(sqlite.waitForFinished(10000));
  ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
  const Result discarded = run({"show"});
  EXPECT_NE(discarded.out.find("screenshots discarded before delivery (picture folder or disk full): 2\n"),
            std::string::npos)
      << discarded.out;
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
  Result result = run({"server", "10.0.0.1"}, true);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("找不到数据库"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("no edu.db"), std::string::npos) << result.err;
  EXPECT_EQ(run({"show"}, true).exitCode, 1);

  ASSERT_TRUE(testsupport::writeFile((program + "/edu.db").toStdString(), std::string(4096, 'x')));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((program + "/edu.db").toUtf8().constData(), 65534, 65534), 0);
  }
  result = run({"server", "10.0.0.1"}, true);
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

// Root sets the address for every user in the site's drop-in and writes no
// edu.db; a user is then told which file sets it, and `show` names the file
// of each setting. A drop-in named later still wins, and root hears so.
TEST_F(EduAdminTest, AsRootTheAddressGoesIntoTheSiteDropInAndUsersAreToldWhereItIsSet) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const QString dropIn = etc + "/edu-client/conf.d/50-edu-admin.conf";
  Result result = run({"server", "10.1.2.3:8080/edu"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find(dropIn.toStdString()), std::string::npos) << result.out;
  EXPECT_NE(testsupport::readFile(dropIn.toStdString()).find("\nserver=10.1.2.3:8080/edu\n"),
            std::string::npos);
  EXPECT_EQ(QFileInfo(dropIn).permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther),
            QFileDevice::ReadOther);
  EXPECT_EQ(storedAddresses(program + "/edu.db"), "") << "root writes no edu.db";

  result = run({"server", "10.0.0.1"}, true);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("set for every user in " + dropIn.toStdString() + " (10.1.2.3:8080/edu)"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(storedAddresses(program + "/edu.db"), "");

  ASSERT_TRUE(testsupport::writeFile((etc + "/edu-client/edu-client.conf").toStdString(), "hotline=400-1\n"));
  result = run({"show"}, true);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  for (const std::string& line :
       {"  server=10.1.2.3:8080/edu  (" + dropIn.toStdString() + ")\n",
        "  hotline=400-1  (" + etc.toStdString() + "/edu-client/edu-client.conf)\n",
        "server address in use: 10.1.2.3:8080/edu (from " + dropIn.toStdString() + ", for every user)\n"})
    EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;

  ASSERT_TRUE(
      testsupport::writeFile((etc + "/edu-client/conf.d/60-school.conf").toStdString(), "server=10.9.9.9\n"));
  result = run({"server", "10.1.2.4"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("60-school.conf, read after it, sets 10.9.9.9"), std::string::npos) << result.err;
}

// check tries the address in use and says in words what works; report packs
// the log, show, versions and the database's check without a password.
TEST_F(EduAdminTest, CheckSaysWhatAnswersAndTheReportHoldsNoPassword) {
  testsupport::DevServerProcess server;
  ASSERT_TRUE(server.running());
  const int closed = testsupport::freePort();
  const struct {
    std::string address;
    int exitCode;
    std::string says;
  } cases[] = {
      {"127.0.0.1:" + std::to_string(server.port()), 0,
       "server 127.0.0.1:" + std::to_string(server.port()) + ": answers"},
      {"127.0.0.1:" + std::to_string(closed), 1,
       "server 127.0.0.1:" + std::to_string(closed) + ": NOT reached: connection refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    ASSERT_EQ(run({"server", QString::fromStdString(c.address)}, true).exitCode, 0);
    const Result checked = run({"check"}, true);
    EXPECT_EQ(checked.exitCode, c.exitCode) << checked.out << checked.err;
    EXPECT_NE(checked.out.find(c.says), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("FTP server: not known until a teacher signs in"), std::string::npos);
  }

  // A log from before passwords were kept out of it, and a kept sign-in.
  const std::string password = "Pa55-word-of-the-test";
  const auto protect = [](const std::string& plain) {
    QProcess login;
    login.start(QString::fromStdString(testsupport::programDir() + "/edu-login"),
                {"--protect", QString::fromStdString(plain)});
    login.waitForFinished(10000);
    return login.readAllStandardOutput().trimmed().toStdString();
  };
  const std::string hidden = protect(password);
  ASSERT_FALSE(hidden.empty());
  const std::string loginLine =
      "online|2001|T|1|1001|S|1|P|1|C|1|A|127.0.0.1:1|1|0|60|127.0.0.1|2121|0|5|0|5|0|u|0|" +
      protect("ftpuser") + "|" + hidden;
  ASSERT_TRUE(QDir().mkpath(program + "/log"));
  ASSERT_TRUE(testsupport::writeFile((program + "/log/edu-client.log").toStdString(),
                                     "12:00:00 starting\n12:00:01 " + loginLine + "\n12:00:02 ftp password " +
                                         password + "\n12:00:03 only " + hidden +
                                         " here\n12:00:04 the end\n"));
  QProcess sqlite;
  sqlite.start("sqlite3",
               {program + "/edu.db",
                "CREATE TABLE IF NOT EXISTS t_kept_session(id INTEGER PRIMARY KEY, login_text TEXT, "
                "teacher_id TEXT, process_id TEXT, school_id TEXT, grade_id TEXT, grade_name TEXT, "
                "class_id TEXT, class_name TEXT, subject_id TEXT, subject_name TEXT, lesson_began "
                "INTEGER, kept_at INTEGER); INSERT INTO t_kept_session VALUES (1, '" +
                    QString::fromStdString(loginLine) + "', '2001', '', '', '', '', '', '', '', '', 0, 0)"});
  ASSERT_TRUE(sqlite.waitForFinished(10000));
  ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
  if (::geteuid() == 0) {
    for (const QString& path : {program + "/log", program + "/log/edu-client.log"})
      ASSERT_EQ(::chown(path.toUtf8().constData(), 65534, 65534), 0);
  }

  const QString archive = program + "/report.tar.gz";
  const Result reported = run({"report", archive}, true);
  ASSERT_EQ(reported.exitCode, 0) << reported.out << reported.err;
  QProcess tar;
  tar.start("tar", {"-xzOf", archive});
  ASSERT_TRUE(tar.waitForFinished(10000));
  const std::string packed = tar.readAllStandardOutput().toStdString();
  for (const std::string& part : {std::string("12:00:00 starting"), std::string("12:00:04 the end"),
                                  std::string("server address: 127.0.0.1:"), std::string("edu-admin 5."),
                                  std::string(": ok\n"), std::string("XDG_SESSION_TYPE=")})
    EXPECT_NE(packed.find(part), std::string::npos) << part << "\n" << packed;
  for (const std::string& secret : {password, hidden, std::string("online|2001")})
    EXPECT_EQ(packed.find(secret), std::string::npos) << secret << " is in the report";
}

// The screenshots the client could not take are counted from its log files
// (all of them, the rotated ones too), with the newest line that says why.
TEST_F(EduAdminTest, ShowCountsTheScreenshotsTheLogSaysWereNotTaken) {
  ASSERT_TRUE(QDir().mkpath(program + "/log"));
  ASSERT_TRUE(testsupport::writeFile((program + "/log/edu-client.log.1").toStdString(),
                                     "09:00 截图全黑：整个画面只有一种颜色（截图方式 X11，会话类型 x11）\n"
                                     "09:01 截图已上传：a.jpg\n"));
  ASSERT_TRUE(testsupport::writeFile((program + "/log/edu-client.log").toStdString(),
                                     "10:00 截图失败：无法读取屏幕画面（截图方式 Screenshot portal）\n"));
  const Result shown = run({"show"});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find(
                "screenshots not taken (blank or failed) in the log: 2\n                10:00 截图失败："),
            std::string::npos)
      << shown.out;
}

// allow-screenshot stores the portal's permission in the permission store of
// the session bus it is given; without a bus or a store it fails saying why.
TEST_F(EduAdminTest, AllowScreenshotStoresThePortalPermissionWhereAStoreAnswers) {
  if (QStandardPaths::findExecutable("dbus-daemon").isEmpty() ||
      QStandardPaths::findExecutable("dbus-send").isEmpty() ||
      !QFile::exists("/usr/libexec/xdg-permission-store"))
    SKIP_WITHOUT_TOOL("dbus-daemon or xdg-permission-store missing (packages dbus, xdg-desktop-portal)");
  const QByteArray previous = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  const QString bus = root.path() + "/bus";
  qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus).toUtf8());
  Result result = run({"allow-screenshot"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("the screenshot permission cannot be set"), std::string::npos) << result.err;

  ASSERT_TRUE(testsupport::writeFile(
      (root.path() + "/bus.conf").toStdString(),
      "<busconfig><type>session</type><listen>unix:path=" + bus.toStdString() +
          "</listen><policy context=\"default\"><allow send_destination=\"*\" "
          "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>"));
  QProcess daemon;
  daemon.start("dbus-daemon", {"--config-file=" + root.path() + "/bus.conf", "--nofork", "--nopidfile"});
  ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(bus); }, 10000));
  QProcess store;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_DATA_HOME", root.path() + "/data");
  store.setProcessEnvironment(environment);
  store.start("/usr/libexec/xdg-permission-store", {"--replace"});
  const auto lookup = [&] {
    QProcess send;
    send.start(
        "dbus-send",
        {"--session", "--print-reply", "--dest=org.freedesktop.impl.portal.PermissionStore",
         "/org/freedesktop/impl/portal/PermissionStore", "org.freedesktop.impl.portal.PermissionStore.Lookup",
         "string:screenshot", "string:screenshot"});
    send.waitForFinished(10000);
    return send.readAllStandardOutput().toStdString() + send.readAllStandardError().toStdString();
  };
  // The store answers once it holds its name (an unknown entry is an error).
  ASSERT_TRUE(
      testsupport::waitFor([&] { return lookup().find("NotFound") != std::string::npos; }, 10000, 100))
      << lookup();
  result = run({"allow-screenshot"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string stored = lookup();
  EXPECT_NE(stored.find("string \"\""), std::string::npos) << stored;
  EXPECT_NE(stored.find("string \"yes\""), std::string::npos) << stored;

  for (QProcess* process : {&store, &daemon}) {
    process->kill();
    process->waitForFinished(10000);
  }
  if (previous.isNull())
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  else
    qputenv("DBUS_SESSION_BUS_ADDRESS", previous);
}

}  // namespace
