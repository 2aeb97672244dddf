// The channel through which the sign-in companion hands the client a login
// or logout message: a local stream socket named "edu_main" in the runtime
// folder, open to this user only. A frame is u32 dwData, u32 cbData (both
// little-endian) and cbData bytes; the client answers u32 0 once it has
// handled the message, so the sender waits as it would for a window message.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The largest data block taken; a login message is a few hundred bytes.
inline constexpr uint32_t kLoginFrameLimit = 64 * 1024;

// The socket's path: the runtime folder + "/edu_main"; empty when the
// runtime folder is refused (runtimeDir() says why).
std::string loginChannelPath();

// One frame as the sender writes it.
std::string encodeLoginFrame(uint32_t dwData, std::string_view data);

// The receiving end. Runs on the event loop of the thread that creates it
// (the UI thread) and never blocks it: any number of senders, frames that
// arrive in pieces or several on one connection. A frame larger than the
// limit and a connection that stays silent longer than the idle limit
// (before its first byte, mid-frame or after its answer) are cut off without
// an answer. When every place is taken, a new sender takes the place of the
// one that has been silent longest, so idle connections never keep a login
// out.
class LoginChannelServer {
 public:
  using Handler = std::function<void(uint32_t dwData, const std::string& data)>;
  using Notice = std::function<void(const std::string& what)>;

  LoginChannelServer();
  ~LoginChannelServer();  // stops listening and removes its socket file
  LoginChannelServer(const LoginChannelServer&) = delete;
  LoginChannelServer& operator=(const LoginChannelServer&) = delete;

  // Each complete frame, one at a time per sender; the answer goes out when
  // it returns.
  void setHandler(Handler handler);
  // Connections cut off and why (plain ASCII text), for the diagnostic log.
  void setNotice(Notice notice);
  // How long a sender may stay silent (5 s unless set).
  void setIdleLimit(std::chrono::milliseconds limit);

  // Listens at `path` with mode 0600. A socket file of this user's left by a
  // copy that has ended is replaced; one that a live receiver answers on, one
  // of another user and anything that is not a socket are not. Returns
  // whether it listens; `error` says why not.
  bool listen(const std::string& path, std::string* error = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct LoginSendResult {
  bool answered = false;
  uint32_t answer = 0;
  std::string error;  // why not answered (system error text)
};

// The sending end: connects to `path`, sends one frame and waits up to
// `timeLimit` for the answer. Blocks.
LoginSendResult sendLoginFrame(const std::string& path, uint32_t dwData, std::string_view data,
                               std::chrono::milliseconds timeLimit);

}  // namespace platform
