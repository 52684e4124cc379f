#pragma once
// The CBackup object of a run, built from the command line's paths and the installation's
// settings file (found with GetSettingsFilePath, common/settings_folder.h).
//
// Thread safety: every function may be called from any thread; LoadConfiguration opens the
// backup log relative to the working folder, which the caller has made "<install>/Execute".

#include <memory>
#include <string>

#include "backup/backup.h"
#include "common/xml.h"

namespace brimora {

// The values of a run's configuration that the settings file decides.
struct ConfigurationValues {
  std::string settingsFolder;            // always "<install>/../LornithData/Settings"
  std::string partsTrackerDatabasePath;  // trimmed; "<install>/partsdb" when missing or blank
  std::string sslCertificatePath;        // empty when missing
  std::string sslKeyPath;                // empty when missing
  bool sslEnabled = false;               // true only for the text "true" in any case
};

// Reads the configuration values of the installation at installPath from its loaded settings
// document. Missing or blank settings take their defaults. The document must not be none; an
// empty one gives every default. Never throws for such a document.
ConfigurationValues ReadConfigurationValues(const XmlDocument& settings,
                                            const std::string& installPath);

// Reads the settings file (found with the existence test) and builds the run's CBackup, which
// opens the backup log. Answers nullptr, after an error line in the trace log, when the settings
// file cannot be loaded. Missing or empty settings take their defaults.
std::unique_ptr<CBackup> LoadConfiguration(const std::string& installPath,
                                           const std::string& backupPath);

}  // namespace brimora
