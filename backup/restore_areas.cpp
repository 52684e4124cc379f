// The settings, Parameter Manager, security and Parts Tracker areas of the restore.

#include <cerrno>
#include <vector>

#include "backup/backup.h"
#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/file_utils.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/settings_folder.h"
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

bool CBackup::RestoreSettings(const std::string& root, const std::string& backup, const std::string& userName) {
  WriteLog(1, messages::kRestoreSettingsStart);
  bool ok = true;
  const std::string settings = backup + "/" + layout::kSettings;
  const LayoutPaths paths = Paths(root);
  const std::string execute = paths.Target(kParameterFiles);

  const auto file = [&](const std::string& source, const std::string& destination) {
    int error = 0;
    if (RestoreFile(source, destination, &error)) return;
    WriteLog(0, messages::kRestoreFileToFailed, destination, source, error);
    ok = false;
  };
  const auto item = [&](LayoutItem restored) { file(LayoutPaths::InBackup(backup, restored), paths.Target(restored)); };
  const auto folder = [&](const std::string& source, const std::string& destination) {
    int error = 0;
    if (RestoreTree(source, destination, &error)) return;
    WriteLog(0, messages::kRestoreFolderToFailed, destination, source, error);
    ok = false;
  };

  item(kReports);
  item(kSettingsFile);

  // Every "BrimoraParams_*.xml" of the backup, then "BrimoraParams.xml", each into Execute.
  std::vector<std::string> parameterFiles;
  int listError = LinkOnTheWay(backup, settings, true);
  if (listError == 0) ListFiles(settings, Layout(kParameterFiles).source, parameterFiles, 0, &listError);
  if (listError != 0 && listError != ENOENT) {
    WriteLog(0, messages::kRestoreFolderNotListed, settings, listError);
    ok = false;
  }
  parameterFiles.push_back(LayoutPaths::InBackup(backup, kParameters));
  for (const std::string& path : parameterFiles) {
    const std::string name = NameAfterLastSeparator(path);
    file(settings + "/" + name, execute + "/" + name);
  }

  for (LayoutItem restored : {kServiceSettings, kScheduledTasks, kUserDefined, kBackupSettings}) item(restored);
  item(kGenericFileEditor);
  item(kMergeUploadConfig);

  // "units.dat" belongs to the FileStorage working copy, which records it as a new revision.
  const std::string unitsSource = LayoutPaths::InBackup(backup, kUnits);
  if (!RestoreConfigFile(root, unitsSource, kUnits, messages::kRestoreFileToFailed,
                         Format(messages::kUnitsComment, unitsSource), userName)) {
    ok = false;
  }

  item(kConfigDrv);
  item(kReportJobs);
  const std::string users = LayoutPaths::InBackup(backup, kUsers);
  if (!PathIsMissing(users)) folder(users, paths.Target(kUsers));
  item(kTestSystems);
  item(kTestSystemGroups);

  if (const int error = LinkOnTheWay(backup, settings, true); error != 0) {
    WriteLog(0, messages::kRestoreFolderNotListed, settings, error);
    ok = false;
  } else if (const int error = LinkOnTheWay(root, execute + "/", true); error != 0) {
    WriteLog(0, messages::kRestoreFolderToFailed, execute, settings, error);
    ok = false;
  } else if (!PathIsMissing(settings) &&
             !CopyUtilizationFiles(settings + "/", execute + "/", "Restore", nullptr, platform::SourceLink::kRefuse)) {
    ok = false;
  }

  const std::string webReports = LayoutPaths::InBackup(backup, kWebReports);
  if (!PathIsMissing(webReports)) folder(webReports, paths.Target(kWebReports));

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
