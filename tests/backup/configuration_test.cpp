#include "backup/configuration.h"
#include "common/settings_folder.h"

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "backup/backup.h"
#include "common/trace_log.h"
#include "common/xml.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// An installation "<temp>/Brimora" with its "Execute" folder as the working folder (where the
// tool runs), the default settings folder "<temp>/LornithData/Settings" and the trace log
// started, so its lines can be read back from "<install>/Logs".
class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(install_ + "/Execute");
    fs::create_directories(install_ + "/Logs");
    fs::create_directories(settingsFolder_);
    fs::current_path(install_ + "/Execute");
    InitTraceLog("ConfigurationTest", false);
  }
  void TearDown() override {
    ShutdownTraceLog();
    fs::current_path(saved_);
  }

  void WriteSettings(const std::string& body) {
    WriteFile(settingsFolder_ + "/Brimora.xml", "<Settings>" + body + "</Settings>");
  }
  std::unique_ptr<CBackup> Load() { return LoadConfiguration(install_, "/backups/b1"); }

  const fs::path saved_ = fs::current_path();
  test::TempFolder root_;
  const std::string install_ = root_ / "Brimora";
  const std::string settingsFolder_ = root_ / "LornithData/Settings";
};

TEST_F(ConfigurationTest, SettingsTakeTheirDefaultsWhenMissingOrBlank) {
  const struct {
    std::string body;
    std::string partsDatabase, certificate, key;  // parts database "" means "<install>/partsdb"
    bool ssl;
  } cases[] = {
      {"", "", "", "", false},
      {"<PartTrackerDatabasePath> \t\n </PartTrackerDatabasePath>", "", "", "", false},
      {"<PartTrackerDatabasePath> /data/parts db </PartTrackerDatabasePath>", "/data/parts db", "",
       "", false},
      {"<W><SSLCertificatePath>/c.pem</SSLCertificatePath><SSLKeyPath> /k.pem</SSLKeyPath>"
       "<EnableSSL>true</EnableSSL></W>", "", "/c.pem", " /k.pem", true},
  };
  for (const auto& c : cases) {
    WriteSettings(c.body);
    const std::unique_ptr<CBackup> backup = Load();
    ASSERT_NE(backup, nullptr) << c.body;
    EXPECT_EQ(backup->partsTrackerDatabasePath,
              c.partsDatabase.empty() ? install_ + "/partsdb" : c.partsDatabase) << c.body;
    EXPECT_EQ(backup->sslCertificatePath + "|" + backup->sslKeyPath, c.certificate + "|" + c.key)
        << c.body;
    EXPECT_EQ(backup->sslEnabled, c.ssl) << c.body;
  }
  const std::unique_ptr<CBackup> backup = Load();
  EXPECT_EQ(backup->backupPath, "/backups/b1");
  EXPECT_EQ(backup->installPath, install_);
  EXPECT_TRUE(backup->backupLog.WriteText(1, "opened"));
  EXPECT_NE(ReadFile(install_ + "/Logs/BackupLog.log").find("\topened\n"), std::string::npos);
}

// The values come from the first matching element in document order, wherever it stands; a
// document that did not parse (an empty one) gives every default.
TEST(ConfigurationValuesTest, ValuesOfALoadedDocument) {
  const struct {
    std::string xml, partsDatabase, certificate, key;
    bool ssl;
  } cases[] = {
      {"not xml", "/inst/partsdb", "", "", false},
      {"<S><PartTrackerDatabasePath>\t/p q\r\n</PartTrackerDatabasePath><EnableSSL>TRUE</EnableSSL></S>",
       "/p q", "", "", true},
      {"<S><EnableSSL> true</EnableSSL><EnableSSL>true</EnableSSL></S>", "/inst/partsdb", "", "",
       false},
      {"<S><A><SSLKeyPath>first</SSLKeyPath></A><SSLKeyPath>second</SSLKeyPath>"
       "<SSLCertificatePath><![CDATA[/c]]>.pem</SSLCertificatePath></S>",
       "/inst/partsdb", "/c.pem", "first", false},
      {"<S SSLKeyPath='attribute'><PartTrackerDatabasePath/></S>", "/inst/partsdb", "", "", false},
  };
  for (const auto& c : cases) {
    XmlDocument document;
    ParseXmlText(c.xml, document);
    const ConfigurationValues values = ReadConfigurationValues(document, "/inst");
    EXPECT_EQ(values.settingsFolder, "/inst/../LornithData/Settings") << c.xml;
    EXPECT_EQ(values.partsTrackerDatabasePath, c.partsDatabase) << c.xml;
    EXPECT_EQ(values.sslCertificatePath + "|" + values.sslKeyPath, c.certificate + "|" + c.key)
        << c.xml;
    EXPECT_EQ(values.sslEnabled, c.ssl) << c.xml;
  }
}

