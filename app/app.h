#pragma once
// The application object: starts the trace log, parses the switches, runs one mode and keeps
// the exit code (0 success or help, 1 arguments rejected, 2 failure).

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/json_summary.h"
#include "platform/file_lock.h"

namespace brimora {

class CBrimoraUpgradeApp {
 public:
  enum ExitCode { kSuccess = 0, kRejected = 1, kFailed = 2 };

  // Runs everything for the given arguments (argv without the program name). The trace log
  // must not have been started yet; it stays started for the caller to shut down.
  void InitInstance(const std::vector<std::string>& arguments);

  // The exit code the run left behind.
  int ExitInstance() const { return exitCode_; }

  const CBrimoraCommandLineInfo& CommandLine() const { return commandLine_; }

 private:
  void RunMode();
  void ShowUsage();
  void RunSettingsFilePathQuery();
  void RunBackupOrRestore();
  // Locks the backup folder of a backup run exclusively unless *lock already holds it; false
  // after its line when another run holds it.
  bool TakeBackupFolder(platform::FolderLock* lock);

  CBrimoraCommandLineInfo commandLine_;
  CRunSummary summary_;
  int exitCode_ = kSuccess;
};

}  // namespace brimora
