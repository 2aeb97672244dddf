// Values that differ from school to school and come with the installation:
// the repair hotline and the name of the service provider shown on the
// repair page. They are read from "deployment.ini" beside the program
// (UTF-8 text, lines "hotline=...", "provider=..." and
// "offline_retry_seconds=..."); a value that is
// missing or empty keeps its placeholder, which still reads as a sentence.
#pragma once

#include <string>

namespace panels {

struct DeploymentSettings {
  std::string hotline;   // GBK
  std::string provider;  // GBK
  // How often records kept while the server could not be reached are tried
  // again ("offline_retry_seconds", 1 to 3600).
  int offlineRetrySeconds = 60;
  // Trust for an https server and for FTPS: the school's CA file
  // ("ca_file", PEM, added to the system's CA store) and the pinned server
  // key ("server_pin", "sha256//<base64>", several joined by ";").
  std::string caFile = "/etc/edu-client/ca.pem";
  std::string serverPin{};
  // TLS on the courseware FTP connection ("ftp_tls"): "off" (plain, as
  // ever), "try" (TLS when the server offers it) or "require".
  std::string ftpTls = "off";
};

// The placeholders, in GBK.
DeploymentSettings defaultDeploymentSettings();

// Reads the file's text: "key=value" lines, blanks around keys and values
// ignored, lines starting with ";" or "#" and "[section]" lines skipped,
// unknown keys ignored, the last of a repeated key wins.
DeploymentSettings parseDeploymentSettings(const std::string& utf8Text);

// The settings of the program folder's deployment.ini, or the placeholders
// when there is none.
DeploymentSettings loadDeploymentSettings(const std::string& programDir);

}  // namespace panels