TEST_F(ConfigurationTest, SettingsFileIsFoundInTheSettingsFolderElseInTheInstallPath) {
  WriteFile(install_ + "/Brimora.xml", "<S><SSLKeyPath>install</SSLKeyPath></S>");
  EXPECT_EQ(GetSettingsFilePath(install_, false),
            install_ + "/../LornithData/Settings/Brimora.xml");
  EXPECT_EQ(Load()->sslKeyPath, "install");
  WriteSettings("<SSLKeyPath>settings folder</SSLKeyPath>");
  EXPECT_EQ(Load()->sslKeyPath, "settings folder");

  // config.ini moves the settings file, but not the settings folder field.
  WriteFile(root_ / "Elsewhere/Brimora.xml", "<S><SSLKeyPath>elsewhere</SSLKeyPath></S>");
  WriteFile(install_ + "/config.ini", "BrimoraSettingsFolder=" + (root_ / "Elsewhere") + "\n");
  const std::unique_ptr<CBackup> backup = Load();
  EXPECT_EQ(backup->sslKeyPath, "elsewhere");
  EXPECT_EQ(backup->settingsFolder, install_ + "/../LornithData/Settings");
}

TEST_F(ConfigurationTest, FailuresAreReportedInTheTraceLog) {
  EXPECT_EQ(Load(), nullptr) << "no settings file anywhere";
  WriteSettings("<unclosed>");
  EXPECT_EQ(Load(), nullptr) << "a settings file that does not parse";

  WriteSettings("");
  fs::create_directories(install_ + "/Logs/BackupLog.log");  // a folder in the way
  const std::unique_ptr<CBackup> backup = Load();
  ASSERT_NE(backup, nullptr) << "an unopened backup log is no reason to stop";
  EXPECT_TRUE(backup->backupLog.Write(1, "Backup %s - still logged\n", backup->backupPath));

  ShutdownTraceLog();  // puts every line on disk
  const std::string trace = ReadFile(install_ + "/Logs/ConfigurationTestLog.txt");
  const std::string line = "There was an error reading the configuration - can't continue.\n";
  EXPECT_NE(trace.find(line, trace.find(line) + 1), std::string::npos) << "twice: " << trace;
  EXPECT_NE(trace.find("Unable to open the backup log: " + install_ + "/Logs/BackupLog.log\n"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("Backup /backups/b1 - still logged\n"), std::string::npos) << trace;
}

TEST_F(ConfigurationTest, RepositoryAndSearchServerFolders) {
  WriteSettings("");
  const std::unique_ptr<CBackup> backup = Load();
  const std::string repository = install_ + "SubversionRepository", solr = install_ + "solr";
  const struct {
    std::string body, repository, solr;
  } cases[] = {
      {"", repository, solr},
      {"<RevisionControlURL>http://server/svn/repo</RevisionControlURL>", repository, solr},
      {"<RevisionControlURL>file:///srv/my%20repo</RevisionControlURL>", "/srv/my repo", solr},
      {"<SolrFolder>/opt/solr</SolrFolder>", repository, "/opt/solr"},
  };
  for (const auto& c : cases) {
    WriteSettings(c.body);
    EXPECT_EQ(backup->GetRepositoryFolder(), c.repository) << c.body;
    EXPECT_EQ(backup->GetSolrFolder(), c.solr) << c.body;
  }
  fs::remove(settingsFolder_ + "/Brimora.xml");
  EXPECT_EQ(backup->GetRepositoryFolder() + "|" + backup->GetSolrFolder(), repository + "|" + solr);
}

}  // namespace
}  // namespace brimora
