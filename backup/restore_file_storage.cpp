// The FileStorage area of the restore: the installation's "Repository" folder replaced by the
// backed-up one, the working copy upgraded, and its "ReportTemplates" folder made sure of.

#include <cerrno>

#include "backup/backup.h"
#include "backup/backup_manifest.h"
#include "backup/record_messages.h"
#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/file_utils.h"
#include "common/folder_copy_engine.h"
#include "common/tree_walk.h"
#include "common/format.h"
#include "common/trace_log.h"
#include "platform/files.h"
#include "sourcecontrol/checkin.h"
#include "sourcecontrol/svn_client.h"

namespace brimora {

namespace {

constexpr const char kReportTemplates[] = "ReportTemplates";
// The working copy inside the "Repository" folder.
constexpr const char kWorkingCopy[] = "FileStorage";
// Folders a restore copies into before they take the place of the installation's; one left
// behind by a killed run is removed by the next.
constexpr const char kStagingPrefix[] = ".brimora-staging-";
constexpr const char kStaleStagingRemoved[] = "Restore - Removed \"%s\", left behind by an earlier restore.\n";

void RemoveStaleStaging(const std::string& root) {
  std::vector<platform::FolderEntry> entries;
  if (platform::ReadFolder(root, true, &entries) != 0) return;
  for (const platform::FolderEntry& entry : entries) {
    if (entry.name.rfind(kStagingPrefix, 0) != 0) continue;
    const std::string path = root + "/" + entry.name;
    if (!DeleteTree(path, false).failed) WriteLog(1, kStaleStagingRemoved, path);
  }
}

}  // namespace

bool CBackup::RestoreFileStorage(const std::string& root, const std::string& backup, const std::string& userName) {
  WriteLog(1, messages::kRestoreFileStorageStart);
  RemoveStaleStaging(root);
  bool ok = true;
  const std::string source = LayoutPaths::InBackup(backup, LayoutItem::kFileStorage);

  // The installation's folder is replaced only by a whole, checked copy of the backed-up one;
  // until then it stays as it is. A backed-up folder inside that folder (a backup kept in the
  // working copy, or the installation named as its own backup) would go with it, so it does not
  // replace it. When nothing was replaced, the area ends there and changes nothing.
  const std::string repository = Paths(root).Target(LayoutItem::kFileStorage);
  platform::FileInfo info;
  const bool backedUp = LinkOnTheWay(backupPath, source, true) == 0 &&
                        platform::GetFileInfo(source, false, &info) == 0 && info.kind == platform::EntryKind::kFolder;
  bool replaced = false;
  if (!gate_.AreaMayRun(kBackupAreas[6].name, kBackupAreas[6].folder, false)) {
  } else if (backedUp && LiesInside(source, repository)) {
    WriteLog(0, messages::kRestoreBackupInsideFileStorage, source, repository);
  } else if (!backedUp) {
    RestoreDataFiles(source, root);
  } else {
    replaced = ReplaceRepository(source, root);
  }
  if (!replaced) {
    WriteLog(0, messages::kRestoreFileStorageFailed);
    return false;
  }

  // The working copy was checked and upgraded before it took the place of the installation's.
  const std::string workingCopy = Paths(root).Base(LayoutBase::kWorkingCopy);
  const std::string templates = workingCopy + "/" + kReportTemplates;
  if (PathIsMissing(templates)) {
    if (!workingCopy_.MayChange(templates)) {
      WriteLog(0, messages::kRestoreCheckinFolderFailed, templates);
      ok = false;
    } else if (LinkOnTheWay(root, templates, true) != 0 || CreateInstallationFolder(templates) != 0) {
      WriteLog(0, messages::kRestoreCreateFolderFailed, kReportTemplates);
      ok = false;
    } else {
      workingCopy_.Changed(templates);
      if (!workingCopy_.ClientMayWorkOn(templates) ||
          !CheckinFile(templates, Format(messages::kReportTemplatesComment, kReportTemplates), userName)) {
        WriteLog(0, messages::kRestoreCheckinFolderFailed, templates);
        ok = false;
      }
    }
  }
  WriteLog(1, messages::kRestoreFileStorageComplete);
  return ok;
}

bool CBackup::ReplaceRepository(const std::string& source, const std::string& root) {
  const LayoutPaths paths = Paths(root);
  const std::string repository = paths.Target(LayoutItem::kFileStorage);
  platform::Folder folder;
  platform::Folder backedUp;
  std::string staging;
  int error = folder.Open(root, true);
  if (error == 0) error = backedUp.Open(source, false);
  // A copy can take the folder's place in one step only on the same file system.
  platform::FileInfo rootInfo;
  platform::FileInfo current;
  if (error == 0 && folder.Describe(&rootInfo) == 0 && folder.DescribeChild(layout::kFileStorage, &current) == 0 &&
      current.id.device != rootInfo.id.device) {
    WriteLog(0, messages::kRestoreRepositoryMounted, repository);
    return false;
  }
  std::uint64_t needed = 0;
  std::uint64_t free = 0;
  if (error == 0 && !gate_.ListedBytes(layout::kFileStorage, &needed)) error = TreeBytes(backedUp, &needed);
  if (error == 0) error = folder.FreeSpace(&free);
  if (error == 0 && needed > free) {
    WriteLog(0, messages::kRestoreNoRoom, source, static_cast<unsigned long long>(needed),
             static_cast<unsigned long long>(free), root);
    return false;
  }
  if (error == 0) error = folder.CreateUniqueChild(kStagingPrefix, 0700, &staging);
  // The copy takes the owner and access lists of the folder it replaces, not the backup's.
  platform::Folder stagingFolder;
  if (error == 0) error = folder.OpenChild(staging, &stagingFolder);
  if (error == 0) error = TakePlaceOf(folder, stagingFolder, layout::kFileStorage);
  if (error != 0) {
    WriteLog(0, messages::kRestoreStagingFailed, source, repository, platform::ErrorText(error));
    if (!staging.empty()) folder.RemoveChild(staging, true);
    return false;
  }
  const std::string stagingPath = root + "/" + staging;
  bool copied = RestoreTree(source, stagingPath, &error) && gate_.CopyMatches(stagingPath, layout::kFileStorage);
  if (copied) copied = FinishPlaceOf(folder, stagingFolder, layout::kFileStorage, backedUp) == 0;
  // A working copy of another repository (or one the client cannot read) never takes the place
  // of the installation's: the restore would commit wherever it points.
  const std::string workingCopy = std::string("/") + kWorkingCopy;
  copied = copied && workingCopy_.Check(stagingPath + workingCopy, paths.Base(LayoutBase::kWorkingCopy));
  if (copied) {
    // One step where the file system allows it; else two renames, the installation's folder
    // moving to the staging name first, so that it is never deleted before the copy stands.
    error = folder.ExchangeChildren(staging, layout::kFileStorage);
    if (error == ENOENT) {
      error = folder.RenameChild(staging, layout::kFileStorage, false);
    } else if (error == EINVAL || error == ENOSYS) {
      std::string old;
      error = folder.CreateUniqueChild(kStagingPrefix, 0700, &old);
      if (error == 0) error = folder.RenameChild(layout::kFileStorage, old, true);
      if (error == 0 && (error = folder.RenameChild(staging, layout::kFileStorage, false)) != 0) {
        folder.RenameChild(old, layout::kFileStorage, false);
      }
      if (error == 0) staging = old;
    }
    if (error != 0) {
      WriteLog(0, messages::kRestoreStagingFailed, source, repository, platform::ErrorText(error));
      copied = false;
    }
  }
  // What stands at the staging name now is either the unused copy or the replaced folder.
  const TreeDeleteResult removed = DeleteTree(root + "/" + staging, false);
  if (copied && removed.failed) WriteLog(0, messages::kRestoreOldNotRemoved, removed.failure.Description());
  return copied;
}

bool CBackup::RestoreDataFiles(const std::string& source, const std::string& destination) {
  CFolderCopyEngine engine;
  if (PathIsMissing(source)) {
    WriteLog(0, messages::kRestoreSourceFolderMissing, source);
    return false;
  }
  // Only a real folder is copied back: a link in the backup folder never leads the copy out.
  int error = LinkOnTheWay(backupPath, source, true);
  platform::FileInfo info;
  if (error == 0 && platform::GetFileInfo(source, false, &info) == 0 && info.kind != platform::EntryKind::kFolder) {
    error = info.kind == platform::EntryKind::kLink ? ELOOP : ENOTDIR;
  }
  if (error != 0) {
    WriteLog(0, messages::kRestoreDataFilesNotCopied, source, destination,
             "\"" + source + "\": " + platform::ErrorText(error));
    return false;
  }
  if (PathIsMissing(destination) && platform::CreateFolder(destination) != 0) {
    WriteLog(0, messages::kRestoreFolderNotCreated, destination);
    return false;
  }
  if (!engine.Copy(source, destination)) {
    WriteLog(0, messages::kRestoreDataFilesNotCopied, source, destination, engine.LastErrorText());
    return false;
  }
  return true;
}

}  // namespace brimora
