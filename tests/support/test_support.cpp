#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string programDir() { return EDU_PROGRAM_DIR; }

bool seedDemoDatabase(const std::string& folder) {
  const QString target = QString::fromStdString(folder + "/edu.db");
  QFile::remove(target);
  return QFile::copy(EDU_DEMO_DB, target) &&
         QFile(target).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

std::string sourcePath(const std::string& relative) { return std::string(EDU_SOURCE_DIR) + "/" + relative; }

int freePort() {
  QTcpServer server;
  if (!server.listen(QHostAddress::LocalHost, 0)) return 0;
  return server.serverPort();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs, int pollMs) {
  QDeadlineTimer deadline(timeoutMs);
  // The loop sleeps in its own wait for events, which this timer ends at
  // the next look at the condition; never in a fixed pause of ours.
  QTimer look;
  look.start(pollMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

bool placeBesideTestProgram(const std::string& name) {
  const QString source = QString::fromStdString(programDir() + "/" + name);
  const QString target = QCoreApplication::applicationDirPath() + "/" + QString::fromStdString(name);
  if (!QFile::exists(source)) return false;
  QFile::remove(target);
  return QFile::copy(source, target);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::vector<std::string> filesBelow(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) files.push_back("/" + fs::relative(it->path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}
bool runningInCi() { return std::getenv("CI") != nullptr; }

}  // namespace testsupport
