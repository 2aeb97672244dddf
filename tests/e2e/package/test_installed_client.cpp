// The client as the Debian package installs it: the built .deb unpacked into
// a temporary root, its program folder read-only, everything run as the
// unprivileged user nobody with a fresh home and a runtime folder of its
// own, on a private X server, against the development server. edu-admin
// (through a link, as /usr/bin/edu-admin leads to it) sets the server
// address in the data folder's edu.db; the teacher signs in, the lesson the
// server reports as running is taken up, a picture of the screen lands in
// the data folder and reaches the server, and the log file in the data
// folder tells how it started and who signed in.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>

#include "tests/support/devserver_process.h"
// Last: it brings Xlib.
#include "tests/integration/core/client_program_fixture.h"

namespace {

using testsupport::DevServerProcess;
using testsupport::DevServerRequest;

const char* const kLessonChoices = "&schoolID=1001&gradeID=3001&classesID=4001&subjectID=5002";

std::vector<DevServerRequest> requestsTo(const DevServerProcess& server, const std::string& operation) {
  std::vector<DevServerRequest> found;
  for (const DevServerRequest& request : server.requests()) {
    if (request.path() == "/clientInterface-" + operation) found.push_back(request);
  }
  return found;
}

std::string sentParameter(const std::string& target, const std::string& name) {
  const size_t at = target.find("&" + name + "=");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 2;
  return target.substr(from, target.find('&', from) - from);
}

class InstalledClientTest : public clienttest::ClientProgramFixture {
 protected:
  void SetUp() override {
    ClientProgramFixture::SetUp();
    if (IsSkipped()) return;
    if (geteuid() != 0) GTEST_SKIP() << "running the client as another user needs root";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    uid_ = nobody->pw_uid;
    gid_ = nobody->pw_gid;
    ASSERT_TRUE(base_.isValid());
    ASSERT_EQ(chmod(base_.path().toLocal8Bit().constData(), 0755), 0);
    home_ = base_.filePath("home");
    runtime_ = base_.filePath("runtime");
    ASSERT_TRUE(ownFolder(home_) && ownFolder(runtime_));
    // nobody's session: nothing of the test's own environment.
    environment_ = QProcessEnvironment();
    environment_.insert("PATH", "/usr/bin:/bin");
    environment_.insert("HOME", home_);
    environment_.insert("USER", "nobody");
    environment_.insert("LOGNAME", "nobody");
    environment_.insert("LANG", "C.UTF-8");
    environment_.insert("XDG_RUNTIME_DIR", runtime_);
    environment_.insert("DISPLAY", QString::fromStdString(xvfb_.name()));
    environment_.insert("QT_QPA_PLATFORM", "xcb");
    environment_.insert("EDU_ETC_DIR", etc_.path());
  }

  // A folder that belongs to nobody alone.
  bool ownFolder(const QString& path) const {
    const QByteArray local = path.toLocal8Bit();
    return QDir().mkpath(path) && chown(local.constData(), uid_, gid_) == 0 &&
           chmod(local.constData(), 0700) == 0;
  }

  // The command line that runs `program` as nobody.
  QStringList asNobody(const QString& program, const QStringList& arguments) const {
    return QStringList{
               "--reuid", QString::number(uid_), "--regid", QString::number(gid_), "--clear-groups", "--",
               program} +
           arguments;
  }

  // Runs a program as nobody to its end; gives its output (both channels).
  QByteArray runAsNobody(const QString& program, const QStringList& arguments, int* exitCode) {
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("setpriv", asNobody(program, arguments));
    process.waitForFinished(30000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAll();
  }

  int sendLoginAsNobody(const QString& text) {
    int exitCode = -1;
    runAsNobody(base_.filePath("tools/edu-login"), {text}, &exitCode);
    return exitCode;
  }

  static QString sqlite(const QString& database, const QString& statement) {
    QProcess process;
    process.start("sqlite3", {database, statement});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  }

  // A teacher of the development server's seed, screenshots every 60 s.
  QString login(int serverPort) {
    const QString user = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", "ftpuser"}));
    const QString password = QString::fromUtf8(run(builtProgram("edu-login"), {"--protect", "secret"}));
    return QString::fromUtf8(
               "online|2001|张伟|13810012001|1001|东城区第一实验小学|110000|北京市|110100|北京市|110101|"
               "东城区|"
               "127.0.0.1:%1|1|0|60|127.0.0.1|2121|0|5.0.33|0|5.0.33|0|http://127.0.0.1/upgrade.xml|0|%2|%3")
        .arg(serverPort)
        .arg(user, password);
  }

  // Every file and folder below `folder`, with its size.
  static QStringList folderListing(const QString& folder) {
    QStringList listing;
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
      const QFileInfo entry(entries.next());
      listing << QString("%1 %2").arg(entry.filePath()).arg(entry.size());
    }
    listing.sort();
    return listing;
  }

