// Shared pieces of the FTP benchmarks: a transfer of the component or a
// standard tool run and timed, and the ratio line.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "courseware/ftp_store.h"
#include "courseware/ftpclient/FtpClient.h"
#include "tests/integration/courseware/ftp_test_files.h"
#include "tests/support/ftp_server.h"

namespace ftpbench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The component's events need a Qt application; no window is ever shown.
inline void useOffscreenQt() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline bool startServer(testsupport::FtpServer& server, const char* program) {
  if (server.start()) return true;
  std::fprintf(stderr, "%s: could not start the FTP server\n", program);
  return false;
}

// One store of `source` as `name` into /courseware/1/2/2024-05/ with the
// store client; seconds taken, or a negative number when it failed.
inline double timeStore(int port, const std::string& user, const std::string& password,
                        const std::string& source, const std::string& name,
                        ftp::TlsMode tls = ftp::TlsMode::Off) {
  ftp::StoreJob job;
  job.host = "127.0.0.1";
  job.port = port;
  job.user = user;
  job.password = password;
  job.schoolId = "1";
  job.teacherId = "2";
  job.month = "2024-05";
  job.localPath = source;
  job.remoteFileName = name;
  job.tls = tls;
  auto start = Clock::now();
  const ftp::StoreResult result = ftp::storeFile(job, nullptr, nullptr);
  if (!result.stored()) std::fprintf(stderr, "store: %s\n", result.failure.c_str());
  return result.stored() ? secondsSince(start) : -1;
}

inline bool sameFiles(const std::string& a, const std::string& b) {
  QProcess cmp;
  cmp.start("cmp", {"-s", QString::fromStdString(a), QString::fromStdString(b)});
  return cmp.waitForFinished(-1) && cmp.exitCode() == 0;
}

// Runs a tool to its end; seconds taken, or a negative number on failure.
inline double timeTool(const std::string& program, const std::vector<std::string>& arguments) {
  QProcess tool;
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  tool.setStandardOutputFile(QProcess::nullDevice());
  auto start = Clock::now();
  tool.start(QString::fromStdString(program), list);
  if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
    return -1;
  return secondsSince(start);
}

// Runs one transfer of the component to its end; seconds taken, or a
// negative number when it did not start or did not succeed.
template <typename Start>
double timeComponent(TKorvanFtp& ftp, Start start) {
  bool finished = false;
  uint8_t status = 255;
  ftp.SetOnComplete([&](TKorvanFtp*, uint8_t s, int64_t, int64_t) {
    finished = true;
    status = s;
  });
  ftp.SetOnError([](TKorvanFtp*, TKorvanFtp::ErrorKind, int& code) { code = 0; });
  auto begin = Clock::now();
  if (!start()) return -1;
  while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return status == 0 ? secondsSince(begin) : -1;
}

inline void printRatio(const char* what, double ours, const char* tool, double theirs, double goal) {
  std::printf("%s: ours %.2f s, %s %.2f s, ratio %.2f (goal at most %.1f)\n", what, ours, tool, theirs,
              ours / theirs, goal);
}

}  // namespace ftpbench
