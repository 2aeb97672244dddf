// The school's hotline and provider come from deployment.ini beside the
// program; whatever is missing keeps a placeholder that still reads well.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "panels/deployment_settings.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

std::string gbk(const char* utf8) { return text::utf8ToGbk(utf8); }

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

TEST(DeploymentSettings, OfflineRetryTakesWholeSecondsWithinItsRange) {
  const struct {
    const char* text;
    int seconds;
  } cases[] = {{"", 60},
               {"offline_retry_seconds=5", 5},
               {"offline_retry_seconds=3600", 3600},
               {"offline_retry_seconds=0", 60},
               {"offline_retry_seconds=3601", 60},
               {"offline_retry_seconds=-5", 60},
               {"offline_retry_seconds=1.5", 60},
               {"offline_retry_seconds=99999999999", 60}};
  for (const auto& c : cases)
    EXPECT_EQ(panels::parseDeploymentSettings(c.text).offlineRetrySeconds, c.seconds) << c.text;
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
  EXPECT_EQ(panels::loadDeploymentSettings(folder).hotline, panels::defaultDeploymentSettings().hotline);
  ASSERT_TRUE(testsupport::writeFile(folder + "/deployment.ini", "hotline=400-000-1111\n"));
  EXPECT_EQ(panels::loadDeploymentSettings(folder).hotline, "400-000-1111");

  // The sample that ships beside the program is itself a valid file.
  const panels::DeploymentSettings sample = panels::parseDeploymentSettings(
      testsupport::readFile(testsupport::sourcePath("panels/deployment.ini.sample")));
  EXPECT_EQ(sample.hotline, "010-0000-0000");
  EXPECT_EQ(sample.provider, gbk("电教服务中心"));
  EXPECT_EQ(sample.offlineRetrySeconds, 60);
}

}  // namespace
