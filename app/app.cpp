#include "app/app.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "backup/configuration.h"
#include "common/progress.h"
#include "common/settings_folder.h"
#include "backup/backup.h"
#include "backup/backup_record.h"
#include "backup/backup_root.h"
#include "backup/backup_verify.h"
#include "backup/root_messages.h"
#include "common/file_utils.h"
#include "common/trace_log.h"
#include "common/write_lines.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/run_lock.h"
#include "platform/signals.h"
#include "platform/terminal.h"

namespace brimora {
namespace {

constexpr const char* kApplicationName = "BrimoraUpgrade";

constexpr const char* kUsageLines[] = {
    "BrimoraUpgrade [/h | /?] [/includedb] [/restore] [/installpath <path>] [/backuppath <path>]\n",
    "/h | /?:      Switch to display this help message without any other actions\n",
    "/includedb:   Switch to include the database in the backup or restore\n",
    "/restore:     Switch to restore from the <path>\n",
    "              Without this switch this command backs up to the backup path\n",
    "/installpath: <path> of the root Brimora directory (e.g., C:\\QXR\\Brimora)\n",
    "/backuppath:  <path> on where to place the backup files\n",
    "--verify:     Check that the backup at the backup path is complete and intact (no install path needed)\n",
    "--force:      Restore a backup whose run did not finish, or areas that failed when it was made\n",
    "--json:       Print a JSON summary of the run on standard output when it ends\n",
    "--progress:   Show the progress line even when standard error is not a terminal\n",
    "--quiet:      Show no progress line\n",
    "--backuproot: <folder> in which each backup gets a new dated folder (instead of /backuppath)\n",
    "--linkdest:   <path> of an earlier complete backup whose unchanged files are taken, not copied\n",
    "--full:       Copy every file; take none from an earlier backup\n",
    "--keep:       <count> of complete backups that stay in the backup root; older ones are deleted\n",
};

constexpr const char* kBackupFailed = "Error backing up to the backup path: %s\n";
constexpr const char* kRestoreFailed = "Error restoring from the backup path: %s\n";
constexpr const char* kAnswerNotWritten = "Unable to write the settings file path to %s: %s\n";
constexpr int kRunLockWaitMilliseconds = 10000;
constexpr const char* kInstallationBusy =
    "Another backup or restore of %s is running (process %ld); this one did not start.\n";
constexpr const char* kNoRunLock = "Unable to take the run lock of %s in %s: %s\n";
constexpr const char* kStopped = "The run was stopped by %s before it finished.\n";
constexpr const char* kNoExecuteFolder =
    "Unable to change to the folder %s: %s. Relative paths are taken from %s.\n";

// A restore or verify reads its backup under a shared lock, so retention never deletes it
// meanwhile. It waits while another run writes or deletes the folder; a folder that cannot be
// opened is left to the run, which reports it.
bool LockForReading(const std::string& folder, platform::FolderLock* lock) {
  if (lock->Take(folder, true, true, kRunLockWaitMilliseconds) != EWOULDBLOCK) return true;
  WriteLog(0, messages::kBackupBeingChanged, folder);
  return false;
}

}  // namespace

void CBrimoraUpgradeApp::InitInstance(const std::vector<std::string>& arguments) {
  // The previous run's errors file is moved aside only once this run knows it is the only one
  // on its installation, so a run that must wait never disturbs the running one's logs.
  InitTraceLog(kApplicationName, true, {}, false);
  SetLogLevel(1);

  commandLine_.ParseArguments(arguments);
  if (commandLine_.json) summary_.Begin(commandLine_);
  RunMode();
  if (commandLine_.json) summary_.Print(exitCode_);
}

void CBrimoraUpgradeApp::RunMode() {
  const bool locksInstallation = commandLine_.Accepted() && !commandLine_.help && !commandLine_.verify &&
                                 !commandLine_.getsettingsfilepath;
  if (!locksInstallation) OpenTraceErrorsFile();

  if (commandLine_.help) {
    ShowUsage();
    exitCode_ = kSuccess;
    return;
  }
  if (!commandLine_.Accepted()) {
    ShowUsage();
    exitCode_ = kRejected;
    return;
  }
  if (commandLine_.verify) {
    VerifyCounts counts;
    const std::string backupPath = platform::AbsolutePath(commandLine_.backupPath);
    platform::FolderLock reading;
    exitCode_ = LockForReading(backupPath, &reading) && VerifyBackup(backupPath, &counts) ? kSuccess : kFailed;
    summary_.SetVerifyCounts(backupPath, counts);
  } else if (commandLine_.getsettingsfilepath) {
    RunSettingsFilePathQuery();
  } else {
    RunBackupOrRestore();
  }
}

void CBrimoraUpgradeApp::ShowUsage() {
  for (const char* line : kUsageLines) {
    WriteLog(1, line);
    WriteReportOutput(line);
  }
}

void CBrimoraUpgradeApp::RunSettingsFilePathQuery() {
  const std::string path = GetSettingsFilePath(commandLine_.installPath, commandLine_.check);
  summary_.SetSettingsFileAnswer(commandLine_.installPath, path, commandLine_.settingsFilePath);
  int error = 0;
  if (!WriteLinesToFile(commandLine_.settingsFilePath, {path}, false, false, &error)) {
    WriteLog(0, kAnswerNotWritten, commandLine_.settingsFilePath, platform::ErrorText(error));
    exitCode_ = kFailed;
    return;
  }
  exitCode_ = kSuccess;
}

void CBrimoraUpgradeApp::RunBackupOrRestore() {
  const char* failure = commandLine_.restore ? kRestoreFailed : kBackupFailed;

  // The run changes into the Execute folder below; relative paths given on the command line
  // mean the folder the tool was started from, so they are fixed before the change.
  commandLine_.installPath = platform::AbsolutePath(commandLine_.installPath);
  commandLine_.backupPath = platform::AbsolutePath(commandLine_.backupPath);
  for (std::string* path : {&commandLine_.backupRoot, &commandLine_.linkDest}) {
    if (!path->empty()) *path = platform::AbsolutePath(*path);
  }
  const std::string& root = commandLine_.backupRoot;
  // What the failure lines name until the run has its own folder.
  const std::string target = root.empty() ? commandLine_.backupPath : root;

  // One run at a time on an installation; an installation folder that is not there has nothing
  // to protect, and the run reports it as it goes.
  platform::RunLock lock;
  platform::FileInfo install;
  if (platform::GetFileInfo(commandLine_.installPath, true, &install) == 0) {
    long holder = 0;
    if (const int error = lock.Take(commandLine_.installPath, kRunLockWaitMilliseconds, &holder); error != 0) {
      if (error == EWOULDBLOCK) {
        WriteLog(0, kInstallationBusy, commandLine_.installPath, holder);
      } else {
        WriteLog(0, kNoRunLock, commandLine_.installPath, platform::RunLock::Folder(), platform::ErrorText(error));
      }
      WriteLog(0, failure, target);
      exitCode_ = kFailed;
      return;
    }
  }
  OpenTraceErrorsFile();

  // The runs work in the Execute folder. Every path of the installation they use is formed
  // from the install path, so a failed change cannot make them take another folder for the
  // installation's; it is reported, the run goes on, and the run counts as failed.
  const std::string executeFolder = commandLine_.installPath + "/Execute";
  bool inExecute = true;
  if (const int error = platform::SetCurrentFolder(executeFolder); error != 0) {
    std::string current;
    platform::GetCurrentFolder(&current);
    WriteLog(0, kNoExecuteFolder, executeFolder, platform::ErrorText(error), current);
    inExecute = false;
  }

  // The run's own folder is locked from before its first record to the end, so retention of
  // another run never deletes it while it is written.
  platform::FolderLock ownFolder;
  if (!root.empty()) {
    commandLine_.backupPath = MakeDatedFolder(root, &ownFolder);
    if (commandLine_.backupPath.empty()) {
      WriteLog(0, failure, root);
      exitCode_ = kFailed;
      return;
    }
  }

  // A dated folder that the run left without a record holds nothing and would only be named by
  // every later retention: it goes (rmdir, which removes only an empty folder).
  const auto dropEmptyFolder = [&] {
    if (!root.empty() && !HoldsRecord(commandLine_.backupPath)) platform::RemoveFolder(commandLine_.backupPath);
  };
  std::unique_ptr<CBackup> backup =
      LoadConfiguration(commandLine_.installPath, commandLine_.backupPath);
  if (!backup) {
    dropEmptyFolder();
    WriteLog(0, failure, commandLine_.backupPath);
    exitCode_ = kFailed;
    return;
  }
  const BackupOwner owner{backup->installPath, platform::HostName()};

  summary_.BeforeRun(*backup);
  const bool progressLine = !commandLine_.quiet && (commandLine_.progress || platform::StandardErrorIsTerminal());
  CountCopiedBytes(progressLine || commandLine_.json);
  if (progressLine) StartProgressLine(commandLine_.restore ? "Restore" : "Backup");
  bool succeeded = false;
  if (commandLine_.restore) {
    std::string userName = "N/A";
    if (std::string name; platform::ProcessUserName(name)) userName = name;
    platform::FolderLock reading;
    if (LockForReading(commandLine_.backupPath, &reading)) {
      succeeded = backup->RestoreFromBackup(commandLine_.includedb, userName, commandLine_.force);
    }
  } else if (TakeBackupFolder(&ownFolder)) {
    // The reference stays locked while the run reads it; retention below may delete it.
    platform::FolderLock reference;
    if (!commandLine_.linkDest.empty()) {
      if (TakeGivenReference(commandLine_.linkDest, owner, commandLine_.backupPath, &reference)) {
        backup->referenceFolder = commandLine_.linkDest;
      }
    } else if (!root.empty() && !commandLine_.full) {
      backup->referenceFolder = FindReference(root, owner, commandLine_.backupPath, &reference);
    }
    succeeded = backup->BackupForUpdate(commandLine_.includedb);
  }
  StopProgressLine();
  summary_.AfterRun(*backup, commandLine_.restore);
  backup.reset();
  dropEmptyFolder();

  const int signal = platform::StopSignal();
  if (signal != 0) {
    WriteLog(0, kStopped, platform::SignalName(signal));
    succeeded = false;
  }
  if (!succeeded || !inExecute) {
    WriteLog(0, failure, commandLine_.backupPath);
    exitCode_ = kFailed;
  }
  // Retention follows every run that reached its end, whatever it answered: it deletes only
  // beyond the complete backups it keeps. A deletion that fails fails the run, whose own backup
  // is as it answered.
  if (!commandLine_.restore && !root.empty() && commandLine_.keepGiven && signal == 0 &&
      !KeepNewestBackups(root, commandLine_.KeepCount(), owner, commandLine_.backupPath)) {
    exitCode_ = kFailed;
  }
}

bool CBrimoraUpgradeApp::TakeBackupFolder(platform::FolderLock* lock) {
  if (lock->Holds()) return true;
  // The backup would make a missing folder itself; made here, it is locked before the run's
  // first record. A folder that cannot be made or opened is left to the run, which reports it.
  if (PathIsMissing(commandLine_.backupPath)) platform::CreateFolder(commandLine_.backupPath);
  if (lock->Take(commandLine_.backupPath, true, false, 0) != EWOULDBLOCK) return true;
  WriteLog(0, messages::kBackupFolderInUse, commandLine_.backupPath);
  return false;
}

}  // namespace brimora
