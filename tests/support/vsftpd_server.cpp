#include "tests/support/vsftpd_server.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTcpSocket>

#include "tests/support/test_support.h"

namespace testsupport {
namespace {

constexpr char kProgram[] = "/usr/sbin/vsftpd";

}  // namespace

VsftpdServer::VsftpdServer(const std::string& certificate, const std::string& key)
    : certificate_(certificate), key_(key) {}

VsftpdServer::~VsftpdServer() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
}

bool VsftpdServer::available() { return ::geteuid() == 0 && QFile::exists(kProgram) && ::getpwnam("ftp"); }

bool VsftpdServer::start() {
  if (!available() || !root_.isValid() || !work_.isValid()) return false;
  // vsftpd refuses a writable root for anonymous logins; the folder below it
  // belongs to its unprivileged user.
  const std::string courseware = root() + "/courseware";
  const passwd* ftpUser = ::getpwnam("ftp");
  if (::chmod(root().c_str(), 0755) != 0 || ::mkdir(courseware.c_str(), 0755) != 0 ||
      ::chown(courseware.c_str(), ftpUser->pw_uid, ftpUser->pw_gid) != 0)
    return false;
  port_ = freePort();
  std::string config = "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
                       "\nbackground=NO\n"
                       "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" +
                       root() +
                       "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                       "anon_other_write_enable=YES\nanon_umask=022\nlocal_enable=NO\n"
                       // Containers lack what the sandbox and the namespaces need.
                       "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                       "vsftpd_log_file=" +
                       work_.path().toStdString() + "/vsftpd.log\nxferlog_enable=YES\n";
  if (!certificate_.empty()) {
    config +=
        "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
        "rsa_cert_file=" +
        certificate_ + "\nrsa_private_key_file=" + key_ + "\n";
  }
  const std::string configPath = work_.path().toStdString() + "/vsftpd.conf";
  if (!writeFile(configPath, config)) return false;
  process_ = std::make_unique<QProcess>();
  process_->setProcessChannelMode(QProcess::ForwardedChannels);
  process_->start(kProgram, {QString::fromStdString(configPath)});
  if (!process_->waitForStarted(10000)) return false;
  return waitFor(
             [this] {
               if (process_->state() != QProcess::Running) return true;
               QTcpSocket probe;
               probe.connectToHost("127.0.0.1", static_cast<quint16>(port_));
               return probe.waitForConnected(200);
             },
             10000) &&
         process_->state() == QProcess::Running;
}

}  // namespace testsupport
