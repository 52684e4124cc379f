// Backup of the FileStorage working copy and its Subversion repository.

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "common/file_utils.h"
#include "common/folder_copy_engine.h"
#include "common/progress.h"
#include "platform/files.h"

namespace brimora {

bool CBackup::CopyDataFiles(const std::string& source, const std::string& destination) {
  if (PathIsMissing(source)) {
    backupLog.Write(1, messages::kSourceFolderMissing, currentBackupFolder, source);
    return true;
  }
  if (PathIsMissing(destination) && platform::CreateFolder(destination) != 0) {
    backupLog.Write(0, messages::kDataFolderNotCreated, currentBackupFolder, destination);
    return false;
  }
  CFolderCopyEngine engine;
  for (const platform::FileId& folder : runFolders_) engine.LeaveOut(folder);
  if (engine.Copy(source, destination)) return true;
  // The place where the copy stopped, when the engine's own text does not already name it.
  if (const TreeFailure& failure = engine.LastFailure(); !failure.path.empty() && !failure.conflict) {
    backupLog.Write(0, messages::kCopyFailedAt, currentBackupFolder, failure.Description());
  }
  backupLog.Write(0, messages::kDataFilesNotCopied, currentBackupFolder, source, destination,
                  engine.LastErrorText());
  return false;
}

bool CBackup::BackupFileStorage(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[6].name);
  backupLog.Write(1, messages::kFileStorageStart, backupFolder);

  if (!CopyDataFiles(Paths().Source(Layout(LayoutItem::kFileStorage)), backupFolder)) {
    backupLog.Write(0, messages::kFileStorageFailed, backupFolder);
    return false;
  }
  backupLog.Write(1, messages::kFileStorageComplete, backupFolder);

  backupLog.Write(1, messages::kSubversionStart, backupFolder);
  const std::string repository = Paths().Source(Layout(LayoutItem::kSubversionRepository));
  if (repository.rfind("//", 0) == 0) {
    backupLog.Write(0, messages::kSubversionOnShare, backupFolder);
    return true;
  }
  if (!CopyDataFiles(repository, backupFolder)) {
    backupLog.Write(0, messages::kSubversionFailed, backupFolder);
    return false;
  }
  backupLog.Write(1, messages::kSubversionComplete, backupFolder);
  return true;
}

}  // namespace brimora
