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
  if (!BackupFolderIsAllowed(folder)) return false;

  // Every step runs whatever the earlier ones answered; any failure fails the run.
  bool ok = BackupConfigurationFiles(folder);
  if (includeDatabase) ok = BackupSearchDatabase(folder) && ok;
  ok = BackupParameterManagerFiles(folder) && ok;
  ok = BackupParameterManagerImages(folder) && ok;
  ok = BackupSecurityFiles(folder) && ok;
  ok = BackupPartsTracker(folder) && ok;
  ok = BackupFileStorage(folder) && ok;
  ok = BackupLogFiles(folder) && ok;
  return ok;
}

// Decided on where the folders really are, so no spelling ("/.", "..", a trailing "/", a link)
// can make the installation or one of its copied folders the backup folder: the steps would
// write their folders into the live installation and copy it into itself. The backup folder
// is also remembered, so that no copy of the run ever enters it.
bool CBackup::BackupFolderIsAllowed(const std::string& backupFolder) {
  runFolders_.clear();
  platform::FileInfo backup;
  if (platform::GetFileInfo(backupFolder, true, &backup) != 0) return true;  // the copies will say why
  runFolders_.push_back(backup.id);

  std::vector<std::string> copied = {installPath};
  for (const LayoutEntry& entry : BackupLayout()) {
    if (entry.kind == LayoutKind::kTree) copied.push_back(SourcePath(entry));
  }
  for (const std::string& source : copied) {
    platform::FileInfo info;
    if (platform::GetFileInfo(source, true, &info) == 0 && info.id == backup.id) {
      backupLog.Write(0, messages::kBackupFolderIsASource, backupFolder, source);
      return false;
    }
  }
  return true;
}

}  // namespace brimora
