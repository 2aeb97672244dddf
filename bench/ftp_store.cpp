// 1 GiB stored on the loopback pyftpdlib server: the courseware store
// client (active mode, as the upload queue uses it) and the component's
// upload against curl -T, each run three times in turn; the best run of
// each is compared.
#include "courseware/ftp_store.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>

#include "bench/ftp_bench_common.h"
#include "courseware/ftpclient/FtpClient.h"

namespace {

double storeOnce(const testsupport::FtpServer& server, const std::string& source, const std::string& name) {
  return ftpbench::timeStore(server.port(), server.user(), server.password(), source, name);
}

double uploadOnce(const testsupport::FtpServer& server, const std::string& source, const std::string& name) {
  TKorvanFtp ftp;
  ftp.SetConnectionCount(1);
  FtpEndpoint endpoint{"127.0.0.1",       static_cast<uint16_t>(server.port()), server.user(),
                       server.password(), "/courseware/1/2/2024-05/",           name};
  return ftpbench::timeComponent(ftp, [&] { return ftp.StartUpload(endpoint, source); });
}

}  // namespace

int main(int argc, char** argv) {
  ftpbench::useOffscreenQt();
  QApplication app(argc, argv);
  const int64_t size = int64_t{1} << 30;
  testsupport::FtpServer server;
  QTemporaryDir work;
  const std::string source = work.path().toStdString() + "/big.bin";
  if (!ftpbench::startServer(server, "ftp_store")) return 1;
  ftptest::writePatternFile(source, size);
  const std::string dir = server.root() + "/courseware/1/2/2024-05/";
  std::filesystem::create_directories(dir);
  const std::string url =
      "ftp://127.0.0.1:" + std::to_string(server.port()) + "/courseware/1/2/2024-05/curl.bin";
  double bestStore = 1e9;
  double bestUpload = 1e9;
  double bestCurl = 1e9;
  for (int round = 0; round < 3; ++round) {
    for (const char* name : {"store.bin", "upload.bin", "curl.bin"}) std::filesystem::remove(dir + name);
    double a = storeOnce(server, source, "store.bin");
    double b = uploadOnce(server, source, "upload.bin");
    double c = ftpbench::timeTool(
        "curl", {"-s", "-S", "-u", server.user() + ":" + server.password(), "-T", source, url});
    if (a < 0 || b < 0 || c < 0 || !ftpbench::sameFiles(source, dir + "store.bin") ||
        !ftpbench::sameFiles(source, dir + "upload.bin") || !ftpbench::sameFiles(source, dir + "curl.bin")) {
      std::fprintf(stderr, "ftp_store: a store failed or differs (store %.2f, upload %.2f, curl %.2f)\n", a,
                   b, c);
      return 1;
    }
    std::printf("round %d: store client %.2f s, component upload %.2f s, curl %.2f s\n", round + 1, a, b, c);
    bestStore = std::min(bestStore, a);
    bestUpload = std::min(bestUpload, b);
    bestCurl = std::min(bestCurl, c);
  }
  ftpbench::printRatio("1 GiB STOR, store client (active mode)", bestStore, "curl -T", bestCurl, 1.1);
  ftpbench::printRatio("1 GiB STOR, component upload (passive mode)", bestUpload, "curl -T", bestCurl, 1.1);
  return 0;
}
