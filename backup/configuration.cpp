#include "backup/configuration.h"

#include <string_view>
#include <utility>

#include "common/settings_folder.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/trace_log.h"
#include "common/xml.h"

namespace brimora {
namespace {

constexpr char kConfigurationUnreadable[] =
    "There was an error reading the configuration - can't continue.\n";
constexpr char kSettingsFolderFormat[] = "%s/../LornithData/Settings";
constexpr char kPartsDatabaseFormat[] = "%s/partsdb";

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

}  // namespace brimora
