#pragma once
// A small installation with every source of the backup layout, in a temporary folder of its own,
// and the helpers that run the built tool on it and read what it wrote.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_layout.h"
#include "common/format.h"
#include "support/test_support.h"

namespace brimora::test {

// Every entry below `folder` with its contents ("/" for folders, the target for links).
std::map<std::string, std::string> Snapshot(const std::string& folder);

// Modification time in nanoseconds, -1 when the path cannot be examined.
std::int64_t ModificationTime(const std::string& path);

// Checks that one entry of the layout was saved whole from its source: contents (and times of
// single files); for folders every entry of the source, so merged folders may hold more.
void ExpectSaved(const CBackup& backup, const std::string& backupFolder, const LayoutEntry& entry);

class TestInstallation {
 public:
  const std::string& Root() const { return root_.Path(); }
  // The folder that holds the installation and its settings folder: the temporary folder, or
  // the folder a sample installation was generated in.
  std::string Site() const { return site_.empty() ? root_.Path() : root_ / site_; }
  std::string Install() const { return Site() + "/Brimora"; }
  std::string Execute() const { return Install() + "/Execute"; }
  std::string Settings() const { return Site() + "/LornithData/Settings"; }
  // The same folder as the tool names it: beside the installation, as config.ini says.
  std::string SettingsAsNamed() const { return Install() + "/../LornithData/Settings"; }
  std::string Backup() const { return root_ / "backup"; }

  // Writes the installation. extraSettings goes into the settings file; without a
  // RevisionControlURL in it, the repository is "<install>/SubversionRepository".
  void MakeInstallation(const std::string& extraSettings = "", bool ssl = true);
  // Replaces the stand-in working copy and repository of MakeInstallation by real ones: the
  // repository at "<install>/SubversionRepository", its working copy at
  // "<install>/Repository/FileStorage" holding doc.txt and Config/units.dat, committed.
  void MakeWorkingCopy();
  // Generates the sample installation (a real Subversion repository and its working copy, see
  // scripts/make_sample_installation.py) in `site` below the temporary folder, or in the
  // temporary folder itself when `site` is empty: small, and with no name the client cannot
  // show in the working copy, unless `options` say otherwise.
  void MakeSampleInstallation(const std::string& site = "", const std::vector<std::string>& options = {});

  // Runs a backup of the installation into Backup() (or `backup`) from the Execute folder.
  ToolResult RunBackup(const std::vector<std::string>& extra = {}, bool unprivileged = false);
  ToolResult RunBackupInto(const std::string& backup, const std::vector<std::string>& extra = {});
  // Runs a restore of the installation from Backup() (or `backup`) from the Execute folder.
  ToolResult RunRestore(const std::vector<std::string>& extra = {});
  ToolResult RunRestoreFrom(const std::string& backup, const std::vector<std::string>& extra = {});

  std::string BackupLog() const { return ReadFile(Install() + "/Logs/BackupLog.log"); }
  std::string TraceLog() const { return ReadFile(Install() + "/Logs/BrimoraUpgradeLog.txt"); }
  // The messages of the backup log, without their time stamps, each with its line end.
  std::vector<std::string> BackupLogMessages() const;
  // The trace log's lines from byte `from` on as "<level> - <message>\n", without time stamps
  // and start-up headers; TraceLog().size() before a run marks where its lines begin.
  std::vector<std::string> TraceMessages(std::size_t from = 0) const;
  // The messages of the last run's errors file, each with its line end.
  std::vector<std::string> ErrorMessages() const;
  // A message of the backup log whose only "%s" is the backup folder.
  std::string Line(const char* format) const { return Format(format, Backup()); }

 protected:
  TempFolder root_;
  std::string site_;
};

class BackupTest : public ::testing::Test, public TestInstallation {};

}  // namespace brimora::test
