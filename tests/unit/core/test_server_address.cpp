#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "core/server_address.h"
#include "store/db_func.h"
#include "tests/unit/core/status_window_fixture.h"
#include "ui/event_guard.h"
#include "ui/message_box.h"

namespace {

TEST(ServerAddress, TypedOrStoredAddressesSplitTheSameWithOrWithoutScheme) {
  struct Case {
    const char* typed;
    const char* host;
    int port;
    const char* path;
    bool secure = false;
  } cases[] = {
      {"192.168.1.10:8080/edu", "192.168.1.10", 8080, "/edu/"},
      {"https://edu.school.cn", "edu.school.cn", 443, "/", true},
      {"HTTPS://edu.school.cn:8443/edu/", "edu.school.cn", 8443, "/edu/", true},
      {"192.168.1.10", "192.168.1.10", 80, "/"},
      {"http://192.168.1.10:8080/edu", "192.168.1.10", 8080, "/edu/"},
      {"HTTP://edu.school.cn", "edu.school.cn", 80, "/"},
      {"http://edu.school.cn/", "edu.school.cn", 80, "/"},
      {"  edu.school.cn:81/a/b/  ", "edu.school.cn", 81, "/a/b/"},
      {"", "", 80, "/"},
  };
  for (const auto& c : cases) {
    const ServerAddress address = splitServerAddress(c.typed);
    EXPECT_EQ(address.host, c.host) << c.typed;
    EXPECT_EQ(address.port, c.port) << c.typed;
    EXPECT_EQ(address.path, c.path) << c.typed;
    EXPECT_EQ(address.secure, c.secure) << c.typed;
  }
}

TEST(ServerAddress, OnlyAddressesARequestCanUseAreTaken) {
  struct Case {
    const char* typed;
    bool usable;
  } cases[] = {
      {"192.168.1.10", true},
      {"192.168.1.10:8080/edu", true},
      {"http://edu.school.cn:81/a/b/", true},
      {"edu-server_1.local:65535", true},
      {"https://edu.school.cn:8443/edu", true},
      {"https://", false},
      {"ftp://edu.school.cn", false},
      {"https://https://edu.school.cn", false},
      {"", false},
      {"   ", false},
      {"http://", false},
      {"/edu", false},                   // no host
      {"192.168.1.10:", false},          // an empty port
      {"192.168.1.10:8O80/edu", false},  // a letter O, not a zero
      {"192.168.1.10:0", false},
      {"192.168.1.10:65536", false},
      {"192.168.1.10:123456", false},
      {"edu server:8080", false},       // a blank in the host
      {"192.168.1.10/edu app", false},  // a blank in the path breaks the request line
      {"192.168.1.10/edu?x=1", false},
      {"user@192.168.1.10", false},
      {"服务器.cn", false},
      // Host names the resolver would refuse or misread.
      {".", false},
      {"-", false},
      {"edu..school.cn", false},
      {".edu.school.cn", false},
      {"-edu.school.cn", false},
      {"edu-.school.cn", false},
      {"10.0.0.256", false},
      {"10.0.0", false},
      {"1.2.3.4.5", false},
      {"10.0.0.1:8080", true},
      {"edu1.school.cn", true},
      {"x1", true},
  };
  for (const auto& c : cases) EXPECT_EQ(usableServerAddress(c.typed).has_value(), c.usable) << c.typed;
  // The lengths: a label of 63 and a name of 253 are the longest taken.
  const std::string label63(63, 'a');
  const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  ASSERT_EQ(name253.size(), 253u);
  EXPECT_TRUE(usableServerAddress(label63 + ".cn"));
  EXPECT_FALSE(usableServerAddress(label63 + "a.cn"));
  EXPECT_TRUE(usableServerAddress(name253));
  EXPECT_FALSE(usableServerAddress(name253 + "b"));
  EXPECT_FALSE(usableServerAddress(std::string(100000, 'a')));
  const std::optional<ServerAddress> usable = usableServerAddress(" http://192.168.1.10:8080/edu/ ");
  ASSERT_TRUE(usable);
  EXPECT_EQ(usable->host, "192.168.1.10");
  EXPECT_EQ(usable->port, 8080);
  EXPECT_EQ(usable->path, "/edu/");
}

// An edu.db in a temporary folder, made by the sqlite3 tool from `sql`.
class StoredAddress : public ::testing::Test {
 protected:
  void makeDatabase(const std::string& sql) {
    QProcess sqlite;
    sqlite.start("sqlite3", {folder.filePath("edu.db")});
    ASSERT_TRUE(sqlite.waitForStarted(10000));
    sqlite.write(QByteArray::fromStdString(sql));
    sqlite.closeWriteChannel();
    ASSERT_TRUE(sqlite.waitForFinished(10000));
    ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
    ASSERT_TRUE(DB_Func::LocateDatabaseIn(folder.path().toStdString()));
  }
  void TearDown() override { DB_Func::LocateDatabaseIn(folder.path().toStdString() + "/missing"); }

  QTemporaryDir folder;
  const std::string schema = testsupport::readFile(testsupport::sourcePath("store/schema.sql"));
};

TEST_F(StoredAddress, FirstRowGivesTheAddressNoRowGivesEmptyNoDatabaseGivesNothing) {
  DB_Func::LocateDatabaseIn(folder.path().toStdString());
  EXPECT_EQ(storedServerUrl(), std::nullopt);

  makeDatabase(schema);
  EXPECT_EQ(storedServerUrl(), std::optional<std::string>(""));

  makeDatabase(
      "INSERT INTO t_login_info (http_url) VALUES (' 192.168.1.10:8080/edu \t');"
      "INSERT INTO t_login_info (http_url) VALUES ('10.0.0.2');");
  EXPECT_EQ(storedServerUrl(), std::optional<std::string>("192.168.1.10:8080/edu"));
}

// A failing read inside a window's handler, delivered by the event loop:
// the teacher gets the plain message, the log SQLite's text, and the next
// event is handled.
TEST_F(StoredAddress, AFailingReadInAHandlerGivesThePlainMessageTheLogSqlitesTextAndTheClientGoesOn) {
  makeDatabase("CREATE TABLE other (x TEXT);");
  std::vector<std::string> shown;
  std::vector<std::string> logged;
  ui::setMessageSink([&](const std::string& text) { shown.push_back(text::gbkToUtf8(text)); });
  ui::setDatabaseGuard({[&](const std::string& line) { logged.push_back(line); }, {}, {}});
  QWidget window;
  window.setObjectName("status_window");
  int handled = 0;
  const auto readAddress = ui::guarded(&window, [&] {
    storedServerUrl();
    ++handled;
  });
  QTimer::singleShot(0, &window, readAddress);
  QTimer::singleShot(0, &window, ui::guarded(&window, [&] { handled += 10; }));
  for (int round = 0; round < 50 && handled < 10; ++round)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  ui::setMessageSink(nullptr);
  ui::setDatabaseGuard({});

  EXPECT_EQ(handled, 10);
  EXPECT_EQ(shown, std::vector<std::string>{ui::kDatabaseErrorMessage});
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("t_login_info"), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("(in status_window)"), std::string::npos) << logged[0];
}

}  // namespace
