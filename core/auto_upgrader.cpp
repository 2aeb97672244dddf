#include "core/auto_upgrader.h"

#include "core/upgrade_fetch.h"

AutoUpgrader::AutoUpgrader(Report report) : report_(std::move(report)) {}

AutoUpgrader::~AutoUpgrader() {
  cancelled_ = true;
  // The worker holds no more than a libcurl transfer, which notices the
  // cancel within a fraction of a second; its queued report goes with
  // context_.
  if (worker_.joinable()) worker_.join();
}

void AutoUpgrader::CheckUpdate() {
  if (running_) {
    again_ = true;
    return;
  }
  start();
}

void AutoUpgrader::start() {
  running_ = true;
  cancelled_ = false;
  const std::string prefix =
      "AutoUpgrade: VersionNumber=" + VersionNumber + " InfoFileURL=" + InfoFileURL + " : ";
  worker_ = std::thread([this, prefix, url = InfoFileURL] {
    const std::string line = prefix + describeUpgradeFetch(fetchUpgradeInfo(url, cancelled_));
    QMetaObject::invokeMethod(
        &context_, [this, line] { finished(line); }, Qt::QueuedConnection);
  });
}

void AutoUpgrader::finished(const std::string& line) {
  worker_.join();  // it has posted its line and is ending
  running_ = false;
  if (report_) report_(line);
  if (again_) {
    again_ = false;
    start();
  }
}
