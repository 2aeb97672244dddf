#include "panels/deployment_settings.h"

#include <fstream>
#include <sstream>

#include "sys/text_codec.h"
#include "sys/trim.h"

namespace panels {

DeploymentSettings defaultDeploymentSettings() {
  // Reads "如有问题请拔打 学校电教室 电话" on the page and "请拔打 学校电教室
  // 电话报修" in the failure message until the school fills in its values.
  DeploymentSettings settings;
  settings.hotline = text::utf8ToGbk("学校电教室");
  settings.provider = text::utf8ToGbk("电话");
  return settings;
}

DeploymentSettings parseDeploymentSettings(const std::string& utf8Text) {
  DeploymentSettings settings = defaultDeploymentSettings();
  std::string_view rest = utf8Text;
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string line = trimText(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = trimText(std::string_view(line).substr(0, equals));
    const std::string value = text::utf8ToGbk(trimText(std::string_view(line).substr(equals + 1)));
    if (value.empty()) continue;
    if (key == "hotline") settings.hotline = value;
    if (key == "provider") settings.provider = value;
    // Paths and pins are ASCII; taken as written.
    const std::string raw = trimText(std::string_view(line).substr(equals + 1));
    if (key == "ca_file") settings.caFile = raw;
    if (key == "server_pin") settings.serverPin = raw;
    if (key == "ftp_tls" && (raw == "off" || raw == "try" || raw == "require")) settings.ftpTls = raw;
    if (key == "offline_retry_seconds" && value.size() <= 4 &&
        value.find_first_not_of("0123456789") == std::string::npos) {
      const int seconds = std::stoi(value);
      if (seconds >= 1 && seconds <= 3600) settings.offlineRetrySeconds = seconds;
    }
  }
  return settings;
}

DeploymentSettings loadDeploymentSettings(const std::string& programDir) {
  std::ifstream file(programDir + "/deployment.ini", std::ios::binary);
  if (!file) return defaultDeploymentSettings();
  std::ostringstream text;
  text << file.rdbuf();
  return parseDeploymentSettings(text.str());
}

}  // namespace panels
