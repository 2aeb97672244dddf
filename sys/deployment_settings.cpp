#include "sys/deployment_settings.h"

#include "platform/site_files.h"
#include "sys/text_codec.h"
#include "sys/trim.h"

namespace panels {

namespace {

const char kProgramFile[] = "deployment.ini";

// A file that names a password is kept from other users.
bool holdsPassword(const std::vector<std::pair<std::string, std::string>>& settings) {
  for (const auto& setting : settings)
    if (setting.first.find("password") != std::string::npos) return true;
  return false;
}

// A value of digits only within [lowest, highest] replaces `number`;
// anything else keeps it.
void readWholeNumber(const std::string& value, int lowest, int highest, int& number) {
  if (value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos) return;
  const int read = std::stoi(value);
  if (read >= lowest && read <= highest) number = read;
}

}  // namespace

DeploymentSettings defaultDeploymentSettings() {
  // Reads "如有问题请拔打 学校电教室 电话" on the page and "请拔打 学校电教室
  // 电话报修" in the failure message until the school fills in its values.
  DeploymentSettings settings;
  settings.hotline = text::utf8ToGbk("学校电教室");
  settings.provider = text::utf8ToGbk("电话");
  return settings;
}

std::vector<std::pair<std::string, std::string>> readSettingLines(std::string_view rest) {
  std::vector<std::pair<std::string, std::string>> settings;
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string line = trimText(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string value = trimText(std::string_view(line).substr(equals + 1));
    if (value.empty()) continue;
    settings.emplace_back(trimText(std::string_view(line).substr(0, equals)), std::move(value));
  }
  return settings;
}

DeploymentSettings parseDeploymentSettings(const std::string& utf8Text) {
  DeploymentSettings settings = defaultDeploymentSettings();
  for (const auto& [key, utf8Value] : readSettingLines(utf8Text)) {
    const std::string value = text::utf8ToGbk(utf8Value);
    if (key == "hotline") settings.hotline = value;
    if (key == "provider") settings.provider = value;
    if (key == "offline_retry_seconds") readWholeNumber(value, 1, 3600, settings.offlineRetrySeconds);
    if (key == "screenshot_keep_days") readWholeNumber(value, 1, 3650, settings.screenshotKeepDays);
    if (key == "screenshot_max_mb") readWholeNumber(value, 1, 1048576, settings.screenshotMaxMb);
    if (key == "server") settings.server = utf8Value;
    if (key == "wayland_capture" && (value == "auto" || value == "portal")) settings.waylandCapture = value;
    // Paths and pins are ASCII; taken as written.
    if (key == "ca_file") settings.caFile = utf8Value;
    if (key == "server_pin") settings.serverPin = utf8Value;
    if (key == "ftp_tls" && (utf8Value == "off" || utf8Value == "try" || utf8Value == "require"))
      settings.ftpTls = utf8Value;
  }
  return settings;
}

std::vector<std::string> deploymentSettingsFiles(const std::string& programDir) {
  std::vector<std::string> files;
  const std::string site = platform::siteSettingsDir();
  if (std::string first = platform::siteFile(kProgramFile, programDir); !first.empty())
    files.push_back(std::move(first));
  if (platform::regularFile(site + "/edu-client.conf")) files.push_back(site + "/edu-client.conf");
  for (std::string& dropIn : platform::confFilesIn(site + "/conf.d")) files.push_back(std::move(dropIn));
  return files;
}

LayeredSettings loadLayeredSettings(const std::string& programDir) {
  LayeredSettings layered;
  // The files' settings one after another: the parser's "last wins" makes
  // the later file win key by key.
  std::string all;
  for (const std::string& file : deploymentSettingsFiles(programDir)) {
    std::string text;
    if (!platform::readWholeFile(file, &text)) {
      layered.refused.push_back(file + ": cannot be read");
      continue;
    }
    const auto settings = readSettingLines(text);
    if (holdsPassword(settings) && platform::readableByOthers(file)) {
      layered.refused.push_back(file +
                                ": holds a password but every user may read it; not used (make it "
                                "0600, or 0640 with a group of your choice)");
      continue;
    }
    layered.files.push_back(file);
    for (const auto& [key, value] : settings) {
      layered.sources[key] = {value, file};
      all += key + "=" + value + "\n";
    }
  }
  layered.values = parseDeploymentSettings(all);
  return layered;
}

std::optional<SettingSource> configuredServer(const std::string& programDir) {
  LayeredSettings layered = loadLayeredSettings(programDir);
  const auto server = layered.sources.find("server");
  if (server == layered.sources.end()) return std::nullopt;
  return std::move(server->second);
}

DeploymentSettings loadDeploymentSettings(const std::string& programDir) {
  return loadLayeredSettings(programDir).values;
}

}  // namespace panels
