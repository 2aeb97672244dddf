#include "courseware/ftp_store.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <optional>

#include "courseware/ftp_data_loops.h"
#include "courseware/ftp_reply.h"
#include "platform/tcp_stream.h"
#include "platform/tls_stream.h"
#include "sys/text_codec.h"

namespace ftp {
namespace {

using Clock = std::chrono::steady_clock;
using platform::WaitResult;

// Waits are cut into slices so that a cancel is seen quickly.
constexpr int kSliceMs = 100;

std::string firstLine(const Reply& reply) {
  std::string line = reply.text.substr(0, reply.text.find_first_of("\r\n"));
  return line;
}

using text::gbk;

// Codes with which a server ends a transfer (or refuses to open its data
// connection), as opposed to answering a DELE.
bool endsATransfer(int code) {
  for (int transferCode : {225, 226, 425, 426, 451, 452, 552}) {
    if (code == transferCode) return true;
  }
  return false;
}

class StoreSession {
 public:
  StoreSession(const StoreJob& job, const StoreProgress& progress, const std::atomic<bool>* cancel,
               const StoreTimeouts& timeouts, LeftoverFiles* leftovers)
      : job_(job), progress_(progress), cancel_(cancel), timeouts_(timeouts), leftovers_(leftovers) {
    result_.remoteDir = courseRemoteDir(job.schoolId, job.teacherId, job.month);
    result_.remotePath = result_.remoteDir + job.remoteFileName;
  }

  StoreResult run() {
    if (login() && deleteLeftovers() && enterDirectory() && sendFile()) {
      result_.outcome = StoreOutcome::Stored;
    } else if (fileBegun_ && job_.resumable && result_.outcome != StoreOutcome::Cancelled) {
      // The next store continues it.
      result_.partialKept = true;
      log("FTP：保留未传完的文件，下次从中断处继续：", result_.remotePath);
    } else if (fileBegun_) {
      discardPartial();
    }
    // The connection simply closes; no QUIT is sent.
    control_.close();
    return result_;
  }

  StoreResult tidy() {
    if (login()) deleteLeftovers();
    control_.close();
    return result_;
  }

 private:
  // While a broken store tidies up, a cancel no longer cuts the waits short:
  // the partial file must go first.
  bool cancelled() const { return !tidying_ && cancel_ && cancel_->load(); }
  int replyWaitMs() const { return tidying_ ? timeouts_.cleanupMs : timeouts_.replyMs; }
  void log(const char* utf8, const std::string& detail) { result_.log.push_back(gbk(utf8) + detail); }

  bool fail(StoreOutcome outcome, const std::string& text) {
    if (cancelled()) {
      result_.outcome = StoreOutcome::Cancelled;
      result_.failure = gbk("上传已取消");
    } else {
      result_.outcome = outcome;
      result_.failure = text;
    }
    return false;
  }

  // Runs `wait` in slices until it is ready, fails, `timeoutMs` passes or
  // the store is cancelled.
  template <typename Wait>
  WaitResult waitSliced(Wait wait, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (cancelled()) return WaitResult::Failed;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WaitResult::TimedOut;
      WaitResult result = wait(static_cast<int>(std::min<long long>(left, kSliceMs)));
      if (result != WaitResult::TimedOut) return result;
    }
  }

