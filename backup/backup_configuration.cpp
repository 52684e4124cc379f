// Backup of the configuration and security files, and the single-file copies they share.

#include <cerrno>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "common/file_utils.h"
#include "common/paths.h"
#include "common/progress.h"
#include "common/trace_log.h"
#include "common/tree_walk.h"
#include "platform/files.h"

namespace brimora {
namespace {

constexpr const char* kUtilizationFileNames[] = {"utilization_h.txt", "utilized_h.pkl", "unutilized_h.pkl",
                                                 "UtilDevChans.txt", "UtilDevStates.txt"};

using enum LayoutItem;

// The files of the configuration step, in the order they are copied.
constexpr LayoutItem kConfigurationFiles[] = {
    kReports,      kSettingsFile, kTestSystems,    kTestSystemGroups,  kParameterFiles, kParameters,
    kServiceSettings, kSslCertificate, kSslKey,    kScheduledTasks,    kUserDefined,    kBackupSettings,
    kGenericFileEditor, kMergeUploadConfig, kUnits, kConfigDrv,        kReportJobs};

constexpr LayoutItem kSecurityFiles[] = {kCommandList, kUsersData, kUsersXml, kServerAccess, kServerAccessPrevious};

// A copy out of the installation that meets a socket, FIFO or device instead of a file says so
// and goes on. A copy out of a folder whose links are refused, the restore's backup folder, fails
// on one (ENXIO), and what it writes takes the installation's owners and permissions.
int CopyNamedFile(const std::string& source, const std::string& destination, bool failIfExists,
                  platform::SourceLink link) {
  bool skipped = false;
  const bool untrusted = link == platform::SourceLink::kRefuse;
  const int rc = platform::CopyOneFile(source, destination, failIfExists, link, untrusted ? nullptr : &skipped,
                                       untrusted ? platform::Ownership::kDestination : platform::Ownership::kSource);
  if (rc == 0 && skipped) WriteLog(1, kSpecialFileSkipped, source);
  return rc;
}

}  // namespace

bool CBackup::CopyBackupFile(const std::string& source, const std::string& destination, bool failIfExists,
                             int* error, platform::SourceLink link) {
  if (PathIsMissing(source)) {
    const std::string message = Format(messages::kSourceFileMissing, currentBackupFolder, source);
    if (!backupLog.WriteText(1, message)) WriteLogText(1, message);
    return true;
  }
  const int rc = CopyNamedFile(source, destination, failIfExists, link);
  if (rc == 0) NoteCopiedFile(source, link == platform::SourceLink::kFollow);
  if (rc != 0 && error != nullptr) *error = rc;
  return rc == 0;
}

bool CBackup::BackupFile(const std::string& source, const std::string& destination,
                         const std::string& backupFolder) {
  int error = 0;
  if (CopyBackupFile(source, destination, true, &error)) return true;
  backupLog.Write(0, messages::kFileNotBackedUp, backupFolder, source, destination, error);
  return false;
}

bool CBackup::BackupFileItem(LayoutItem item, const std::string& backupFolder) {
  const LayoutEntry& entry = Layout(item);
  return BackupFile(Paths().Source(entry), Paths().Entry(backupFolder, entry), backupFolder);
}

bool CBackup::BackupFilesItem(LayoutItem item, const std::string& backupFolder) {
  const LayoutEntry& entry = Layout(item);
  const std::string pattern = Paths().Source(entry);
  const std::string folder = ParentFolder(pattern);
  std::vector<std::string> paths;
  int listError = 0;
  ListFiles(folder, NameAfterLastSeparator(pattern), paths, 0, &listError);
  // A folder that can be entered but not listed would otherwise lose these files silently.
  bool ok = true;
  if (listError != 0) {
    backupLog.Write(0, messages::kFolderNotListed, backupFolder, folder, listError);
    ok = false;
  }
  for (const std::string& path : paths) {
    const std::string name = NameAfterLastSeparator(path);
    ok = BackupFile(folder + "/" + name, Paths().Entry(backupFolder, entry) + "/" + name, backupFolder) && ok;
  }
  return ok;
}

bool CBackup::BackupTreeItem(LayoutItem item, const std::string& backupFolder, int* error) {
  const LayoutEntry& entry = Layout(item);
  const std::string source = Paths().Source(entry);
  // Present means present: a folder that cannot be read is copied, and the copy says why it failed.
  if (PathIsMissing(source)) return true;
  return CopyTree(source, Paths().Entry(backupFolder, entry), error);
}

std::vector<std::string> ListUtilizationFiles(const std::string& sourceFolder, int* listError) {
  std::vector<std::string> names;
  for (const std::string name : kUtilizationFileNames) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    int error = 0;
    ListFolder(sourceFolder + name.substr(0, dot) + "*" + name.substr(dot), &names, nullptr, &error);
    if (*listError == 0) *listError = error;
  }
  return names;
}

