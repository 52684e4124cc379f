// The backup run: the backup folder and the order of the area steps.

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "common/file_utils.h"
#include "platform/files.h"

namespace brimora {

bool CBackup::BackupForUpdate(bool includeDatabase) {
  const std::string folder = backupPath;
  if (!IsFolder(folder) && platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kBackupFolderNotCreated, folder);
    return false;
  }

  // Every step runs whatever the earlier ones answered; any failure fails the run.
  bool ok = BackupConfigurationFiles(folder);
  if (includeDatabase) ok = BackupDatabase(folder) && ok;
  ok = BackupParameterManagerFiles(folder) && ok;
  ok = BackupParameterManagerImages(folder) && ok;
  ok = BackupSecurityFiles(folder) && ok;
  ok = BackupPartsTracker(folder) && ok;
  ok = BackupFileStorage(folder) && ok;
  ok = BackupLogFiles(folder) && ok;
  return ok;
}

bool CBackup::BackupDatabase(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  // Nothing may claim that the search cores were saved while this build cannot save them.
  backupLog.Write(0, messages::kDatabaseNotAvailable, backupFolder);
  return false;
}

}  // namespace brimora