  bool sendAll(platform::TlsStream& stream, const char* data, size_t size) {
    size_t sent = 0;
    while (sent < size) {
      long n = stream.send(data + sent, size - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (!stream.wouldBlock()) return false;
      auto writable = [&stream](int ms) { return stream.waitWritable(ms); };
      if (waitSliced(writable, timeouts_.dataMs) != WaitResult::Ready) return false;
    }
    return true;
  }

  bool command(const std::string& verb, const std::string& argument) {
    std::string line = argument.empty() ? verb + "\r\n" : verb + " " + argument + "\r\n";
    return sendAll(control_, line.data(), line.size());
  }

  // The next whole reply; none when the server closes, stays silent past
  // the reply time-out or the store is cancelled.
  std::optional<Reply> reply() {
    char buffer[4096];
    for (;;) {
      if (std::optional<Reply> whole = replies_.next()) return whole;
      if (controlLost_) return std::nullopt;
      auto readable = [this](int ms) { return control_.waitReadable(ms); };
      WaitResult ready = waitSliced(readable, replyWaitMs());
      if (ready != WaitResult::Ready) {
        controlLost_ = ready == WaitResult::Failed && !cancelled();
        return std::nullopt;
      }
      long n = control_.receive(buffer, sizeof buffer);
      if (n > 0) {
        replies_.feed(std::string_view(buffer, static_cast<size_t>(n)));
      } else if (n == 0 || !control_.wouldBlock()) {
        controlLost_ = true;
        return std::nullopt;
      }
    }
  }

  std::optional<Reply> ask(const std::string& verb, const std::string& argument) {
    if (controlLost_ || !command(verb, argument)) return std::nullopt;
    return reply();
  }

  // Whether the reply came and carries one of `codes`; otherwise the store
  // fails with `what` and the server's words.
  bool expect(const std::optional<Reply>& answer, std::initializer_list<int> codes, StoreOutcome outcome,
              const char* what) {
    if (!answer) return fail(outcome, gbk("FTP服务器无应答或连接已断开"));
    if (std::find(codes.begin(), codes.end(), answer->code) != codes.end()) return true;
    return fail(outcome, gbk(what) + firstLine(*answer));
  }

  bool login() {
    if (job_.port < 1 || job_.port > 65535) return fail(StoreOutcome::ConnectFailed, gbk("FTP端口无效"));
    if (!control_.connect(job_.host, static_cast<uint16_t>(job_.port), timeouts_.connectMs)) {
      return fail(StoreOutcome::ConnectFailed, gbk("无法连接FTP服务器：") + job_.host + ":" +
                                                   std::to_string(job_.port) + " (" + control_.errorText() +
                                                   ")");
    }
    constexpr auto connectFailed = StoreOutcome::ConnectFailed;
    if (!expect(reply(), {220}, connectFailed, "FTP服务器拒绝连接：")) return false;
    if (!secureControl()) return false;
    std::optional<Reply> user = ask("USER", job_.user);
    if (!expect(user, {230, 331}, connectFailed, "FTP服务器登录失败：")) return false;
    if (user->code == 331 &&
        !expect(ask("PASS", job_.password), {230}, connectFailed, "FTP服务器登录失败：")) {
      return false;
    }
    if (!protectData()) return false;
    if (!expect(ask("TYPE", "I"), {200}, connectFailed, "FTP服务器拒绝命令：")) return false;
    return expect(ask("SYST", ""), {200, 215, 500}, connectFailed, "FTP服务器拒绝命令：");
  }

  // TLS on the control connection as the job asks, before the password
  // goes. Required: a server without it fails the store. Tried: such a
  // server is used in clear, and the log says so. A server that takes
  // "AUTH TLS" but then fails a check is never used in clear.
  bool secureControl() {
    if (job_.tls == TlsMode::Off) return true;
    std::optional<Reply> answer = ask("AUTH", "TLS");
    if (!answer) return fail(StoreOutcome::ConnectFailed, gbk("FTP服务器无应答或连接已断开"));
    if (answer->code != 234) {
      if (job_.tls == TlsMode::Require)
        return fail(StoreOutcome::ConnectFailed, gbk("FTP服务器不支持加密连接：") + firstLine(*answer));
      log("FTP：服务器不支持加密连接，本次不加密：", firstLine(*answer));
      return true;
    }
    if (!control_.startTls(job_.host, job_.port, nullptr, timeouts_.connectMs))
      return fail(StoreOutcome::ConnectFailed, gbk("FTP加密连接未通过检查：") + control_.failureText());
    log("FTP：已使用加密连接 ", job_.host + ":" + std::to_string(job_.port));
    return true;
  }

  // Every data connection of a secure session is TLS too.
  bool protectData() {
    if (!control_.secure()) return true;
    constexpr auto connectFailed = StoreOutcome::ConnectFailed;
    return expect(ask("PBSZ", "0"), {200}, connectFailed, "FTP服务器拒绝命令：") &&
           expect(ask("PROT", "P"), {200}, connectFailed, "FTP服务器拒绝命令：");
  }

  // Partial files of earlier broken stores go before this store begins.
  // Each is tried until the server has answered about it once.
  bool deleteLeftovers() {
    if (leftovers_ == nullptr) return true;
    for (const std::string& path : leftovers_->list()) {
      std::optional<Reply> answer = ask("DELE", path);
      if (!answer) return fail(StoreOutcome::StoreFailed, gbk("FTP服务器无应答或连接已断开"));
      leftovers_->remove(path);
      if (answer->code == 250) {
        log("FTP：已删除上次未传完的文件 ", path);
      } else {
        log("FTP：删除上次未传完的文件失败：", path + " (" + firstLine(*answer) + ")");
      }
    }
    return true;
  }

  // A store that broke off after the server had begun the file deletes that
  // partial file before anything else is said on the connection. The data
  // connection is closed by now; DELE goes at once rather than after the
  // server has drained what was still under way. When the file cannot be
  // deleted the log says so, and without a connection the file is left for
  // the next store to delete.
  void discardPartial() {
    tidying_ = true;
    const std::string& path = result_.remotePath;
    std::optional<Reply> answer;
    if (!controlLost_ && command("DELE", path)) {
      // The server's word on the broken transfer may come first.
      do {
        answer = reply();
      } while (answer && endsATransfer(answer->code));
    }
    if (answer && answer->code == 250) {
      log("FTP：已删除未传完的文件 ", path);
      return;
    }
    if (answer) {
      log("FTP：删除未传完的文件失败：", path + " (" + firstLine(*answer) + ")");
      return;
    }
    log("FTP：删除未传完的文件失败：", path + gbk(" (FTP服务器无应答或连接已断开)"));
    if (leftovers_ != nullptr) leftovers_->add(path);
  }

  enum class Entered { Yes, Refused, Broken };

  Entered changeDirectory() {
    std::optional<Reply> answer = ask("CWD", result_.remoteDir);
    if (!answer) {
      fail(StoreOutcome::StoreFailed, gbk("FTP服务器无应答或连接已断开"));
      return Entered::Broken;
    }
    return (answer->code == 200 || answer->code == 250) ? Entered::Yes : Entered::Refused;
  }

  bool enterDirectory() {
    // Usually the folder exists already; a failure here is expected then.
    if (!ask("MKD", result_.remoteDir))
      return fail(StoreOutcome::StoreFailed, gbk("FTP服务器无应答或连接已断开"));
    Entered entered = changeDirectory();
    if (entered != Entered::Refused) return entered == Entered::Yes;
    // Most servers make only the last level of a path, so the first store
    // for a new teacher or month creates the levels one by one.
    std::string level;
    for (const std::string& part : {std::string("courseware"), job_.schoolId, job_.teacherId, job_.month}) {
      level += "/" + part;
      if (!ask("MKD", level)) return fail(StoreOutcome::StoreFailed, gbk("FTP服务器无应答或连接已断开"));
    }
    entered = changeDirectory();
    if (entered != Entered::Refused) return entered == Entered::Yes;
    return fail(StoreOutcome::StoreFailed, gbk("无法进入FTP目录：") + result_.remoteDir);
  }

  // "PORT h1,h2,h3,h4,p1,p2" for the listener.
  static std::string portArgument(const std::string& address, uint16_t port) {
    std::string argument = address;
    std::replace(argument.begin(), argument.end(), '.', ',');
    return argument + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
  }

  bool sendFile() {
    std::ifstream file(text::gbkToUtf8(job_.localPath), std::ios::binary | std::ios::ate);
    if (!file) return fail(StoreOutcome::StoreFailed, gbk("无法打开本地文件：") + job_.localPath);
    auto total = static_cast<int64_t>(file.tellg());
    file.seekg(0);

    int64_t offset = 0;
    if (job_.resumable) {
      // The size of the server's copy from an earlier broken store.
      std::optional<Reply> size = ask("SIZE", job_.remoteFileName);
      if (!size) return fail(StoreOutcome::StoreFailed, gbk("FTP服务器无应答或连接已断开"));
      const int64_t held = size->code == 213 ? parseSizeReply(size->text).value_or(-1) : -1;
      if (held == total && total > 0) {
        // Whole already: only the server's last word was lost.
        result_.resumedFrom = held;
        log("FTP：服务器上的文件已完整：", result_.remotePath);
        return true;
      }
      if (held > 0 && held < total) offset = held;
    }
    result_.resumedFrom = offset;

    platform::TcpListener listener;
    if (!listener.listen(control_.localAddress())) {
      return fail(StoreOutcome::StoreFailed, gbk("无法建立FTP数据连接"));
    }
    constexpr auto storeFailed = StoreOutcome::StoreFailed;
    if (!expect(ask("PORT", portArgument(control_.localAddress(), listener.port())), {200}, storeFailed,
                "FTP服务器拒绝数据连接：")) {
      return false;
    }
    const char* verb = "STOR";
    if (offset > 0) {
      std::optional<Reply> rest = ask("REST", std::to_string(offset));
      if (!rest) return fail(storeFailed, gbk("FTP服务器无应答或连接已断开"));
      // A server without REST for uploads still appends.
      if (rest->code != 350) verb = "APPE";
      log("FTP：从中断处继续上传：", result_.remotePath + " (" + std::to_string(offset) + " " + verb + ")");
    }
    if (!expect(ask(verb, job_.remoteFileName), {125, 150}, storeFailed, "上传文件失败：")) return false;
    // From here on the server holds a file of that name, whole or not.
    fileBegun_ = true;
    auto acceptable = [&listener](int ms) { return listener.waitAccept(ms); };
    if (waitSliced(acceptable, timeouts_.dataMs) != WaitResult::Ready) {
      return fail(storeFailed, gbk("FTP服务器没有建立数据连接"));
    }
    platform::TlsStream data(listener.accept());
    listener.close();
    if (!data.isOpen()) return fail(storeFailed, gbk("FTP服务器没有建立数据连接"));
    if (control_.secure() && !data.startTls(job_.host, job_.port, &control_, timeouts_.dataMs))
      return fail(storeFailed, gbk("FTP数据连接加密失败：") + data.failureText());

    auto buffer = std::make_unique<char[]>(kChunkSize);
    int64_t sent = offset;
    file.seekg(offset);
    while (sent < total) {
      auto want = static_cast<std::streamsize>(std::min<int64_t>(kChunkSize, total - sent));
      if (!file.read(buffer.get(), want))
        return fail(storeFailed, gbk("读取本地文件失败：") + job_.localPath);
      if (!sendAll(data, buffer.get(), static_cast<size_t>(want))) {
        return fail(storeFailed, gbk("上传文件失败：数据连接中断"));
      }
      sent += want;
      result_.bytesSent += want;
      if (progress_) progress_(sent, total);
    }
    // The server learns that the file is complete from the end of the data
    // (with TLS, from the closing alert before it).
    if (!data.shutdownSend(timeouts_.dataMs)) return fail(storeFailed, gbk("上传文件失败：数据连接中断"));
    data.close();

    std::optional<Reply> done = reply();
    return expect(done, {225, 226, 250}, storeFailed, "上传文件失败：");
  }

  const StoreJob& job_;
  const StoreProgress& progress_;
  const std::atomic<bool>* cancel_;
  StoreTimeouts timeouts_;
  LeftoverFiles* leftovers_;
  bool fileBegun_ = false;    // STOR was accepted
  bool controlLost_ = false;  // the control connection closed or failed
  bool tidying_ = false;
  platform::TlsStream control_;
  ReplyReader replies_;
  StoreResult result_;
};

}  // namespace

TlsMode tlsModeNamed(const std::string& name) {
  if (name == "try") return TlsMode::Try;
  if (name == "require") return TlsMode::Require;
  return TlsMode::Off;
}

std::string courseRemoteDir(const std::string& schoolId, const std::string& teacherId,
                            const std::string& month) {
  return "/courseware/" + schoolId + "/" + teacherId + "/" + month + "/";
}

StoreResult storeFile(const StoreJob& job, const StoreProgress& progress, const std::atomic<bool>* cancel,
                      const StoreTimeouts& timeouts, LeftoverFiles* leftovers) {
  return StoreSession(job, progress, cancel, timeouts, leftovers).run();
}

StoreResult deleteLeftovers(const StoreJob& job, const std::atomic<bool>* cancel,
                            const StoreTimeouts& timeouts, LeftoverFiles& leftovers) {
  return StoreSession(job, StoreProgress(), cancel, timeouts, &leftovers).tidy();
}

void LeftoverFiles::add(const std::string& remotePath) {
  std::lock_guard lock(mutex_);
  if (std::find(paths_.begin(), paths_.end(), remotePath) != paths_.end()) return;
  if (paths_.size() >= kLimit) paths_.erase(paths_.begin());
  paths_.push_back(remotePath);
}

void LeftoverFiles::remove(const std::string& remotePath) {
  std::lock_guard lock(mutex_);
  paths_.erase(std::remove(paths_.begin(), paths_.end(), remotePath), paths_.end());
}

std::vector<std::string> LeftoverFiles::list() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

}  // namespace ftp