int CopyUtilizationFile(const std::string& source, const std::string& destination, const std::string& label,
                        platform::SourceLink link) {
  if (PathIsMissing(source)) {
    WriteLog(1, messages::kUtilizationFileMissing, label, source);
    return 0;
  }
  return CopyNamedFile(source, destination, false, link);
}

bool CopyUtilizationFiles(const std::string& sourceFolder, const std::string& destinationFolder,
                          const std::string& label, CBackupLog* log, platform::SourceLink link) {
  const std::string shownLabel = label.empty() ? "Backup" : label;
  int listError = 0;
  const std::vector<std::string> names = ListUtilizationFiles(sourceFolder, &listError);
  bool ok = listError == 0;
  if (!ok) log->Write(0, messages::kUtilizationFolderNotListed, shownLabel, sourceFolder, sourceFolder, listError);
  for (const std::string& name : names) {
    const std::string source = sourceFolder + name;
    const std::string destination = destinationFolder + name;
    if (const int rc = CopyUtilizationFile(source, destination, shownLabel, link); rc != 0) {
      log->Write(0, messages::kUtilizationFileNotCopied, shownLabel, sourceFolder, source, destination, rc);
      ok = false;
    }
  }
  return ok;
}

bool CBackup::BackupConfigurationFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[0].name);
  backupLog.Write(1, messages::kConfigurationStart, backupFolder);

  const std::string settings = backupFolder + "/" + layout::kSettings;
  if (platform::CreateFolder(settings) != 0) {
    backupLog.Write(0, messages::kConfigurationFolderNotCreated, backupFolder, settings);
    return false;
  }

  bool ok = true;
  for (const LayoutItem item : kConfigurationFiles) {
    const LayoutEntry& entry = Layout(item);
    if (entry.kind == LayoutKind::kFiles) {
      ok = BackupFilesItem(item, backupFolder) && ok;
    } else if ((item == kSslCertificate || item == kSslKey) && !sslEnabled) {
      // Without secure transport, missing or unreadable certificate files are no failure.
      CopyBackupFile(Paths().Source(entry), Paths().Entry(backupFolder, entry), true);
    } else {
      ok = BackupFileItem(item, backupFolder) && ok;
    }
  }

  const auto backupFolderItem = [&](LayoutItem item) {
    int error = 0;
    if (BackupTreeItem(item, backupFolder, &error)) return true;
    const LayoutEntry& entry = Layout(item);
    const LayoutPaths paths = Paths();
    backupLog.Write(0, messages::kFolderNotBackedUp, backupFolder, paths.Source(entry), paths.Entry(backupFolder, entry),
                    error);
    return false;
  };
  ok = backupFolderItem(kUsers) && ok;
  // A utilization file that could not be saved fails the step like any other lost file.
  ok = CopyUtilizationFiles(Paths().Source(Layout(kUtilizationFiles)) + "/", settings + "/", "Backup", &backupLog,
                            platform::SourceLink::kFollow) &&
       ok;
  ok = backupFolderItem(kWebReports) && ok;

  backupLog.Write(1, messages::kConfigurationComplete, backupFolder);
  return ok;
}

bool CBackup::BackupSecurityFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[4].name);
  backupLog.Write(1, messages::kSecurityStart, backupFolder);

  const std::string security = backupFolder + "/" + layout::kSecurity;
  if (platform::CreateFolder(security) != 0) {
    backupLog.Write(0, messages::kSecurityFolderNotCreated, backupFolder, security);
    return false;
  }
  bool ok = true;
  for (const LayoutItem item : kSecurityFiles) ok = BackupFileItem(item, backupFolder) && ok;
  backupLog.Write(1, messages::kSecurityComplete, backupFolder);
  return ok;
}

}  // namespace brimora
