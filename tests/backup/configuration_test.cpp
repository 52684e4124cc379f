#include "backup/configuration.h"

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "backup/backup.h"
#include "common/format.h"
#include "common/settings_folder.h"
#include "common/log_folder_fixture.h"

namespace brimora {
namespace {

// An installation "<temp>/Brimora", run from its "Execute" folder, with the default settings
// folder "<temp>/LornithData/Settings".
struct ConfigurationTest : test::LogFolderTest {
  ConfigurationTest() : LogFolderTest("ConfigurationTest", true, "Brimora/Execute") {}
  void WriteSettings(const std::string& xml) { test::WriteFile(root_ / "LornithData/Settings/Brimora.xml", xml); }
  std::unique_ptr<CBackup> Load() { return LoadConfiguration(install_, "/backups/b1"); }

  const std::string install_ = root_ / "Brimora";
};

// The values come from the first matching element in document order, wherever it stands; missing
// or blank settings give the defaults, and so does an empty settings folder in config.ini.
TEST_F(ConfigurationTest, ValuesOfTheSettingsFileFoundInTheSettingsFolderElseInTheInstallPath) {
  test::WriteFile(install_ + "/config.ini", "BrimoraSettingsFolder=\n");
  const std::string parts = install_ + "/partsdb";
  const struct { std::string xml, partsDatabase, certificate, key; bool ssl; } cases[] = {
      {"<S/>", parts, "", "", false},
      {"<S><PartTrackerDatabasePath> \t\n </PartTrackerDatabasePath></S>", parts, "", "", false},
      {"<S><PartTrackerDatabasePath>\t/p q\r\n</PartTrackerDatabasePath><EnableSSL>TRUE</EnableSSL></S>",
       "/p q", "", "", true},
      {"<S><EnableSSL> true</EnableSSL><EnableSSL>true</EnableSSL></S>", parts, "", "", false},
      {"<S><A><SSLKeyPath> first</SSLKeyPath></A><SSLKeyPath>second</SSLKeyPath>"
       "<SSLCertificatePath><![CDATA[/c]]>.pem</SSLCertificatePath></S>", parts, "/c.pem", " first", false},
      {"<S SSLKeyPath='attribute'><PartTrackerDatabasePath/></S>", parts, "", "", false},
  };
  for (const auto& c : cases) {
    WriteSettings(c.xml);
    const std::unique_ptr<CBackup> backup = Load();
    ASSERT_NE(backup, nullptr) << c.xml;
    EXPECT_EQ(backup->partsTrackerDatabasePath + "|" + backup->sslCertificatePath + "|" + backup->sslKeyPath,
              c.partsDatabase + "|" + c.certificate + "|" + c.key) << c.xml;
    EXPECT_EQ(backup->sslEnabled, c.ssl) << c.xml;
    EXPECT_EQ(backup->backupPath + "|" + backup->installPath, "/backups/b1|" + install_);
    EXPECT_EQ(backup->settingsFolder, install_ + "/../LornithData/Settings");
    EXPECT_EQ(backup->GetSolrFolder() + "|" + backup->GetRepositoryFolder(),
              install_ + "/solr|" + install_ + "/SubversionRepository");
    EXPECT_TRUE(backup->backupLog.WriteText(1, "opened"));
  }
  EXPECT_NE(test::ReadFile(install_ + "/Logs/BackupLog.log").find("\topened\n"), std::string::npos);
  EXPECT_NE(TraceText().find(Format(kSettingsFolderEmpty, install_ + "/config.ini")), std::string::npos);

  // Without a settings file in the settings folder, the one in the install path is read; config.ini
  // moves the settings file, but not the settings folder field.
  std::filesystem::remove_all(root_ / "LornithData");
  test::WriteFile(install_ + "/Brimora.xml", "<S><SSLKeyPath>install</SSLKeyPath></S>");
  std::unique_ptr<CBackup> backup = Load();
  ASSERT_NE(backup, nullptr);
  EXPECT_EQ(backup->sslKeyPath, "install");
  test::WriteFile(root_ / "Elsewhere/Brimora.xml", "<S><SSLKeyPath>elsewhere</SSLKeyPath></S>");
  test::WriteFile(install_ + "/config.ini", "BrimoraSettingsFolder=" + (root_ / "Elsewhere") + "\n");
  backup = Load();
  EXPECT_EQ(backup->sslKeyPath, "elsewhere");
  EXPECT_EQ(backup->settingsFolder, install_ + "/../LornithData/Settings");
}

TEST_F(ConfigurationTest, FailuresAreReportedInTheTraceLog) {
  EXPECT_EQ(Load(), nullptr) << "no settings file anywhere";
  WriteSettings("<unclosed>");
  EXPECT_EQ(Load(), nullptr) << "a settings file that does not parse";

  WriteSettings("<S/>");
  std::filesystem::create_directories(install_ + "/Logs/BackupLog.log");  // a folder in the way
  const std::unique_ptr<CBackup> backup = Load();
  ASSERT_NE(backup, nullptr) << "an unopened backup log is no reason to stop";
  EXPECT_TRUE(backup->backupLog.Write(1, "Backup %s - still logged\n", backup->backupPath));
  const std::string trace = TraceText();
  const std::string line = "There was an error reading the configuration - can't continue.\n";
  EXPECT_NE(trace.find(line, trace.find(line) + 1), std::string::npos) << "twice: " << trace;
  EXPECT_NE(trace.find("Unable to open the backup log: " + install_ + "/Logs/BackupLog.log\n"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("Backup /backups/b1 - still logged\n"), std::string::npos) << trace;
}

}  // namespace
}  // namespace brimora
