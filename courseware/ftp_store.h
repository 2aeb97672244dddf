// The blocking FTP store of a courseware file, run on the upload queue's
// worker: log in, make sure the teacher's month folder exists, and send the
// file over an active-mode data connection. Every wait has a time-out, so a
// server that dies or goes silent ends the store with a failure. A store
// that is cancelled, or fails after the server has begun the file, deletes
// that partial file before it closes the connection; a resumable store
// broken by the network or the server keeps it instead, and the next
// resumable store of the same file under the same name continues where
// the server's copy ends. With TLS the control
// connection turns secure before the login ("AUTH TLS"), and the data
// connection, protected ("PBSZ 0", "PROT P"), resumes its TLS session.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ftp {

// What one store needs, copied from the client state by the caller. Texts
// are client text (GBK); the local path names the file as the client does
// and is found on disk under its UTF-8 name.
// TLS on the FTP connections: none (as ever), when the server offers it,
// or required (a server without it fails the store).
enum class TlsMode { Off, Try, Require };

// "off", "try" or "require" as the settings write it; anything else is Off.
TlsMode tlsModeNamed(const std::string& name);

struct StoreJob {
  std::string host;
  int port = 21;
  std::string user;
  std::string password;
  std::string schoolId;
  std::string teacherId;
  std::string month;  // "yyyy-mm"
  std::string localPath;
  std::string remoteFileName;  // braced GUID + the local file's extension
  // The server may hold the start of this file under this name from an
  // earlier broken store: continue it (SIZE, then REST + STOR, or APPE
  // where REST is refused). A store broken by the network or the server
  // keeps its partial file for the next one; only a cancel deletes it.
  bool resumable = false;
  TlsMode tls = TlsMode::Off;
};

enum class StoreOutcome {
  Stored,
  ConnectFailed,  // connecting, logging in or setting the session up failed
  StoreFailed,    // the folder, the data connection or the transfer failed
  Cancelled,
};

struct StoreResult {
  StoreOutcome outcome = StoreOutcome::StoreFailed;
  std::string failure;     // client text saying what went wrong; empty when stored
  std::string remoteDir;   // "/courseware/<school>/<teacher>/<month>/"
  std::string remotePath;  // remoteDir + remoteFileName
  // Lines for the diagnostic log (client text): what became of partial
  // files on the server.
  std::vector<std::string> log;
  // A resumable store: where the transfer began (the size of the server's
  // copy found, 0 for a new file), how many bytes went this time, and
  // whether a broken one left its partial file for the next.
  int64_t resumedFrom = 0;
  int64_t bytesSent = 0;
  bool partialKept = false;
  bool stored() const { return outcome == StoreOutcome::Stored; }
};

struct StoreTimeouts {
  int connectMs = 30000;
  int replyMs = 60000;
  int dataMs = 30000;
  // Each wait while a broken store tidies up (the server's last word on the
  // transfer, the answer to DELE); short, as a cancel waits on it.
  int cleanupMs = 10000;
};

// Remote files that broken stores left behind because the connection was
// gone before they could be deleted. The next store deletes them first, so
// that retries do not pile up partial files under new names. Shared between
// the upload queue and its store worker.
class LeftoverFiles {
 public:
  void add(const std::string& remotePath);
  void remove(const std::string& remotePath);
  std::vector<std::string> list() const;

 private:
  // A server that stays away for a whole day of retries still leaves a
  // bounded list; the oldest names go first.
  static constexpr size_t kLimit = 32;
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
};

// Bytes sent so far and the file's size; called on the worker after each
// chunk.
using StoreProgress = std::function<void(int64_t sent, int64_t total)>;

// "/courseware/" + school + "/" + teacher + "/" + month + "/".
std::string courseRemoteDir(const std::string& schoolId, const std::string& teacherId,
                            const std::string& month);

// Runs the whole store; `cancel` (may be null) is watched between steps and
// during every wait. With `leftovers`, the files listed there are deleted
// right after the login, and this store's own partial file is added when it
// cannot be deleted for want of a connection.
StoreResult storeFile(const StoreJob& job, const StoreProgress& progress, const std::atomic<bool>* cancel,
                      const StoreTimeouts& timeouts = {}, LeftoverFiles* leftovers = nullptr);

// Logs in and deletes the files listed in `leftovers`, for partial files
// given up while no store runs (a cancel between two attempts). What cannot
// be deleted for want of a connection stays listed for the next store.
StoreResult deleteLeftovers(const StoreJob& job, const std::atomic<bool>* cancel,
                            const StoreTimeouts& timeouts, LeftoverFiles& leftovers);

}  // namespace ftp
