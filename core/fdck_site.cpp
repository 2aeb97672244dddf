// The status window and the site's server address: set in /etc/edu-client
// for every user of the computer, it wins over the address in edu.db and is
// followed while the client runs.
#include "core/fdck.h"
#include "server/server_address.h"
#include "state/client_state.h"
#include "store/db_error.h"
#include "sys/text_codec.h"

bool TForm1::useSiteServerAddress() {
  const std::optional<panels::SettingSource> site = services_.siteServerUrl();
  if (!site) return false;
  const std::string url = text::utf8ToGbk(site->value);
  if (!usableServerAddress(url)) {
    // Said once per address; the one in edu.db (or the box) serves meanwhile.
    if (unusableSiteLogged_ != url)
      appendLog("server address \"" + site->value + "\" from " + site->file + " is not usable; ignored");
    unusableSiteLogged_ = url;
    return false;
  }
  if (url == serverUrlInUse_ && !ClientState.serverHost.empty()) return true;
  const bool changed = !ClientState.serverHost.empty();
  appendLog((changed ? "server address changed to " : "server address ") + site->value + " from " +
            site->file);
  useServerAddress(url, "from the site's settings");
  // Everything that reads t_login_info (the lock screen, edu-admin) sees
  // the same address.
  try {
    if (services_.storedServerUrl().value_or(url) != url) services_.storeServerUrl(url);
  } catch (const DB_Func::DbError& error) {
    appendLog("server address not written into edu.db: " + std::string(error.what()));
  }
  return true;
}

void TForm1::followSiteServerAddress() {
  // Before the first activation the address is still to be decided there.
  if (ClientState.serverHost.empty()) return;
  useSiteServerAddress();
}

void TForm1::watchSiteServerAddress(std::chrono::milliseconds interval) {
  siteWatch_.setInterval(interval);
  connect(&siteWatch_, &QTimer::timeout, this, &TForm1::followSiteServerAddress, Qt::UniqueConnection);
  siteWatch_.start();
}
