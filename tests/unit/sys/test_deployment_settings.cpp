// The school's settings come from deployment.ini and the files in
// /etc/edu-client; whatever is missing keeps a default that still reads well.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#include "sys/deployment_settings.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

using text::gbk;

TEST(DeploymentSettings, ReadsKeysAndKeepsPlaceholdersForWhatIsMissing) {
  const panels::DeploymentSettings placeholders = panels::defaultDeploymentSettings();
  EXPECT_EQ(placeholders.hotline, gbk("学校电教室"));
  EXPECT_EQ(placeholders.provider, gbk("电话"));

  const struct {
    const char* name;
    const char* text;
    std::string hotline;
    std::string provider;
  } cases[] = {
      {"both, with section, comments and blanks",
       "; comment\n[repair]\n# another\n  hotline =  400-810-1234 \r\nprovider=东城电教服务中心\r\n",
       "400-810-1234", gbk("东城电教服务中心")},
      {"byte order mark before the first key", "\xEF\xBB\xBFhotline=010-1\n", "010-1", placeholders.provider},
      {"empty value keeps the placeholder", "hotline=\nprovider=  \n", placeholders.hotline,
       placeholders.provider},
      {"unknown keys and lines without '=' ignored", "phone=1\nhotline\nprovider=甲\n", placeholders.hotline,
       gbk("甲")},
      {"last of a repeated key wins", "hotline=1\nhotline=2", "2", placeholders.provider},
      {"empty file", "", placeholders.hotline, placeholders.provider},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const panels::DeploymentSettings settings = panels::parseDeploymentSettings(c.text);
    EXPECT_EQ(settings.hotline, c.hotline);
    EXPECT_EQ(settings.provider, c.provider);
  }
}

TEST(DeploymentSettings, NumbersTakeWholeValuesWithinTheirRange) {
  using panels::DeploymentSettings;
  const struct {
    const char* text;
    int DeploymentSettings::*field;
    int value;
  } cases[] = {{"", &DeploymentSettings::offlineRetrySeconds, 60},
               {"offline_retry_seconds=5", &DeploymentSettings::offlineRetrySeconds, 5},
               {"offline_retry_seconds=3600", &DeploymentSettings::offlineRetrySeconds, 3600},
               {"offline_retry_seconds=0", &DeploymentSettings::offlineRetrySeconds, 60},
               {"offline_retry_seconds=3601", &DeploymentSettings::offlineRetrySeconds, 60},
               {"offline_retry_seconds=-5", &DeploymentSettings::offlineRetrySeconds, 60},
               {"offline_retry_seconds=1.5", &DeploymentSettings::offlineRetrySeconds, 60},
               {"offline_retry_seconds=99999999999", &DeploymentSettings::offlineRetrySeconds, 60},
               {"", &DeploymentSettings::screenshotKeepDays, 30},
               {"screenshot_keep_days=7", &DeploymentSettings::screenshotKeepDays, 7},
               {"screenshot_keep_days=0", &DeploymentSettings::screenshotKeepDays, 30},
               {"", &DeploymentSettings::screenshotMaxMb, 2048},
               {"screenshot_max_mb=512", &DeploymentSettings::screenshotMaxMb, 512},
               {"screenshot_max_mb=2GB", &DeploymentSettings::screenshotMaxMb, 2048}};
  for (const auto& c : cases) EXPECT_EQ(panels::parseDeploymentSettings(c.text).*c.field, c.value) << c.text;
}

TEST(DeploymentSettings, WaylandCaptureIsAutoUnlessThePortalIsAskedFor) {
  const struct {
    const char* text;
    const char* capture;
  } cases[] = {{"", "auto"},
               {"wayland_capture=portal", "portal"},
               {"wayland_capture = auto", "auto"},
               {"wayland_capture=grim", "auto"},
               {"wayland_capture=Portal", "auto"}};
  for (const auto& c : cases)
    EXPECT_EQ(panels::parseDeploymentSettings(c.text).waylandCapture, c.capture) << c.text;
}

TEST(DeploymentSettings, TrustSettingsKeepSafeDefaultsAndTakeOnlyKnownFtpModes) {
  const panels::DeploymentSettings defaults = panels::parseDeploymentSettings("");
  EXPECT_EQ(defaults.caFile, "/etc/edu-client/ca.pem");
  EXPECT_EQ(defaults.serverPin, "");
  EXPECT_EQ(defaults.ftpTls, "off");
  const panels::DeploymentSettings set = panels::parseDeploymentSettings(
      "ca_file = /srv/school ca.pem \nserver_pin=sha256//AAAA=;sha256//BBBB=\nftp_tls=require\n");
  EXPECT_EQ(set.caFile, "/srv/school ca.pem");
  EXPECT_EQ(set.serverPin, "sha256//AAAA=;sha256//BBBB=");
  EXPECT_EQ(set.ftpTls, "require");
  // A mode the client does not know must not quietly weaken anything: the
  // last known one stays.
  const struct {
    const char* text;
    const char* mode;
  } modes[] = {{"ftp_tls=try", "try"},
               {"ftp_tls=require\nftp_tls=Yes", "require"},
               {"ftp_tls=require\nftp_tls=", "require"},
               {"ftp_tls=on", "off"}};
  for (const auto& c : modes) EXPECT_EQ(panels::parseDeploymentSettings(c.text).ftpTls, c.mode) << c.text;
}

