// The settings, Parameter Manager, security and Parts Tracker areas of the restore.

#include <vector>

#include "backup/backup.h"
#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/file_utils.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/trace_log.h"
#include "platform/files.h"
#include "sourcecontrol/checkin.h"

namespace brimora {

namespace {

using enum LayoutItem;

}  // namespace

bool CBackup::RestoreConfigFile(const std::string& root, const std::string& source, LayoutItem item,
                                const char* restoreFailed, const std::string& comment, const std::string& userName) {
  if (LinkOnTheWay(backupPath, source, false) == 0 && PathIsMissing(source)) {
    WriteLog(1, messages::kRestoreCheckinSkipped, source);
    return true;
  }
  const std::string file = Paths(root).Target(item);
  const std::string config = ParentFolder(file);
  // Both are looked at before anything is written: a folder made here would show as new.
  const bool folderMayChange = workingCopy_.MayChange(config);
  bool fileMayChange = workingCopy_.MayChange(file);
  if (folderMayChange) {
    if (PathIsMissing(config) && LinkOnTheWay(root, config, true) == 0) CreateInstallationFolder(config);
    workingCopy_.Changed(config);
  }
  int error = 0;
  if (fileMayChange && !RestoreFile(source, file, &error)) {
    WriteLog(0, restoreFailed, file, source, error);
    fileMayChange = false;
  }
  if (fileMayChange) workingCopy_.Changed(file);
  // A failure shows in the check-in of what could not be made.
  bool ok = true;
  if (!folderMayChange || !workingCopy_.ClientMayWorkOn(config) ||
      !CheckinFile(config, messages::kConfigFolderComment, userName)) {
    WriteLog(0, messages::kCheckinFolderFailed, config);
    ok = false;
  }
  if (!fileMayChange || !workingCopy_.ClientMayWorkOn(file) || !CheckinFile(file, comment, userName)) {
    WriteLog(0, messages::kCheckinFileFailed, file, source);
    ok = false;
  }
  return ok;
}

bool CBackup::RestoreSettingsFile(const std::string& source, const std::string& destination) {
  int error = 0;
  if (RestoreFile(source, destination, &error)) return true;
  WriteLog(0, messages::kRestoreFileToFailed, destination, source, error);
  return false;
}

bool CBackup::RestoreSettingsFolder(const std::string& source, const std::string& destination) {
  if (PathIsMissing(source)) return true;
  int error = 0;
  if (RestoreTree(source, destination, &error)) return true;
  WriteLog(0, messages::kRestoreFolderToFailed, destination, source, error);
  return false;
}

bool CBackup::RestoreParameterFiles(const LayoutPaths& paths, const std::string& settings, int settingsError) {
  std::vector<std::string> found;
  int listError = settingsError;
  if (listError == 0) ListFiles(settings, Layout(kParameterFiles).source, found, 0, &listError);
  bool ok = listError == 0;
  if (!ok) WriteLog(0, messages::kRestoreFolderNotListed, settings, listError);
  for (const std::string& path : found) {
    const std::string name = NameAfterLastSeparator(path);
    ok = RestoreSettingsFile(settings + "/" + name, paths.Target(kParameterFiles) + "/" + name) && ok;
  }
  return ok;
}

bool CBackup::RestoreUtilizationFiles(const LayoutPaths& paths, const std::string& settings, int settingsError) {
  if (settingsError != 0) return false;
  const std::string execute = paths.Target(kUtilizationFiles);
  if (const int error = LinkOnTheWay(paths.Base(LayoutBase::kInstall), execute + "/", true); error != 0) {
    WriteLog(0, messages::kRestoreFolderToFailed, execute, settings, error);
    return false;
  }
  if (PathIsMissing(settings)) return true;
  int listError = 0;
  const std::vector<std::string> names = ListUtilizationFiles(settings + "/", &listError);
  bool ok = listError == 0;
  if (!ok) WriteLog(0, messages::kRestoreFolderNotListed, settings + "/", listError);
  for (const std::string& name : names) {
    const std::string source = settings + "/" + name;
    const std::string destination = execute + "/" + name;
    if (const int rc = CopyUtilizationFile(source, destination, "Restore", platform::SourceLink::kRefuse); rc != 0) {
      WriteLog(0, messages::kRestoreFileToFailed, destination, source, rc);
      ok = false;
    }
  }
  return ok;
}

bool CBackup::RestoreSettings(const std::string& root, const std::string& backup, const std::string& userName) {
  WriteLog(1, messages::kRestoreSettingsStart);
  const LayoutPaths paths = Paths(root);
  const std::string settings = backup + "/" + layout::kSettings;
  // A link in place of the backup's Settings folder, or on its way, fails every item read from
  // it; the listing of the parameter files says so.
  const int settingsError = LinkOnTheWay(backup, settings, true);
  const auto file = [&](LayoutItem item) {
    return RestoreSettingsFile(LayoutPaths::InBackup(backup, item), paths.Target(item));
  };
  const auto folder = [&](LayoutItem item) {
    return RestoreSettingsFolder(LayoutPaths::InBackup(backup, item), paths.Target(item));
  };

  bool ok = true;
  for (const LayoutItem item : {kReports, kSettingsFile}) ok = file(item) && ok;
  // Every "BrimoraParams_*.xml" of the backup, then "BrimoraParams.xml".
  ok = RestoreParameterFiles(paths, settings, settingsError) && ok;
  for (const LayoutItem item : {kParameters, kServiceSettings, kScheduledTasks, kUserDefined, kBackupSettings,
                                kGenericFileEditor, kMergeUploadConfig}) {
    ok = file(item) && ok;
  }
  // "units.dat" belongs to the FileStorage working copy, which records it as a new revision.
  const std::string unitsSource = LayoutPaths::InBackup(backup, kUnits);
  if (!RestoreConfigFile(root, unitsSource, kUnits, messages::kRestoreFileToFailed,
                         Format(messages::kUnitsComment, unitsSource), userName)) {
    ok = false;
  }
  for (const LayoutItem item : {kConfigDrv, kReportJobs}) ok = file(item) && ok;
  ok = folder(kUsers) && ok;
  for (const LayoutItem item : {kTestSystems, kTestSystemGroups}) ok = file(item) && ok;
  ok = RestoreUtilizationFiles(paths, settings, settingsError) && ok;
  ok = folder(kWebReports) && ok;

  WriteLog(1, messages::kRestoreSettingsComplete);
  return ok;
}

bool CBackup::RestoreParameterManager(const std::string& root, const std::string& backup,
                                      const std::string& userName) {
  WriteLog(1, messages::kRestoreParameterManagerStart);
  const std::string source = LayoutPaths::InBackup(backup, kNames);
  const bool ok = RestoreConfigFile(root, source, kNames, messages::kRestoreFileFailed,
                                    Format(messages::kNamesComment, source), userName);
  WriteLog(1, messages::kRestoreParameterManagerComplete);
  return ok;
}

bool CBackup::RestoreSecurity(const std::string& root, const std::string& backup) {
  WriteLog(1, messages::kRestoreSecurityStart);
  bool ok = true;
  for (LayoutItem restored : {kUsersData, kUsersXml}) {
    const std::string source = LayoutPaths::InBackup(backup, restored);
    const std::string destination = Paths(root).Target(restored);
    int error = 0;
    if (!RestoreFile(source, destination, &error)) {
      WriteLog(0, messages::kRestoreFileFailed, destination, source, error);
      ok = false;
    }
  }
  WriteLog(1, messages::kRestoreSecurityComplete);
  return ok;
}

bool CBackup::RestorePartsTracker(const std::string& root, const std::string& backup) {
  WriteLog(1, messages::kRestorePartsTrackerStart);
  bool ok = true;
  int error = 0;
  const LayoutPaths paths = Paths(root);
  if (!RestoreTree(LayoutPaths::InBackup(backup, kPartsDatabase), paths.Target(kPartsDatabase), &error)) {
    WriteLog(0, messages::kRestorePartsDatabaseFailed);
    ok = false;
  }

  // The two configuration files; a missing one is a notice in the backup log.
  const auto configurationFile = [&](LayoutItem restored, const char* failedLine) {
    const std::string source = LayoutPaths::InBackup(backup, restored);
    const std::string destination = paths.Target(restored);
    if (LinkOnTheWay(backupPath, source, false) != 0 || LinkOnTheWay(installPath, destination, false) != 0 ||
        !CopyBackupFile(source, destination, false, nullptr, platform::SourceLink::kRefuse)) {
      WriteLog(0, failedLine, destination);
      ok = false;
    }
  };
  configurationFile(kPartDbConfig, messages::kRestorePartsTrackerFileFailed);
  configurationFile(kPartsDbExporterConfig, messages::kRestorePartTrackerFileFailed);

  const std::string changeLogs = LayoutPaths::InBackup(backup, kPartsChangeLogs);
  if (!PathIsMissing(changeLogs) && !RestoreTree(changeLogs, paths.Target(kPartsChangeLogs), &error)) {
    WriteLog(0, messages::kRestorePartsChangeFilesFailed);
    ok = false;
  }
  WriteLog(1, messages::kRestorePartsTrackerComplete);
  return ok;
}

}  // namespace brimora
