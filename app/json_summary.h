#pragma once
// The summary of a run for a monitoring system (--json): one JSON document on standard output
// when the run ends, whatever its mode or outcome. Meanwhile standard output is kept for it (the
// texts that would go there go to standard error) and every error line of the run is kept.
//
// Used from the main thread only.

#include <string>
#include <vector>

#include "app/command_line.h"

namespace brimora {

class CBackup;
struct VerifyCounts;

class CRunSummary {
 public:
  // Starts the summary of the run the command line asks for: notes the start time and the mode,
  // keeps the error lines and standard output from now on.
  void Begin(const CBrimoraCommandLineInfo& commandLine);

  // Backup and restore: Before notes whether the backup folder held a run already (a backup then
  // refuses it, and the record found there is not this run's); After takes the backup's
  // completion record from the folder, or the restore's areas.
  void BeforeRun(const CBackup& backup);
  void AfterRun(const CBackup& backup, bool restore);
  void SetVerifyCounts(const std::string& backupFolder, const VerifyCounts& counts);
  void SetSettingsFileAnswer(const std::string& installPath, const std::string& settingsFile,
                             const std::string& answerFile);

  // Writes the document on standard output.
  void Print(int exitCode) const;

 private:
  std::string mode_;
  std::string started_;
  bool heldRun_ = false;
  std::string record_ = "null";  // the record's JSON text
};

}  // namespace brimora
