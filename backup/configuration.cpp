#include "backup/configuration.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/file_url.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/settings_folder.h"
#include "common/strings.h"
#include "common/trace_log.h"
#include "common/xml.h"

namespace brimora {
namespace {

constexpr char kConfigurationUnreadable[] =
    "There was an error reading the configuration - can't continue.\n";
constexpr char kSettingsFolderFormat[] = "%s/../LornithData/Settings";
constexpr char kPartsDatabaseFormat[] = "%s/partsdb";
constexpr int kDefaultSolrPort = 8983;
constexpr int kShortestRestartWait = 30;

}  // namespace

ConfigurationValues ReadConfigurationValues(const XmlDocument& settings,
                                            const std::string& installPath) {
  ConfigurationValues values;
  // Always beside the installation, whatever config.ini names as the settings folder.
  values.settingsFolder = Format(kSettingsFolderFormat, installPath);

  std::string partsDatabase;
  ReadXmlText(settings, "//PartTrackerDatabasePath", partsDatabase);
  values.partsTrackerDatabasePath = std::string(Trim(partsDatabase));
  if (values.partsTrackerDatabasePath.empty()) {
    values.partsTrackerDatabasePath = Format(kPartsDatabaseFormat, installPath);
  }

  ReadXmlText(settings, "//SSLCertificatePath", values.sslCertificatePath);
  ReadXmlText(settings, "//SSLKeyPath", values.sslKeyPath);
  values.sslEnabled = ReadXmlFlag(settings, "//EnableSSL", false);
  return values;
}

std::unique_ptr<CBackup> LoadConfiguration(const std::string& installPath,
                                           const std::string& backupPath) {
  XmlDocument settings;
  if (!LoadXmlFile(GetSettingsFilePath(installPath, true), settings)) {
    WriteLog(0, kConfigurationUnreadable);
    return nullptr;
  }
  ConfigurationValues values = ReadConfigurationValues(settings, installPath);
  return std::make_unique<CBackup>(
      backupPath, installPath, "Brimora", "Utilization", "lornithinbox", "lornithparttracker",
      std::move(values.settingsFolder), std::move(values.partsTrackerDatabasePath),
      std::move(values.sslCertificatePath), std::move(values.sslKeyPath), values.sslEnabled);
}

std::string ReadRepositoryFolder(const std::string& installPath) {
  // Only a file URL names a folder on this machine; any other repository URL keeps the default.
  const XmlDocument settings = LoadXmlDocument(GetSettingsFilePath(installPath, true));
  if (settings) {
    const std::string url = ReadXmlString(settings, "//RevisionControlURL", "");
    std::string path;
    if (!url.empty() && FileUrlToPath(url, path)) return path;
  }
  return JoinPath(installPath, "SubversionRepository");
}

std::string InstallationRepositoryUrl(const std::string& installPath) {
  const XmlDocument settings = LoadXmlDocument(GetSettingsFilePath(installPath, true));
  const std::string url = settings ? ReadXmlString(settings, "//RevisionControlURL", "") : "";
  return url.empty() ? PathToFileUrl(installPath + "/SubversionRepository") : url;
}

std::string ReadSolrFolder(const std::string& installPath) {
  const std::string defaultFolder = JoinPath(installPath, "solr");
  const XmlDocument settings = LoadXmlDocument(GetSettingsFilePath(installPath, true));
  if (!settings) return defaultFolder;
  return ReadXmlString(settings, "//SolrFolder", defaultFolder);
}

int ReadSolrPort(const std::string& settingsFile) {
  const XmlDocument settings = LoadXmlDocument(settingsFile);
  if (!settings) return kDefaultSolrPort;
  return ReadXmlInt(settings, "//SolrPort", kDefaultSolrPort);
}

int ReadSolrTimeoutSeconds(const std::string& settingsFile) {
  const XmlDocument settings = LoadXmlDocument(settingsFile);
  if (!settings) return kShortestRestartWait;
  std::string text = "30";
  ReadXmlText(settings, "//SolrTimeoutSecs", text);
  if (!IsNumber(text)) return kShortestRestartWait;
  return std::max(LeadingInt(text), kShortestRestartWait);
}

}  // namespace brimora
