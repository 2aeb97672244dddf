#include "tests/support/vsftpd_server.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTcpSocket>
#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "tests/support/test_support.h"

namespace testsupport {
namespace {

constexpr char kProgram[] = "/usr/sbin/vsftpd";

// Every running process with its parent, from /proc.
std::map<pid_t, pid_t> parentsOfAll() {
  std::map<pid_t, pid_t> parents;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
    const std::string stat = readFile(entry.path().string() + "/stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) continue;
    std::istringstream rest(stat.substr(end + 1));
    std::string state;
    pid_t parent = 0;
    if (rest >> state >> parent) parents[static_cast<pid_t>(std::stoi(name))] = parent;
  }
  return parents;
}

}  // namespace

VsftpdServer::VsftpdServer(const std::string& certificate, const std::string& key)
    : certificate_(certificate), key_(key) {}

VsftpdServer::~VsftpdServer() { stop(); }

void VsftpdServer::stop() {
  if (!process_ || process_->state() == QProcess::NotRunning) return;
  // Each session is a child of the listener (or of that child) in a
  // session of its own: the whole tree is found before any of it dies.
  std::vector<pid_t> tree{static_cast<pid_t>(process_->processId())};
  const std::map<pid_t, pid_t> parents = parentsOfAll();
  for (size_t i = 0; i < tree.size(); ++i) {
    for (const auto& [pid, parent] : parents)
      if (parent == tree[i]) tree.push_back(pid);
  }
  for (pid_t pid : tree) ::kill(pid, SIGKILL);
  process_->waitForFinished(5000);
}

std::string VsftpdServer::log() const { return readFile(work_.path().toStdString() + "/vsftpd.log"); }

bool VsftpdServer::available() { return ::geteuid() == 0 && QFile::exists(kProgram) && ::getpwnam("ftp"); }

bool VsftpdServer::start() {
  if (!available() || !root_.isValid() || !work_.isValid()) return false;
  // vsftpd refuses a writable root for anonymous logins; the folder below it
  // belongs to its unprivileged user.
  const std::string courseware = root() + "/courseware";
  const passwd* ftpUser = ::getpwnam("ftp");
  if (::chmod(root().c_str(), 0755) != 0 || (::mkdir(courseware.c_str(), 0755) != 0 && errno != EEXIST) ||
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
                       work_.path().toStdString() +
                       "/vsftpd.log\nxferlog_enable=YES\nlog_ftp_protocol=YES\n"
                       "anon_max_rate=" +
                       std::to_string(maxRate_) + "\n";
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
