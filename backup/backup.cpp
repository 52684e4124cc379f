#include "backup/backup.h"

#include <utility>

#include "backup/backup_messages.h"
#include "common/file_url.h"
#include "common/file_utils.h"
#include "common/paths.h"
#include "common/settings_folder.h"
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
  // Taken from the install path rather than the working folder, so that the log is where it
  // belongs even when the installation's Execute folder could not be made the working folder.
  const std::string logPath = this->installPath + "/" + kBackupLogName;
  if (!backupLog.Open(logPath)) WriteLog(0, kLogNotOpened, logPath);
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
  return JoinPath(installPath, "SubversionRepository");
}

std::string CBackup::GetSolrFolder() const {
  const std::string defaultFolder = JoinPath(installPath, "solr");
  const XmlDocument settings = LoadXmlDocument(GetSettingsFilePath(installPath, true));
  if (!settings) return defaultFolder;
  return ReadXmlString(settings, "//SolrFolder", defaultFolder);
}

std::string CBackup::SourcePath(const LayoutEntry& entry) const {
  const auto under = [&entry](const std::string& folder) {
    return *entry.source == '\0' ? folder : folder + "/" + entry.source;
  };
  switch (entry.base) {
    case LayoutBase::kInstall: return under(installPath);
    case LayoutBase::kExecute: return under(installPath + "/Execute");
    case LayoutBase::kInstallLogs: return under(installPath + "/Logs");
    case LayoutBase::kIniSettingsFolder: return under(GetSettingsFolder(installPath));
    case LayoutBase::kSettingsFilePath: return GetSettingsFilePath(installPath, true);
    case LayoutBase::kCertificatePath: return sslCertificatePath;
    case LayoutBase::kKeyPath: return sslKeyPath;
    case LayoutBase::kPartsDatabasePath: return under(partsTrackerDatabasePath);
    case LayoutBase::kSettingsBeside: return under(settingsFolder);
    case LayoutBase::kRepositoryFolder: return GetRepositoryFolder();
  }
  return {};
}

std::string CBackup::EntryPath(const std::string& backupFolder, const LayoutEntry& entry) const {
  const std::string folder = *entry.entry == '\0' ? backupFolder : backupFolder + "/" + entry.entry;
  if (!entry.underOwnName || entry.kind == LayoutKind::kFiles || entry.kind == LayoutKind::kUtilizationPatterns) {
    return folder;
  }
  const std::string source = SourcePath(entry);
  if (entry.kind == LayoutKind::kFile) return folder + "/" + NameAfterLastSeparator(source);
  // A folder keeps its real name, also when its path ends in "." or "..".
  std::string name = LastComponent(source);
  if (std::string real; (name == "." || name == "..") && platform::RealPath(source, &real) == 0) {
    name = LastComponent(real);
  }
  return folder + "/" + name;
}

bool CBackup::CopyTree(const std::string& source, const std::string& destination, int* error) {
  TreeFailure failure;
  if (CopyFolder(source, destination, &failure, runFolders_)) return true;
  if (error != nullptr) *error = failure.code;
  backupLog.Write(0, messages::kCopyFailedAt, currentBackupFolder, failure.Description());
  return false;
}

}  // namespace brimora
