// Values that differ from school to school and come with the installation:
// the server address, the repair hotline and the name of the service
// provider shown on the repair page, the offline retry. They are read, in
// this order and the later file winning key by key, from
//   deployment.ini            /etc/edu-client's, else the one beside the program
//   edu-client.conf           in /etc/edu-client, the package's commented file
//   conf.d/*.conf             in /etc/edu-client, in the order of their names
// (UTF-8 text, "key=value" lines such as "server=10.1.2.3:8080/edu"; the
// keys are the fields below). A value that is missing or empty keeps its
// default; the placeholders still read as a sentence. EDU_ETC_DIR moves /etc for tests
// (platform/site_files.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace panels {

struct DeploymentSettings {
  std::string hotline;   // GBK
  std::string provider;  // GBK
  // How often records kept while the server could not be reached are tried
  // again ("offline_retry_seconds", 1 to 3600).
  int offlineRetrySeconds = 60;
  // The school's server ("server": host, host:port or host:port/path), as
  // written; empty when no file sets it. Over the address kept in edu.db.
  std::string server = {};
  // Lesson pictures: delivered ones are removed after this many days
  // ("screenshot_keep_days", 1 to 3650), and the picture folder is held under
  // this size ("screenshot_max_mb", 1 to 1048576 MiB).
  int screenshotKeepDays = 30;
  int screenshotMaxMb = 2048;
  // How a Wayland desktop's screen is read ("wayland_capture"): "auto"
  // takes the compositor's screencopy where it offers one and the desktop
  // portal elsewhere; "portal" always asks the portal.
  std::string waylandCapture = "auto";
  // Trust for an https server and for FTPS: the school's CA file
  // ("ca_file", PEM, added to the system's CA store) and the pinned server
  // key ("server_pin", "sha256//<base64>", several joined by ";").
  std::string caFile = "/etc/edu-client/ca.pem";
  std::string serverPin = {};
  // TLS on the courseware FTP connection ("ftp_tls"): "off" (plain, as
  // ever), "try" (TLS when the server offers it) or "require".
  std::string ftpTls = "off";
};

// The placeholders, in GBK.
DeploymentSettings defaultDeploymentSettings();

// The settings of the text in order, as (key, value): "key=value" lines,
// blanks around keys and values ignored, lines starting with ";" or "#" and
// "[section]" lines skipped, lines without "=" and empty values skipped.
// Key and value stay UTF-8.
std::vector<std::pair<std::string, std::string>> readSettingLines(std::string_view utf8Text);

// Reads the file's text: unknown keys ignored, the last of a repeated key
// wins.
DeploymentSettings parseDeploymentSettings(const std::string& utf8Text);

// Where a setting's value came from.
struct SettingSource {
  std::string value;  // UTF-8, as written
  std::string file;
};

// The settings of every file with, for each key some file sets, the last
// file that set it (what `edu-admin show` prints and the log names).
struct LayeredSettings {
  DeploymentSettings values;
  std::map<std::string, SettingSource> sources;
  std::vector<std::string> files;  // read, in order
  // Files passed over, each with the reason (one line for the log).
  std::vector<std::string> refused;
};

// The files in the order they are read (those that exist).
std::vector<std::string> deploymentSettingsFiles(const std::string& programDir);

LayeredSettings loadLayeredSettings(const std::string& programDir);

// The server address the files set ("server"), with the file that sets it;
// nothing when none does.
std::optional<SettingSource> configuredServer(const std::string& programDir);

// loadLayeredSettings(programDir).values: the placeholders when no file
// exists.
DeploymentSettings loadDeploymentSettings(const std::string& programDir);

}  // namespace panels
