// The restore run, the single-file and folder copies its areas share, and the Parameter Manager
// images.

#include <cerrno>

#include "backup/backup.h"
#include "backup/configuration.h"
#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/file_utils.h"
#include "common/trace_log.h"
#include "common/tree_walk.h"
#include "platform/files.h"
#include "sourcecontrol/svn_client.h"

namespace brimora {

namespace {

// The installation's own client, when it ships one, is used for every later client command.
void SelectSvnClient(const std::string& root) {
  const std::string client = root + "/Subversion/bin/svn";
  if (platform::IsExecutableFile(client)) SetSvnCommand(QuotedValue(client));
}

}  // namespace

bool CBackup::RestoreFromBackup(bool /*includeDatabase*/, const std::string& userName, bool force) {
  const std::string root = installPath;
  const std::string backup = backupPath;
  if (!gate_.Open(backup, force)) return false;
  SelectSvnClient(root);
  const std::string workingCopy = Paths(root).Base(LayoutBase::kWorkingCopy);
  SetCleanupTarget(workingCopy);
  workingCopy_.Start(root, workingCopy, InstallationRepositoryUrl(root));
  // An area runs only when what it reads was saved whole; each runs whatever the others answered.
  const auto checked = [this](const BackupArea& from) { return gate_.AreaMayRun(from.name, from.folder, true); };
  bool ok = RestoreFileStorage(root, backup, userName);
  ok = (checked(kBackupAreas[0]) && RestoreSettings(root, backup, userName)) && ok;
  ok = (checked(kBackupAreas[2]) && RestoreParameterManager(root, backup, userName)) && ok;
  ok = (checked(kBackupAreas[3]) && RestoreParameterManagerImages(root, backup)) && ok;
  ok = (checked(kBackupAreas[4]) && RestoreSecurity(root, backup)) && ok;
  ok = (checked(kBackupAreas[5]) && RestorePartsTracker(root, backup)) && ok;
  return ok;
}

bool CBackup::RestoreFile(const std::string& source, const std::string& destination, int* error) {
  int rc = LinkOnTheWay(backupPath, source, false);
  if (rc == 0 && PathIsMissing(source)) {
    WriteLog(1, messages::kRestoreSourceMissing, "Backup", source);
    return true;
  }
  if (rc == 0) rc = LinkOnTheWay(installPath, destination, false);
  // A socket, FIFO or device in place of the file fails it (ENXIO), as a folder there does.
  if (rc == 0) {
    rc = platform::CopyOneFile(source, destination, false, platform::SourceLink::kRefuse, nullptr,
                               platform::Ownership::kDestination);
  }
  if (rc != 0 && error != nullptr) *error = rc;
  return rc == 0;
}

bool CBackup::RestoreTree(const std::string& source, const std::string& destination, int* error) {
  int sourceError = LinkOnTheWay(backupPath, source, true);
  // Present means a folder: anything else there fails the item. A missing one is the caller's.
  platform::FileInfo info;
  if (sourceError == 0) sourceError = platform::GetFileInfo(source, false, &info);
  if (sourceError == 0 && info.kind != platform::EntryKind::kFolder) sourceError = ENOTDIR;
  if (sourceError == ENOENT) sourceError = 0;
  const int destinationError = sourceError != 0 ? 0 : LinkOnTheWay(installPath, destination, true);
  TreeFailure failure;
  if (sourceError != 0) {
    failure = {sourceError, source, platform::ErrorText(sourceError)};
  } else if (destinationError != 0) {
    failure = {destinationError, destination, platform::ErrorText(destinationError)};
  } else if (CopyFolder(source, destination, &failure, {}, platform::Ownership::kDestination)) {
    return true;
  }
  if (error != nullptr) *error = failure.code;
  WriteLog(0, messages::kRestoreCopyFailedAt, failure.Description());
  return false;
}

bool CBackup::RestoreParameterManagerImages(const std::string& root, const std::string& backup) {
  WriteLog(1, messages::kRestoreImagesStart);
  const std::string source = LayoutPaths::InBackup(backup, LayoutItem::kParameterManagerImages);
  const std::string destination = Paths(root).Target(LayoutItem::kParameterManagerImages);
  if (!PathIsMissing(source)) {
    int error = 0;
    if (!RestoreTree(source, destination, &error)) {
      WriteLog(0, messages::kRestoreImagesFailed);
      return false;
    }
  }
  WriteLog(1, messages::kRestoreImagesComplete);
  return true;
}

}  // namespace brimora
