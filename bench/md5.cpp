// MD5 of a 1 GiB file with the upload queue's routine (read in pieces
// through OpenSSL's EVP digest), timed against md5sum and openssl dgst -md5
// on the same file, each run three times from a warm page cache; the median
// times give the ratios. Usage: bench_md5 [file] (without a file a 1 GiB
// file is written to a temporary folder first).
#include "courseware/md5.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/ftp_bench_common.h"

namespace {

constexpr int kRuns = 3;

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The digest a tool prints first on its output line, for the check that all
// three agree.
std::string toolDigest(const QString& program, const QStringList& arguments) {
  QProcess tool;
  tool.start(program, arguments);
  if (!tool.waitForFinished(-1) || tool.exitCode() != 0) return {};
  QString line = QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
  // md5sum: "<digest>  <file>"; openssl: "MD5(<file>)= <digest>".
  if (line.contains("= ")) return line.section("= ", -1).toStdString();
  return line.section(' ', 0, 0).toStdString();
}

void printRatio(const char* tool, double ours, double theirs, double goal) {
  std::printf("md5 of 1 GiB: ours %.3f s, %s %.3f s, ratio %.3f (goal at most %.2f)\n", ours, tool, theirs,
              ours / theirs, goal);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  std::string file = argc > 1 ? argv[1] : dir.path().toStdString() + "/one-gib.bin";
  if (argc <= 1) ftptest::writePatternFile(file, int64_t{1} << 30, 5);
  const QString path = QString::fromStdString(file);

  // One untimed pass of each brings the file into the page cache and checks
  // that all three agree.
  std::optional<std::string> ours = courseware::md5OfFile(file);
  std::string md5sum = toolDigest("md5sum", {path});
  std::string openssl = toolDigest("openssl", {"dgst", "-md5", path});
  if (!ours || *ours != md5sum || *ours != openssl) {
    std::fprintf(stderr, "bench_md5: digests differ: ours %s, md5sum %s, openssl %s\n",
                 ours.value_or("none").c_str(), md5sum.c_str(), openssl.c_str());
    return 1;
  }

  std::vector<double> oursTimes, md5sumTimes, opensslTimes;
  for (int run = 0; run < kRuns; ++run) {
    auto start = ftpbench::Clock::now();
    courseware::md5OfFile(file);
    oursTimes.push_back(ftpbench::secondsSince(start));
    md5sumTimes.push_back(ftpbench::timeTool("md5sum", {file}));
    opensslTimes.push_back(ftpbench::timeTool("openssl", {"dgst", "-md5", file}));
  }
  printRatio("md5sum", median(oursTimes), median(md5sumTimes), 1.0);
  printRatio("openssl dgst -md5", median(oursTimes), median(opensslTimes), 1.05);
  return 0;
}
