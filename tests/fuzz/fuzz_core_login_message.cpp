// Login and logout texts of any shape: a message is either refused with a
// reason or applied whole, an applied login never leaves a screenshot
// interval below a minute, and nothing reads past the items it has.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/login_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = loginTextOfBlock(std::string_view(reinterpret_cast<const char*>(data), size));
  const LoginParseResult parsed = parseLoginMessage(text);
  if (!parsed.accepted) {
    if (parsed.rejection.empty()) std::abort();
    return 0;
  }
  if (!parsed.rejection.empty() || parsed.message.items.empty()) std::abort();

  ClientStateRecord state;
  state.loginState = true;
  if (!parsed.message.online) {
    applyLogout(state);
    if (state.loginState) std::abort();
    return 0;
  }
  if (parsed.message.items.size() < kLoginItemCount) std::abort();
  state = ClientStateRecord();
  applyLogin(parsed.message, state);
  if (!state.loginState) std::abort();
  if (screenshotIntervalMs(state.screenshotIntervalSec) < kMinScreenshotIntervalSec * 1000) std::abort();
  upgradeAnnounced(kClientVersion, state.latestVersion);
  return 0;
}
