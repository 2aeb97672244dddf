// A throwaway CA for the TLS tests, made with the openssl command in a
// temporary folder: the CA's certificate (what a school puts in ca.pem) and
// server certificates signed by it, one per case a client must tell apart.
#pragma once

#include <QTemporaryDir>
#include <string>

namespace testsupport {

class TestCa {
 public:
  // Server certificates made: "good" (localhost and 127.0.0.1), "otherhost"
  // (only other.example), "expired" (localhost, valid through January
  // 2020) and "stranger" (localhost, but self-signed: no CA the client
  // knows).
  TestCa();
  // One CA for the whole test program, made on first use: making one takes
  // a while.
  static const TestCa& shared();

  // False when the openssl command is missing or failed.
  bool made() const { return made_; }
  std::string caFile() const { return dir_.path().toStdString() + "/ca.pem"; }
  std::string certificate(const std::string& name) const {
    return dir_.path().toStdString() + "/" + name + ".pem";
  }
  std::string key(const std::string& name) const { return dir_.path().toStdString() + "/" + name + ".key"; }
  // The certificate's key pin ("sha256//..."), computed by the openssl
  // command.
  std::string pin(const std::string& name) const;

 private:
  QTemporaryDir dir_;
  bool made_ = false;
};

}  // namespace testsupport
