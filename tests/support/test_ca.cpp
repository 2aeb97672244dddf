#include "tests/support/test_ca.h"

#include <QProcess>
#include <QStandardPaths>
#include <optional>

#include "tests/support/test_support.h"

namespace testsupport {
namespace {

// The CA's settings for `openssl ca`, which alone takes a start date in the
// past (for the expired certificate).
constexpr char kCaConfig[] = R"([ca]
default_ca = test
[test]
dir = .
database = index.txt
serial = serial
new_certs_dir = .
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
)";

constexpr char kScript[] = R"(set -e
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
key ca
openssl req -x509 -key ca.key -out ca.pem -days 30 -subj "/CN=Test School CA"
: > index.txt
echo 01 > serial
issue() {
  key "$1"
  openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$1" -addext "subjectAltName=$2"
  openssl ca -batch -config ca.cnf -notext -in "$1.csr" -out "$1.pem" -startdate "$3" -enddate "$4"
}
issue good "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20991231000000Z
issue otherhost "DNS:other.example" 20200101000000Z 20991231000000Z
issue expired "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20200201000000Z
key stranger
openssl req -x509 -key stranger.key -out stranger.pem -days 30 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
)";

std::optional<std::string> run(const QString& folder, const std::string& script) {
  QProcess shell;
  shell.setWorkingDirectory(folder);
  shell.start("/bin/sh", {"-c", QString::fromStdString(script)});
  if (!shell.waitForFinished(60000) || shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
    return std::nullopt;
  return shell.readAllStandardOutput().toStdString();
}

}  // namespace

TestCa::TestCa() {
  if (!dir_.isValid() || QStandardPaths::findExecutable("openssl").isEmpty()) return;
  if (!writeFile(dir_.path().toStdString() + "/ca.cnf", kCaConfig)) return;
  made_ = run(dir_.path(), kScript).has_value();
}

const TestCa& TestCa::shared() {
  static const TestCa ca;
  return ca;
}

std::string TestCa::pin(const std::string& name) const {
  std::string digest = run(dir_.path(), "openssl x509 -in " + name +
                                            ".pem -pubkey -noout | openssl pkey -pubin -outform der | "
                                            "openssl dgst -sha256 -binary | base64")
                           .value_or("");
  while (!digest.empty() && (digest.back() == '\n' || digest.back() == '\r')) digest.pop_back();
  return "sha256//" + digest;
}

}  // namespace testsupport
