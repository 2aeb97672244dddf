// The status window's handling of the sign-in companion's message.
#include <QLabel>

#include "core/fdck.h"
#include "core/login_message.h"
#include "core/sign_in.h"
#include "server/http_url.h"
#include "state/app_hooks.h"
#include "state/client_state.h"
#include "state/page_keys.h"
#include "sys/qt_text.h"
#include "ui/event_guard.h"

void TForm1::loginMessage(const std::string& block) {
  const std::string text = loginTextOfBlock(block);
  appendLog(loginTextForLog(text));
  const LoginParseResult parsed = parseLoginMessage(text);
  if (!parsed.accepted) {
    appendLog(parsed.rejection);
    return;
  }
  stopLesson();
  callHook(AppHooks.resetQueue);
  callHook(AppHooks.switchPage, std::string(PageKey::ClassStart));
  if (parsed.message.online) {
    signin::applyLogin(parsed.message);
    lesson_.forget();
    loginText_ = text;
    applyLoginSteps();
  } else {
    signin::applyLogout();
    lesson_.forget();
    loginText_.clear();
    resumingFrom_.reset();
    applyLogoutSteps();
  }
  callHook(AppHooks.hideMainPanel);
}

// What a login does beyond the ClientState: the key hook, the pages, the
// screenshot interval, the status label, the upgrade check and the resume.
void TForm1::applyLoginSteps() {
  if (ClientState.lockScreenFlag == "1") installKeyHook();
  emit signedIn();
  Timer3.setInterval(screenshotIntervalMs(ClientState.screenshotIntervalSec));
  Label1->setText(text::toQString(ClientState.teacherName) + " 老师");
  Label1->adjustSize();
  if (upgradeAnnounced(kClientVersion, ClientState.latestVersion))
    services_.checkForUpgrade(ClientState.upgradeVersionNumber, ClientState.upgradeInfoUrl);
  keepSession();
  startResumeRequest();
}

void TForm1::applyLogoutSteps() {
  emit signedOut();
  Label1->setText("未登录");
  Label1->adjustSize();
}

void TForm1::installKeyHook() {
  // Each login grabs again; the log says only when the outcome changes, so
  // an admin sees whether F4 is held without a line at every login.
  keyHookRequested_ = true;
  const platform::F4Swallow::Result result = services_.installKeyHook();
  if (loggedKeyHookResult_ == result) return;
  loggedKeyHookResult_ = result;
  switch (result) {
    case platform::F4Swallow::Result::Grabbed:
      appendLog("F4 key hook: held, F4 is intercepted");
      break;
    case platform::F4Swallow::Result::NoDisplay:
      appendLog("F4 key hook: no X display, F4 is not intercepted");
      break;
    default:
      appendLog("F4 key hook: another program holds F4, F4 is not intercepted");
      break;
  }
}

// Asks the server whether a lesson of this computer still runs; the answer
// goes to resumeReply.
void TForm1::startResumeRequest() {
  if (uploadQueueClient_ == nullptr) return;
  uploadQueueClient_->setReplyHandler(ui::guarded(this, &TForm1::resumeReply));
  uploadQueueClient_->startRequest(HttpUrl::RunningLesson(ClientState.serverPath, ClientState.diskID));
}
