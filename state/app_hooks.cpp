#include "state/app_hooks.h"

// Every entry must be named below: a new one that is not makes the table
// larger than the entries named, and the build stops here.
static_assert(sizeof(AppHooksTable) == 11 * sizeof(std::function<void()>),
              "an entry was added to or removed from AppHooksTable: name it in emptyHooks");

std::vector<std::string> emptyHooks(const AppHooksTable& table) {
  std::vector<std::string> empty;
  const auto check = [&empty](const auto& hook, const char* name) {
    if (!hook) empty.emplace_back(name);
  };
  check(table.appendLog, "appendLog");
  check(table.switchPage, "switchPage");
  check(table.currentPageKey, "currentPageKey");
  check(table.showMainPanel, "showMainPanel");
  check(table.moveMainPanel, "moveMainPanel");
  check(table.hideMainPanel, "hideMainPanel");
  check(table.resetQueue, "resetQueue");
  check(table.queuedCount, "queuedCount");
  check(table.uploading, "uploading");
  check(table.copyAndAdd, "copyAndAdd");
  check(table.pendingChanged, "pendingChanged");
  return empty;
}
