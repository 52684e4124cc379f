#pragma once
// A small installation with every source of the backup layout, in a temporary folder of its own,
// and the helpers that run the built tool on it and read what it wrote.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "common/format.h"
#include "support/test_support.h"

namespace brimora::test {

// Every entry below `folder` with its contents ("/" for folders, the target for links, "|" for
// sockets, FIFOs and devices).
std::map<std::string, std::string> Snapshot(const std::string& folder);

// Checks that one entry of the layout was saved whole from its source: the contents of a file,
// every entry of a folder (merged folders may hold more).
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
  std::string Backup() const { return root_ / "backup"; }

  // Writes the installation. extraSettings goes into the settings file; without a
  // RevisionControlURL in it, the repository is "<install>/SubversionRepository".
  void MakeInstallation(const std::string& extraSettings = "", bool ssl = true);
  // Replaces the stand-ins of MakeInstallation by a real repository at "<install>/SubversionRepository"
  // and its working copy at "<install>/Repository/FileStorage" with doc.txt and Config/ committed.
  void MakeWorkingCopy();
  // Generates the sample installation (scripts/make_sample_installation.py) in `site` below the
  // temporary folder, or in the temporary folder itself: small, and with no name the client
  // cannot show in the working copy, unless `options` say otherwise.
  void MakeSampleInstallation(const std::string& site = "", const std::vector<std::string>& options = {});

  // Run a backup into Backup() (or `backup`), or a restore from it, from the Execute folder.
  ToolResult RunBackup(const std::vector<std::string>& extra = {}, bool unprivileged = false);
  ToolResult RunBackupInto(const std::string& backup, const std::vector<std::string>& extra = {});
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
