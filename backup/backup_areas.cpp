// Backup of the Parameter Manager files and images, the Parts Tracker and the log files.

#include <cerrno>

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "common/file_utils.h"
#include "common/progress.h"
#include "platform/files.h"

namespace brimora {
namespace {

using enum LayoutItem;

// A folder left in the backup folder by an earlier layout is moved to its place, but only a
// real folder: a link there would make the copies that follow write through it. Answers ENOENT
// when there is none: nothing at the path, or a file in place of a folder on its way, below
// which no earlier run wrote.
int MoveEarlierFolder(const std::string& from, const std::string& to) {
  platform::FileInfo info;
  if (const int rc = platform::GetFileInfo(from, false, &info); rc != 0) return rc == ENOTDIR ? ENOENT : rc;
  if (info.kind != platform::EntryKind::kFolder) return ELOOP;
  return platform::Rename(from, to);
}

}  // namespace

bool CBackup::BackupParameterManagerFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[2].name);
  backupLog.Write(1, messages::kParameterManagerStart, backupFolder);

  const std::string folder = backupFolder + "/" + layout::kParameterManager;
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kParameterManagerFolderNotCreated, backupFolder, folder);
    return false;
  }
  const bool ok = BackupFileItem(kNames, backupFolder);
  backupLog.Write(1, messages::kParameterManagerComplete, backupFolder);
  return ok;
}

bool CBackup::BackupParameterManagerImages(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[3].name);
  backupLog.Write(1, messages::kImagesStart, backupFolder);

  const std::string folder = backupFolder + "/" + layout::kParameterManagerImages;
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kImagesFolderNotCreated, backupFolder, folder);
    return false;
  }
  // Both image folders, where present, are merged into the one backup folder.
  for (const LayoutItem item : {kImages, kParameterManagerImages}) {
    if (!BackupTreeItem(item, backupFolder)) {
      backupLog.Write(0, messages::kImagesFailed, backupFolder);
      return false;
    }
  }
  backupLog.Write(1, messages::kImagesComplete, backupFolder);
  return true;
}

bool CBackup::BackupPartsTracker(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[5].name);
  backupLog.Write(1, messages::kPartsTrackerStart, backupFolder);

  // Every part is tried whatever became of the others; any loss fails the step.
  bool ok = true;
  const std::string folder = backupFolder + "/" + layout::kPartsTracker;
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kPartsTrackerFolderNotCreated, backupFolder, folder);
    ok = false;
  }

  if (PathIsMissing(Paths().Source(Layout(kPartsDatabase)))) {
    backupLog.Write(1, messages::kSourceFolderMissing, backupFolder, Paths().Source(Layout(kPartsDatabase)));
  } else if (!BackupTreeItem(kPartsDatabase, backupFolder)) {
    backupLog.Write(0, messages::kPartsDatabaseFailed, backupFolder);
    ok = false;
  }

  const std::string configuration = Paths().Source(Layout(kPartDbConfig));
  if (!CopyBackupFile(configuration, Paths().Entry(backupFolder, Layout(kPartDbConfig)), true)) {
    backupLog.Write(0, messages::kPartDbConfigFailed, backupFolder, configuration);
    ok = false;
  }
  const std::string exporter = Paths().Source(Layout(kPartsDbExporterConfig));
  if (!CopyBackupFile(exporter, Paths().Entry(backupFolder, Layout(kPartsDbExporterConfig)), true)) {
    backupLog.Write(0, messages::kPartsDbExporterConfigFailed, backupFolder, exporter);
    ok = false;
  }

  // Web pages: an earlier layout kept them under Settings; they are moved to their place.
  const std::string webPages = Paths().Entry(backupFolder, Layout(kPartsWebPages));
  const std::string oldWebPages = backupFolder + "/Settings/Execute/www/partsdb";
  if (const int moved = MoveEarlierFolder(oldWebPages, webPages); moved != 0 && moved != ENOENT) {
    backupLog.Write(0, messages::kPartsWebPagesNotMoved, backupFolder, oldWebPages, webPages);
    ok = false;
  } else if (moved == ENOENT && !BackupTreeItem(kPartsWebPages, backupFolder)) {
    backupLog.Write(0, messages::kPartsChangeFilesFailed, backupFolder);
    ok = false;
  }

  // Change logs: three sources merged into one folder.
  const std::string changeLogs = Paths().Entry(backupFolder, Layout(kPartsChangeLogs));
  const std::string oldChangeLogs = backupFolder + "/Settings/Execute/partsdb-changelogs";
  if (const int moved = MoveEarlierFolder(oldChangeLogs, changeLogs); moved != 0 && moved != ENOENT) {
    backupLog.Write(0, messages::kPartsChangeLogsNotMoved, backupFolder, oldChangeLogs, changeLogs);
    ok = false;
  }
  for (const LayoutItem item : {kPartsChangeLogs, kPartsSettingsChangeLogs}) {
    if (!BackupTreeItem(item, backupFolder)) {
      backupLog.Write(0, messages::kPartsChangeFilesFailed, backupFolder);
      ok = false;
    }
  }

  backupLog.Write(1, messages::kPartsTrackerComplete, backupFolder);
  return ok;
}

bool CBackup::BackupLogFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[7].name);
  backupLog.Write(1, messages::kLogFilesStart, backupFolder);

  bool ok = true;
  const std::string folder = Paths().Entry(backupFolder, Layout(kLogFiles));
  if (platform::CreateFolder(folder) != 0) {
    backupLog.Write(0, messages::kLogFolderNotCreated, backupFolder, folder);
    ok = false;
  }
  // The installation's own Logs, the backup log included; a missing folder leaves an empty copy.
  if (!CopyTree(Paths().Source(Layout(kLogFiles)), folder)) {
    backupLog.Write(0, messages::kLogFilesFailed, backupFolder);
    ok = false;
  }
  backupLog.Write(1, messages::kLogFilesComplete, backupFolder);
  return ok;
}

}  // namespace brimora