TEST(DeploymentSettings, LoadsTheProgramFoldersFileOrFallsBack) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  ASSERT_EQ(::setenv("EDU_ETC_DIR", (folder + "/etc").c_str(), 1), 0);
  EXPECT_EQ(panels::loadDeploymentSettings(folder).hotline, panels::defaultDeploymentSettings().hotline);
  ASSERT_TRUE(testsupport::writeFile(folder + "/deployment.ini", "hotline=400-000-1111\n"));
  EXPECT_EQ(panels::loadDeploymentSettings(folder).hotline, "400-000-1111");
  ::unsetenv("EDU_ETC_DIR");

  // The sample that ships beside the program is itself a valid file.
  const panels::DeploymentSettings sample = panels::parseDeploymentSettings(
      testsupport::readFile(testsupport::sourcePath("sys/deployment.ini.sample")));
  EXPECT_EQ(sample.hotline, "010-0000-0000");
  EXPECT_EQ(sample.provider, gbk("电教服务中心"));
  EXPECT_EQ(sample.offlineRetrySeconds, 60);
  EXPECT_EQ(sample.screenshotKeepDays, 30);
  EXPECT_EQ(sample.screenshotMaxMb, 2048);
  EXPECT_EQ(sample.server, "");
  // So is the commented file the package puts in /etc: every key at its
  // default.
  const panels::DeploymentSettings conffile = panels::parseDeploymentSettings(
      testsupport::readFile(testsupport::sourcePath("packaging/edu-client.conf")));
  EXPECT_EQ(conffile.hotline, panels::defaultDeploymentSettings().hotline);
  EXPECT_EQ(conffile.offlineRetrySeconds, 60);
  EXPECT_EQ(conffile.server, "");
}

// deployment.ini (/etc's before the program folder's), then edu-client.conf,
// then conf.d/*.conf by name: the later file wins key by key, and each key
// remembers the file that set it.
TEST(DeploymentSettings, SiteFilesLayerInOrderAndEachKeyNamesItsFile) {
  QTemporaryDir dir;
  const std::string program = dir.path().toStdString() + "/program";
  const std::string site = dir.path().toStdString() + "/etc/edu-client";
  ASSERT_EQ(::setenv("EDU_ETC_DIR", (dir.path().toStdString() + "/etc").c_str(), 1), 0);
  const struct {
    std::string path;
    std::string text;
  } files[] = {
      {program + "/deployment.ini", "hotline=1\nprovider=beside\nserver=10.0.0.1\n"},
      {site + "/edu-client.conf", "# server=\nserver=10.0.0.2:8080/edu\noffline_retry_seconds=30\n"},
      {site + "/conf.d/9-late.conf", "server=10.0.0.9\n"},
      {site + "/conf.d/50-edu-admin.conf", "server=10.0.0.5\n"},
      {site + "/conf.d/40-debconf.conf", "server=10.0.0.4\nhotline=4\n"},
      {site + "/conf.d/60-x.conf.dpkg-old", "server=10.0.0.6\n"},
      {site + "/conf.d/README", "server=10.0.0.7\n"},
  };
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(program)) &&
              QDir().mkpath(QString::fromStdString(site + "/conf.d")));
  for (const auto& file : files) ASSERT_TRUE(testsupport::writeFile(file.path, file.text)) << file.path;

  panels::LayeredSettings layered = panels::loadLayeredSettings(program);
  EXPECT_EQ(layered.files,
            (std::vector<std::string>{program + "/deployment.ini", site + "/edu-client.conf",
                                      site + "/conf.d/40-debconf.conf", site + "/conf.d/50-edu-admin.conf",
                                      site + "/conf.d/9-late.conf"}));
  EXPECT_EQ(layered.values.server, "10.0.0.9");
  EXPECT_EQ(layered.values.hotline, "4");
  EXPECT_EQ(layered.values.provider, "beside");
  EXPECT_EQ(layered.values.offlineRetrySeconds, 30);
  EXPECT_EQ(layered.sources["server"].file, site + "/conf.d/9-late.conf");
  EXPECT_EQ(layered.sources["hotline"].file, site + "/conf.d/40-debconf.conf");
  EXPECT_EQ(layered.sources["provider"].file, program + "/deployment.ini");
  EXPECT_EQ(layered.sources["offline_retry_seconds"].value, "30");

  // /etc's deployment.ini takes the place of the program folder's.
  ASSERT_TRUE(testsupport::writeFile(site + "/deployment.ini", "provider=etc\n"));
  layered = panels::loadLayeredSettings(program);
  EXPECT_EQ(layered.files.front(), site + "/deployment.ini");
  EXPECT_EQ(layered.values.provider, "etc");
  EXPECT_EQ(layered.values.hotline, "4");

  // A file that holds a password is used only while others cannot read it.
  const std::string secret = site + "/conf.d/95-secret.conf";
  ASSERT_TRUE(testsupport::writeFile(secret, "server=10.0.0.70\nftp_password=x\n"));
  ASSERT_EQ(::chmod(secret.c_str(), 0644), 0);
  layered = panels::loadLayeredSettings(program);
  EXPECT_EQ(layered.values.server, "10.0.0.9");
  ASSERT_EQ(layered.refused.size(), 1u);
  EXPECT_NE(layered.refused[0].find(secret + ": holds a password"), std::string::npos) << layered.refused[0];
  for (mode_t mode : {0600, 0640}) {
    ASSERT_EQ(::chmod(secret.c_str(), mode), 0);
    layered = panels::loadLayeredSettings(program);
    EXPECT_EQ(layered.values.server, "10.0.0.70") << std::oct << mode;
    EXPECT_TRUE(layered.refused.empty());
  }
  ::unsetenv("EDU_ETC_DIR");
}

}  // namespace
