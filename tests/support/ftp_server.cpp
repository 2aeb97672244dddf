#include "tests/support/ftp_server.h"

#include <QDeadlineTimer>
#include <fstream>

namespace testsupport {
namespace {

// Started with Debian's own interpreter: another python3 earlier on the
// PATH may lack pyftpdlib.
constexpr const char* kPython = "/usr/bin/python3";

constexpr const char* kScript = R"PY(
import os, sys, threading
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.log import logger
from pyftpdlib.servers import FTPServer

(port, root, user, password, log_path, receive_limit, send_limit, perm, fail_stores,
 fail_after, refuse_rest, tls_cert, tls_key, tls_required) = sys.argv[1:15]
log = open(log_path, "a", encoding="utf-8", errors="replace", buffering=1)

Base = FTPHandler
if tls_cert:
    from pyftpdlib.handlers import TLS_FTPHandler
    Base = TLS_FTPHandler
    Base.certfile = tls_cert
    Base.keyfile = tls_key
    Base.tls_control_required = Base.tls_data_required = tls_required == "1"

class Handler(Base):
    def pre_process_command(self, line, cmd, arg):
        log.write(line + "\n")
        return super().pre_process_command(line, cmd, arg)

    def ftp_REST(self, line):
        if refuse_rest == "1":
            self.respond("502 Command not implemented.")
            return
        return super().ftp_REST(line)

authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm=perm)
Handler.authorizer = authorizer
if int(receive_limit) or int(send_limit):
    class Throttled(ThrottledDTPHandler):
        read_limit = int(receive_limit)
        write_limit = int(send_limit)
    Handler.dtp_handler = Throttled
failures_left = [int(fail_stores)]
if failures_left[0]:
    class Failing(Handler.dtp_handler):
        def handle_read(self):
            super().handle_read()
            if (self.receive and failures_left[0] > 0 and not self._closed
                    and self.tot_bytes_received >= int(fail_after)):
                failures_left[0] -= 1
                self._resp = ("426 No space left on device; transfer aborted.", logger.warning)
                self.close()
        handle_read_event = handle_read
    Handler.dtp_handler = Failing
# The test holds our standard input open; when it ends, even by a crash,
# the server goes too.
def watch_parent():
    sys.stdin.read()
    os._exit(0)
threading.Thread(target=watch_parent, daemon=True).start()

server = FTPServer(("127.0.0.1", int(port)), Handler)
print("ready", server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
)PY";

}  // namespace

FtpServer::FtpServer() : FtpServer(Options{}) {}

FtpServer::FtpServer(Options options) : options_(std::move(options)) {
  if (options_.root.empty()) {
    rootDir_ = std::make_unique<QTemporaryDir>();
    root_ = rootDir_->path().toStdString();
  } else {
    root_ = options_.root;
  }
  logPath_ = workDir_.path().toStdString() + "/commands.log";
  port_ = options_.port;
}

FtpServer::~FtpServer() { stop(); }

bool FtpServer::start() {
  stop();
  process_ = std::make_unique<QProcess>();
  process_->setProgram(kPython);
  process_->setArguments({"-c", kScript, QString::number(port_), QString::fromStdString(root_),
                          QString::fromStdString(options_.user), QString::fromStdString(options_.password),
                          QString::fromStdString(logPath_), QString::number(options_.receiveLimit),
                          QString::number(options_.sendLimit),
                          options_.mayDelete ? "elradfmwMT" : "elrafmwMT",
                          QString::number(options_.failStores), QString::number(options_.failAfterBytes),
                          options_.refuseRest ? "1" : "0", QString::fromStdString(options_.tlsCert),
                          QString::fromStdString(options_.tlsKey), options_.tlsRequired ? "1" : "0"});
  process_->setStandardErrorFile(workDir_.path() + "/server.err", QIODevice::Append);
  process_->start();
  QDeadlineTimer deadline(15000);
  while (!deadline.hasExpired()) {
    if (process_->canReadLine()) {
      QByteArray line = process_->readLine().trimmed();
      if (!line.startsWith("ready ")) break;
      port_ = line.mid(6).toInt();
      return true;
    }
    if (process_->state() == QProcess::NotRunning) break;
    process_->waitForReadyRead(100);
  }
  stop();
  return false;
}

void FtpServer::stop() {
  if (!process_) return;
  if (process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
  process_.reset();
}

bool FtpServer::running() const { return process_ && process_->state() == QProcess::Running; }

std::vector<std::string> FtpServer::commands() const {
  std::vector<std::string> lines;
  std::ifstream log(logPath_);
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

void FtpServer::clearCommands() { std::ofstream(logPath_, std::ios::trunc); }

}  // namespace testsupport
