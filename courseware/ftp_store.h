// The blocking FTP store of a courseware file, run on the upload queue's
// worker: log in, make sure the teacher's month folder exists, and send the
// file over an active-mode data connection. Every wait has a time-out, so a
// server that dies or goes silent ends the store with a failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace ftp {

// What one store needs, copied from the client state by the caller. Texts
// are client text (GBK); the local path names the file as the client does
// and is found on disk under its UTF-8 name.
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
  bool stored() const { return outcome == StoreOutcome::Stored; }
};

struct StoreTimeouts {
  int connectMs = 30000;
  int replyMs = 60000;
  int dataMs = 30000;
};

// Bytes sent so far and the file's size; called on the worker after each
// chunk.
using StoreProgress = std::function<void(int64_t sent, int64_t total)>;

// "/courseware/" + school + "/" + teacher + "/" + month + "/".
std::string courseRemoteDir(const std::string& schoolId, const std::string& teacherId,
                            const std::string& month);

// Runs the whole store; `cancel` (may be null) is watched between steps and
// during every wait.
StoreResult storeFile(const StoreJob& job, const StoreProgress& progress, const std::atomic<bool>* cancel,
                      const StoreTimeouts& timeouts = {});

}  // namespace ftp
