// 1 GiB stored over FTPS on a loopback vsftpd (TLS required for the login
// and the data, the data connection resuming the control connection's
// session): the courseware store client (active mode, as the upload queue
// uses it) against curl --ssl-reqd -T, each run three times in turn; the
// best run of each is compared. Needs root, for vsftpd.
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>

#include "bench/ftp_bench_common.h"
#include "courseware/ftp_store.h"
#include "platform/tls_trust.h"
#include "tests/support/test_ca.h"
#include "tests/support/vsftpd_server.h"

int main(int argc, char** argv) {
  ftpbench::useOffscreenQt();
  QApplication app(argc, argv);
  const int64_t size = int64_t{1} << 30;
  testsupport::TestCa ca;
  testsupport::VsftpdServer server(ca.certificate("good"), ca.key("good"));
  if (!ca.made() || !server.start()) {
    std::fprintf(stderr,
                 "ftps_store: no test CA or no vsftpd (needs the openssl command, vsftpd and root)\n");
    return 1;
  }
  platform::TlsTrust trust;
  trust.caFile = ca.caFile();
  platform::setTlsTrust(trust);
  QTemporaryDir work;
  const std::string source = work.path().toStdString() + "/big.bin";
  ftptest::writePatternFile(source, size);
  const std::string dir = server.root() + "/courseware/1/2/2024-05/";
  const std::string url =
      "ftp://127.0.0.1:" + std::to_string(server.port()) + "/courseware/1/2/2024-05/curl.bin";
  double bestStore = 1e9;
  double bestCurl = 1e9;
  for (int round = 0; round < 3; ++round) {
    for (const char* name : {"store.bin", "curl.bin"}) std::filesystem::remove(dir + name);
    const double a = ftpbench::timeStore(server.port(), server.user(), server.password(), source, "store.bin",
                                         ftp::TlsMode::Require);
    const double b = ftpbench::timeTool("curl", {"-s", "-S", "--ssl-reqd", "--cacert", ca.caFile(), "-u",
                                                 server.user() + ":" + server.password(), "-T", source, url});
    if (a < 0 || b < 0 || !ftpbench::sameFiles(source, dir + "store.bin") ||
        !ftpbench::sameFiles(source, dir + "curl.bin")) {
      std::fprintf(stderr, "ftps_store: a store failed or differs (store %.2f, curl %.2f)\n", a, b);
      return 1;
    }
    std::printf("round %d: store client %.2f s, curl %.2f s\n", round + 1, a, b);
    bestStore = std::min(bestStore, a);
    bestCurl = std::min(bestCurl, b);
  }
  ftpbench::printRatio("1 GiB STOR over FTPS, store client (active mode)", bestStore, "curl --ssl-reqd -T",
                       bestCurl, 1.1);
  return 0;
}