  QTemporaryDir base_;
  QString home_;
  QString runtime_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

TEST_F(InstalledClientTest, RunsFromTheReadOnlyProgramFolderWithItsDataInTheUsersHome) {
  // The package, unpacked as dpkg would install it, and made read-only.
  const QString root = base_.filePath("root");
  int exitCode = -1;
  const QByteArray unpacked = run("dpkg-deb", {"-x", EDU_PACKAGE_FILE, root}, &exitCode);
  ASSERT_EQ(exitCode, 0) << unpacked.toStdString() << " (the test package.deb makes the package)";
  const QString program = root + "/opt/edu-client";
  ASSERT_EQ(QFileInfo(root + "/usr/bin/edu-admin").symLinkTarget(), "/opt/edu-client/edu-admin");
  run("chmod", {"-R", "a-w", program}, &exitCode);
  ASSERT_EQ(exitCode, 0);
  const QStringList delivered = folderListing(program);
  // The sign-in companion comes from the build, outside the package.
  ASSERT_TRUE(QDir().mkpath(base_.filePath("tools")));
  ASSERT_TRUE(QFile::copy(builtProgram("edu-login"), base_.filePath("tools/edu-login")));
  // edu-admin as the PATH finds it: through a link into the program folder.
  ASSERT_TRUE(QFile::link(program + "/edu-admin", base_.filePath("tools/edu-admin")));

  DevServerProcess server;
  ASSERT_TRUE(server.running());
  const QString address = QString("127.0.0.1:%1").arg(server.port());

  // The address goes into the data folder's copy of edu.db; the delivered
  // one stays as it was.
  const QString dataFolder = home_ + "/.local/share/edu-client";
  const QByteArray stored = runAsNobody(base_.filePath("tools/edu-admin"), {"server", address}, &exitCode);
  ASSERT_EQ(exitCode, 0) << stored.toStdString();
  const QString database = dataFolder + "/edu.db";
  ASSERT_TRUE(QFileInfo(database).isFile()) << stored.toStdString();
  EXPECT_EQ(QFileInfo(database).ownerId(), uid_);
  EXPECT_EQ(sqlite(database, "SELECT http_url FROM t_login_info"), address);
  EXPECT_EQ(sqlite(program + "/edu.db", "SELECT COUNT(*) FROM t_login_info"), "0");
  const QString shown =
      QString::fromUtf8(runAsNobody(base_.filePath("tools/edu-admin"), {"show"}, &exitCode));
  EXPECT_EQ(exitCode, 0) << shown.toStdString();
  EXPECT_TRUE(shown.contains(dataFolder) && shown.contains(address)) << shown.toStdString();

  // The client, as the user unit starts it.
  client_.setProcessEnvironment(environment_);
  client_.setProcessChannelMode(QProcess::MergedChannels);
  client_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
  client_.start("setpriv", asNobody(program + "/edu-client", {}));
  ASSERT_TRUE(client_.waitForStarted(10000));
  ASSERT_TRUE(testsupport::waitFor(
      [&] {
        return !run("xdotool", {"search", "--name", "^edu_main$"}).isEmpty();
      },
      30000))
      << client_.readAll().toStdString();
  ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(runtime_ + "/edu_main"); }, 10000));

  // The first login asks for a running lesson on this computer's disk; the
  // server then reports one, which the next login takes up.
  const QString loginText = login(server.port());
  ASSERT_EQ(sendLoginAsNobody(loginText), 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(server, "getCouterTime").empty(); }, 10000));
  const std::string diskID = sentParameter(requestsTo(server, "getCouterTime").front().target, "hardDiskID");
  ASSERT_FALSE(diskID.empty());
  const std::string preset =
      server.control("lesson?hardDiskID=" + diskID + "&teacherID=2001&timeDiff=125" + kLessonChoices);
  const QString processID = QJsonDocument::fromJson(QByteArray::fromStdString(preset))
                                .object()["lesson"]
                                .toObject()["processID"]
                                .toString();
  ASSERT_FALSE(processID.isEmpty()) << preset;
  ASSERT_EQ(sendLoginAsNobody(loginText), 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return !requestsTo(server, "postScreenShot").empty(); }, 120000))
      << "no screenshot within 120 s of the login";
  keepPicture("e2e_package_lesson.png", statusWindowSurroundings());

  // The picture is in the data folder and the server has the same bytes.
  QStringList pictures;
  QDirIterator files(dataFolder + "/screen_pic", QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) pictures << files.next();
  ASSERT_EQ(pictures.size(), 1) << pictures.join(", ").toStdString();
  EXPECT_TRUE(pictures.front().contains("/" + processID + "/")) << pictures.front().toStdString();
  const std::string kept = testsupport::readFile(pictures.front().toStdString());
  EXPECT_TRUE(testsupport::waitFor(
      [&] {
        return !kept.empty() && testsupport::readFile(server.dataDir() + "/screens/" +
                                                      processID.toStdString() + "/1.jpg") == kept;
      },
      10000));
  // Nothing was written into the program folder.
  EXPECT_EQ(folderListing(program), delivered);

  // The log file: the start-up lines (version, folders, the address in
  // use), the lesson's login, the request that took the lesson up and the
  // screenshot's upload.
  const std::vector<QString> texts{QString("edu-client " EDU_PACKAGE_VERSION " starting"),
                                   "program folder: " + program,
                                   "data folder: " + dataFolder,
                                   "server address in use: " + address,
                                   loginText.section('|', 0, 25) + "|***",
                                   QString("clientInterface-getCouterTime?"),
                                   QString("截图已上传：")};
  // The upload's line follows the server's answer, so it may come a moment
  // after the picture is stored.
  QString log;
  testsupport::waitFor(
      [&] {
        log = QString::fromUtf8(testsupport::readFile((dataFolder + "/log/edu-client.log").toStdString()));
        return std::all_of(texts.begin(), texts.end(),
                           [&](const QString& text) { return log.contains(text); });
      },
      10000);
  for (const QString& text : texts)
    EXPECT_TRUE(log.contains(text)) << text.toStdString() << " not in the log:\n" << log.toStdString();

  ASSERT_EQ(sendLoginAsNobody("offline"), 0);
}

}  // namespace
