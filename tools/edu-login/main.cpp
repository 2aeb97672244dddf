// edu-login: hands the running client a login or logout message the way the
// sign-in companion does, and waits until the client has handled it.
//
//   edu-login TEXT            send TEXT (UTF-8 here, GBK to the client)
//   edu-login --protect PLAIN print PLAIN as protected text for the login's
//                             FTP user and password items
//
// A login is 27 items separated by "|", the first one "online"; any other
// first item signs the teacher out.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/login_channel.h"
#include "platform/random.h"
#include "platform/runtime_dir.h"
#include "sys/protected_text.h"
#include "sys/text_codec.h"

namespace {

// The client answers once it has handled the message; a client that shows a
// box meanwhile may take a while.
constexpr std::chrono::seconds kAnswerTimeLimit{120};

int usage() {
  std::fprintf(stderr,
               "usage: edu-login TEXT\n"
               "       edu-login --protect PLAIN\n");
  return 2;
}

int protect(const char* plainUtf8) {
  const std::string plain = text::utf8ToGbk(plainUtf8);
  const std::string protectedText =
      encodeProtectedText(plain, kProtectedTextKey, platform::randomBytes16()[0]);
  if (protectedText.empty() && !plain.empty()) {
    std::fprintf(stderr, "edu-login: this text cannot be protected\n");
    return 1;
  }
  std::printf("%s\n", protectedText.c_str());
  return 0;
}

int send(const char* textUtf8) {
  const platform::RuntimeDir runtime = platform::runtimeDir();
  if (!runtime.usable()) {
    std::fprintf(stderr, "edu-login: %s; the message is not sent\n", runtime.refusal.c_str());
    return 1;
  }
  const std::string path = platform::loginChannelPath();
  const platform::LoginSendResult result =
      platform::sendLoginFrame(path, 0, text::utf8ToGbk(textUtf8), kAnswerTimeLimit);
  if (!result.answered) {
    std::fprintf(stderr, "edu-login: the client did not take the message (%s); is edu-client running?\n",
                 result.error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--protect") == 0) return protect(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "--protect") != 0) return send(argv[1]);
  return usage();
}
