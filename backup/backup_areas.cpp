// Backup of the Parameter Manager files and images, the Parts Tracker and the log files.

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "backup/backup_support.h"
#include "common/file_utils.h"
#include "platform/files.h"

namespace brimora {

bool CBackup::BackupParameterManagerFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kParameterManagerStart, backupFolder);

  const std::string folder = backupFolder + "/PMP";
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kParameterManagerFolderNotCreated, backupFolder, folder);
    return false;
  }
  const bool ok = BackupFile(installPath + "/Execute/names.pmp", folder + "/names.pmp", backupFolder);
  backupLog.Write(1, messages::kParameterManagerComplete, backupFolder);
  return ok;
}

bool CBackup::BackupParameterManagerImages(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kImagesStart, backupFolder);

  const std::string folder = backupFolder + "/PMP Images";
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kImagesFolderNotCreated, backupFolder, folder);
    return false;
  }
  // Both image folders, where present, are merged into the one backup folder.
  for (const std::string& source : {installPath + "/Execute/www/images/ParameterManager",
                                   installPath + "/Execute/ParameterManager/images"}) {
    if (!PathIsMissing(source) && !CopyFolder(source, folder)) {
      backupLog.Write(0, messages::kImagesFailed, backupFolder);
      return false;
    }
  }
  backupLog.Write(1, messages::kImagesComplete, backupFolder);
  return true;
}

bool CBackup::BackupPartsTracker(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kPartsTrackerStart, backupFolder);

  // Every part is tried whatever became of the others; any loss fails the step.
  bool ok = true;
  const std::string folder = backupFolder + "/PartsTracker";
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kPartsTrackerFolderNotCreated, backupFolder, folder);
    ok = false;
  }

  if (PathIsMissing(partsTrackerDatabasePath)) {
    backupLog.Write(1, messages::kSourceFolderMissing, backupFolder, partsTrackerDatabasePath);
  } else if (!CopyFolder(partsTrackerDatabasePath, folder + "/partsdb")) {
    backupLog.Write(0, messages::kPartsDatabaseFailed, backupFolder);
    ok = false;
  }

  const std::string execute = installPath + "/Execute";
  if (!CopyBackupFile(execute + "/PartDBConfig.xml", folder + "/PartDBConfig.xml", true)) {
    backupLog.Write(0, messages::kPartsTrackerFileFailed, backupFolder, execute + "/PartDBConfig.xml");
    ok = false;
  }
  if (!CopyBackupFile(execute + "/PartsDBExporterConfig.xml", folder + "/PartsDBExporterConfig.xml", true)) {
    backupLog.Write(0, messages::kPartTrackerFileFailed, backupFolder, execute + "/PartsDBExporterConfig.xml");
    ok = false;
  }

  // Web pages: an earlier layout kept them under Settings; they are moved to their place.
  const std::string webPages = folder + "/www-partsdb";
  const std::string oldWebPages = backupFolder + "/Settings/Execute/www/partsdb";
  if (!PathIsMissing(oldWebPages)) {
    if (platform::Rename(oldWebPages, webPages) != 0) {
      backupLog.Write(0, messages::kPartsWebPagesNotMoved, backupFolder, oldWebPages, webPages);
      ok = false;
    }
  } else if (!PathIsMissing(execute + "/www/partsdb") && !CopyFolder(execute + "/www/partsdb", webPages)) {
    backupLog.Write(0, messages::kPartsChangeFilesFailed, backupFolder);
    ok = false;
  }

  // Change logs: three sources merged into one folder.
  const std::string changeLogs = folder + "/partsdb-changelogs";
  const std::string oldChangeLogs = backupFolder + "/Settings/Execute/partsdb-changelogs";
  if (!PathIsMissing(oldChangeLogs) && platform::Rename(oldChangeLogs, changeLogs) != 0) {
    backupLog.Write(0, messages::kPartsChangeLogsNotMoved, backupFolder, oldChangeLogs, changeLogs);
    ok = false;
  }
  for (const std::string& source : {execute + "/partsdb-changelogs", settingsFolder + "/partsdb-changelogs"}) {
    if (!PathIsMissing(source) && !CopyFolder(source, changeLogs)) {
      backupLog.Write(0, messages::kPartsChangeFilesFailed, backupFolder);
      ok = false;
    }
  }

  backupLog.Write(1, messages::kPartsTrackerComplete, backupFolder);
  return ok;
}

bool CBackup::BackupLogFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kLogFilesStart, backupFolder);

  bool ok = true;
  const std::string folder = backupFolder + "/Logs";
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kLogFolderNotCreated, backupFolder, folder);
    ok = false;
  }
  // Relative to the Execute folder: the installation's own Logs, the backup log included.
  if (!CopyFolder("../Logs", folder)) {
    backupLog.Write(0, messages::kLogFilesFailed, backupFolder);
    ok = false;
  }
  backupLog.Write(1, messages::kLogFilesComplete, backupFolder);
  return ok;
}

}  // namespace brimora
