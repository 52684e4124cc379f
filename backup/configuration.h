#pragma once
// The CBackup object of a run, built from the command line's paths and the installation's
// settings file (found with GetSettingsFilePath, common/settings_folder.h), and every value the
// runs read from that file: each XPath of the settings file is read here.
//
// Thread safety: every function may be called from any thread. LoadConfiguration opens the
// backup log at "<install>/Logs/BackupLog.log" (CBackup::kBackupLogName), whatever the
// working folder.

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

// The Subversion repository's folder: the local path of a file URL in "//RevisionControlURL"
// of the installation's settings file, else "<installPath>/SubversionRepository".
std::string ReadRepositoryFolder(const std::string& installPath);

// The installation's repository: "//RevisionControlURL" of its settings file, else the file URL
// of <installPath>/SubversionRepository.
std::string InstallationRepositoryUrl(const std::string& installPath);

// The search server's folder: "//SolrFolder" of the installation's settings file, else
// "<installPath>/solr".
std::string ReadSolrFolder(const std::string& installPath);

// The search server's port: "//SolrPort" of the settings file at settingsFile, 8983 when the
// file does not load or has none.
int ReadSolrPort(const std::string& settingsFile);

// How long a restart waits for the search server: "//SolrTimeoutSecs" of the settings file at
// settingsFile when it is a number, raised to 30 when below; 30 otherwise.
int ReadSolrTimeoutSeconds(const std::string& settingsFile);

}  // namespace brimora
