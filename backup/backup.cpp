#include "backup/backup.h"

#include <utility>

#include "common/settings_folder.h"
#include "common/file_url.h"
#include "common/trace_log.h"
#include "common/xml.h"

namespace brimora {
namespace {

constexpr char kLogNotOpened[] = "Unable to open the backup log: %s\n";

}  // namespace

CBackup::CBackup(std::string backupPath, std::string installPath, std::string mainCore,
                 std::string utilizationCore, std::string inboxCore, std::string partsTrackerCore,
                 std::string settingsFolder, std::string partsTrackerDatabasePath,
                 std::string sslCertificatePath, std::string sslKeyPath, bool sslEnabled)
    : backupPath(std::move(backupPath)),
      installPath(std::move(installPath)),
      mainCore(std::move(mainCore)),
      utilizationCore(std::move(utilizationCore)),
      inboxCore(std::move(inboxCore)),
      partsTrackerCore(std::move(partsTrackerCore)),
      settingsFolder(std::move(settingsFolder)),
      partsTrackerDatabasePath(std::move(partsTrackerDatabasePath)),
      sslCertificatePath(std::move(sslCertificatePath)),
      sslKeyPath(std::move(sslKeyPath)),
      sslEnabled(sslEnabled) {
  if (!backupLog.Open(kBackupLogPath)) WriteLog(0, kLogNotOpened, kBackupLogPath);
}

CBackup::~CBackup() = default;

std::string CBackup::GetRepositoryFolder() const {
  // Only a file URL names a folder on this machine; any other repository URL keeps the default.
  const XmlDocument settings = LoadXmlDocument(GetSettingsFilePath(installPath, true));
  if (settings) {
    const std::string url = ReadXmlString(settings, "//RevisionControlURL", "");
    std::string path;
    if (!url.empty() && FileUrlToPath(url, path)) return path;
  }
  return installPath + "SubversionRepository";
}

std::string CBackup::GetSolrFolder() const {
  const std::string defaultFolder = installPath + "solr";
  const XmlDocument settings = LoadXmlDocument(GetSettingsFilePath(installPath, true));
  if (!settings) return defaultFolder;
  return ReadXmlString(settings, "//SolrFolder", defaultFolder);
}

}  // namespace brimora
