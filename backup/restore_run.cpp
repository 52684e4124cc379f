// The restore run, the single-file and folder copies its areas share, and the Parameter Manager
// images.

#include <cerrno>
#include <functional>

#include "backup/backup.h"
#include "backup/configuration.h"
#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/file_utils.h"
#include "common/progress.h"
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
  // The areas in their order, each named after the backup area whose files it puts back; all but
  // the FileStorage run only when what they read was saved whole (the FileStorage checks its own).
  const struct {
    const BackupArea& from;
    bool checked;
    std::function<bool()> restore;
  } areas[] = {
      {kBackupAreas[6], false, [&] { return RestoreFileStorage(root, backup, userName); }},
      {kBackupAreas[0], true, [&] { return RestoreSettings(root, backup, userName); }},
      {kBackupAreas[2], true, [&] { return RestoreParameterManager(root, backup, userName); }},
      {kBackupAreas[3], true, [&] { return RestoreParameterManagerImages(root, backup); }},
      {kBackupAreas[4], true, [&] { return RestoreSecurity(root, backup); }},
      {kBackupAreas[5], true, [&] { return RestorePartsTracker(root, backup); }},
  };
  restoredAreas.clear();
  for (const auto& area : areas) restoredAreas.push_back({area.from.name, AreaRecord::Answer::kSkipped});
  if (!gate_.Open(backup, force)) return false;
  SelectSvnClient(root);
  const std::string workingCopy = Paths(root).Base(LayoutBase::kWorkingCopy);
  SetCleanupTarget(workingCopy);
  workingCopy_.Start(root, workingCopy, InstallationRepositoryUrl(root));
  // Each area runs whatever the others answered; one the checks refuse stays skipped and fails the run.
  bool ok = true;
  for (std::size_t i = 0; i < std::size(areas); ++i) {
    if (areas[i].checked && !gate_.AreaMayRun(areas[i].from.name, areas[i].from.folder, true)) {
      ok = false;
      continue;
    }
    SetProgressArea(areas[i].from.name);
    const CopyCounts before = CopiedSoFar();
    const bool answer = areas[i].restore();
    const CopyCounts after = CopiedSoFar();
    restoredAreas[i] = {areas[i].from.name, answer ? AreaRecord::Answer::kTrue : AreaRecord::Answer::kFalse,
                        after.files - before.files, after.bytes - before.bytes};
    ok = answer && ok;
  }
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
  if (rc == 0) NoteCopiedFile(source, false);
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
