#include "backup/configuration.h"

#include <filesystem>
#include <string_view>
#include <system_error>

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

std::unique_ptr<CBackup> LoadConfiguration(const std::string& installPath,
                                           const std::string& backupPath) {
  XmlDocument settings;
  if (!LoadXmlFile(GetSettingsFilePath(installPath, true), settings)) {
    WriteLog(0, kConfigurationUnreadable);
    return nullptr;
  }

  // Always beside the installation, whatever config.ini names as the settings folder.
  std::string settingsFolder = Format(kSettingsFolderFormat, installPath);

  std::string partsDatabase;
  ReadXmlText(settings, "//PartTrackerDatabasePath", partsDatabase);
  partsDatabase = std::string(Trim(partsDatabase));
  if (partsDatabase.empty()) partsDatabase = Format(kPartsDatabaseFormat, installPath);

  std::string certificate;
  ReadXmlText(settings, "//SSLCertificatePath", certificate);
  std::string key;
  ReadXmlText(settings, "//SSLKeyPath", key);
  const bool sslEnabled = ReadXmlFlag(settings, "//EnableSSL", false);

  return std::make_unique<CBackup>(backupPath, installPath, "Brimora", "Utilization",
                                   "lornithinbox", "lornithparttracker", std::move(settingsFolder),
                                   std::move(partsDatabase), std::move(certificate),
                                   std::move(key), sslEnabled);
}

}  // namespace brimora
