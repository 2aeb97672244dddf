// 1 GiB from the loopback pyftpdlib server over four connections: the
// client's own component against aria2c -x4 -s4, each run three times in
// turn; the best run of each is compared.
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>

#include "bench/ftp_bench_common.h"
#include "courseware/FtpClient.h"
#include "tests/support/ftp_server.h"

namespace {

double oursOnce(const testsupport::FtpServer& server, const std::string& target) {
  TKorvanFtp ftp;
  ftp.SetConnectionCount(4);
  bool finished = false;
  uint8_t status = 255;
  ftp.OnComplete = [&](TKorvanFtp*, uint8_t s, int64_t, int64_t) {
    finished = true;
    status = s;
  };
  ftp.OnError = [](TKorvanFtp*, TKorvanFtp::ErrorKind, int& code) { code = 0; };
  FtpEndpoint endpoint{
      "127.0.0.1", static_cast<uint16_t>(server.port()), server.user(), server.password(), "/", "big.bin"};
  auto start = ftpbench::Clock::now();
  if (!ftp.StartDownload(endpoint, target, true)) return -1;
  while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return status == 0 ? ftpbench::secondsSince(start) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int64_t size = int64_t{1} << 30;
  testsupport::FtpServer server;
  QTemporaryDir work;
  if (!server.start() || !ftpbench::writeFile(server.root() + "/big.bin", size)) {
    std::fprintf(stderr, "ftp_download: could not start the server or write the file\n");
    return 1;
  }
  const std::string source = server.root() + "/big.bin";
  const std::string ours = work.path().toStdString() + "/ours.bin";
  const std::string theirs = work.path().toStdString() + "/theirs.bin";
  const std::string url = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/big.bin";
  double bestOurs = 1e9;
  double bestTheirs = 1e9;
  for (int round = 0; round < 3; ++round) {
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
    double a = oursOnce(server, ours);
    double b =
        ftpbench::timeTool("aria2c", {"-x4", "-s4", "--file-allocation=none", "--allow-overwrite=true",
                                      "--console-log-level=error", "--summary-interval=0",
                                      "--ftp-user=" + server.user(), "--ftp-passwd=" + server.password(),
                                      "-d", work.path().toStdString(), "-o", "theirs.bin", url});
    if (a < 0 || b < 0 || !ftpbench::sameFiles(source, ours) || !ftpbench::sameFiles(source, theirs)) {
      std::fprintf(stderr, "ftp_download: a download failed or differs (ours %.2f, aria2c %.2f)\n", a, b);
      return 1;
    }
    std::printf("round %d: ours %.2f s, aria2c %.2f s\n", round + 1, a, b);
    bestOurs = std::min(bestOurs, a);
    bestTheirs = std::min(bestTheirs, b);
  }
  ftpbench::printRatio("1 GiB download, 4 connections", bestOurs, "aria2c -x4 -s4", bestTheirs, 1.0);
  return 0;
}
