// The FileStorage area of the restore: the installation's "Repository" folder replaced by the
// backed-up one, the working copy upgraded, and its "ReportTemplates" folder made sure of.

#include <cerrno>

#include "backup/backup.h"
#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/folder_copy_engine.h"
#include "common/format.h"
#include "common/trace_log.h"
#include "platform/files.h"
#include "sourcecontrol/checkin.h"
#include "sourcecontrol/svn_client.h"

namespace brimora {

namespace {

constexpr const char kReportTemplates[] = "ReportTemplates";

}  // namespace

bool CBackup::RestoreFileStorage(const std::string& root, const std::string& backup, const std::string& userName) {
  WriteLog(1, messages::kRestoreFileStorageStart);
  bool ok = true;
  const std::string source = RestoreSource(backup, LayoutItem::kFileStorage);

  // The installation's folder goes only once the backed-up one is known to be there: without
  // it, the installation's working copy is the only one left. A backed-up folder inside that
  // folder (a backup kept in the working copy, or the installation named as its own backup)
  // would go with it, so it does not replace it.
  const std::string repository = root + "/" + layout::kFileStorage;
  platform::FileInfo info;
  const bool backedUp = LinkOnTheWay(backupPath, source, true) == 0 &&
                        platform::GetFileInfo(source, false, &info) == 0 && info.kind == platform::EntryKind::kFolder;
  if (backedUp && LiesInside(source, repository)) {
    WriteLog(0, messages::kRestoreBackupInsideFileStorage, source, repository);
    WriteLog(0, messages::kRestoreFileStorageFailed);
    ok = false;
  } else {
    if (backedUp) CFolderCopyEngine().Delete(repository);
    if (!RestoreDataFiles(source, root)) {
      WriteLog(0, messages::kRestoreFileStorageFailed);
      ok = false;
    }
  }

  const std::string workingCopy = root + "/Repository/FileStorage";
  if (!ClientMayWorkOn(root, workingCopy, workingCopy) || !UpgradeWorkingCopy(workingCopy)) {
    WriteLog(0, messages::kRestoreUpgradeFailed, workingCopy);
    ok = false;
  }

  const std::string templates = workingCopy + "/" + kReportTemplates;
  if (platform::GetFileInfo(templates, false, &info) == ENOENT) {
    if (LinkOnTheWay(root, templates, true) != 0 || platform::CreateFolder(templates) != 0) {
      WriteLog(0, messages::kRestoreCreateFolderFailed, kReportTemplates);
      ok = false;
    } else if (!ClientMayWorkOn(root, workingCopy, templates) ||
               !CheckinFile(templates, Format(messages::kReportTemplatesComment, kReportTemplates), userName)) {
      WriteLog(0, messages::kRestoreCheckinFolderFailed, templates);
      ok = false;
    }
  }
  WriteLog(1, messages::kRestoreFileStorageComplete);
  return ok;
}

bool CBackup::RestoreDataFiles(const std::string& source, const std::string& destination) {
  CFolderCopyEngine engine;
  platform::FileInfo info;
  if (platform::GetFileInfo(source, false, &info) == ENOENT) {
    WriteLog(0, messages::kRestoreSourceFolderMissing, source);
    return false;
  }
  // Only a real folder is copied back: a link in the backup folder never leads the copy out.
  int error = LinkOnTheWay(backupPath, source, true);
  if (error == 0 && platform::GetFileInfo(source, false, &info) == 0 && info.kind != platform::EntryKind::kFolder) {
    error = info.kind == platform::EntryKind::kLink ? ELOOP : ENOTDIR;
  }
  if (error != 0) {
    WriteLog(0, messages::kRestoreDataFilesNotCopied, source, destination,
             "\"" + source + "\": " + platform::ErrorText(error));
    return false;
  }
  if (platform::GetFileInfo(destination, false, &info) == ENOENT && platform::CreateFolder(destination) != 0) {
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
