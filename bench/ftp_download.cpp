// 1 GiB from the loopback pyftpdlib server over four connections: the
// client's own component against aria2c -x4 -s4, each run three times in
// turn; the best run of each is compared.
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>

#include "bench/ftp_bench_common.h"
#include "courseware/ftpclient/FtpClient.h"

namespace {

double oursOnce(const testsupport::FtpServer& server, const std::string& target) {
  TKorvanFtp ftp;
  ftp.SetConnectionCount(4);
  FtpEndpoint endpoint{
      "127.0.0.1", static_cast<uint16_t>(server.port()), server.user(), server.password(), "/", "big.bin"};
  return ftpbench::timeComponent(ftp, [&] { return ftp.StartDownload(endpoint, target, true); });
}

}  // namespace

int main(int argc, char** argv) {
  ftpbench::useOffscreenQt();
  QApplication app(argc, argv);
  const int64_t size = int64_t{1} << 30;
  testsupport::FtpServer server;
  QTemporaryDir work;
  if (!ftpbench::startServer(server, "ftp_download")) return 1;
  const std::string source = server.root() + "/big.bin";
  ftptest::writePatternFile(source, size);
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
