// Backups of installations that try to trip the tool: a backup folder inside what it copies or
// equal to it under another spelling, links where named files stand, a repository URL ending
// in "..", a missing Execute folder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "backup/backup_messages.h"
#include "common/format.h"
#include "common/tree_walk.h"
#include "e2e/installation.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using test::BackupTest;
using test::ReadFile;
using test::Snapshot;
using test::WriteFile;
using Entries = std::map<std::string, std::string>;

// The snapshot without the entries below `prefix` (and without the logs this run keeps writing).
Entries Without(Entries entries, const std::string& prefix) {
  std::erase_if(entries, [&](const auto& entry) {
    const std::string& name = entry.first;
    return name == prefix || name.rfind(prefix + "/", 0) == 0 || name.find("BackupLog") != std::string::npos ||
           name.find("BrimoraUpgrade") != std::string::npos;
  });
  return entries;
}

// Each folder that the backup copies as a tree, with the entry its copy lands in.
struct CopiedFolder {
  const char* source;  // below the root
  const char* entry;   // below the backup folder
};
constexpr CopiedFolder kCopiedFolders[] = {
    {"Brimora/Repository", "Repository"},
    {"Brimora/Logs", "Logs"},
    {"Brimora/Users", "Settings/Users"},
    {"Brimora/partsdb", "PartsTracker/partsdb"},
    {"Brimora/Execute/WebReports", "Settings/Execute/WebReports"},
    {"Brimora/Execute/www/images/ParameterManager", "PMP Images"},
    {"Brimora/Execute/partsdb-changelogs", "PartsTracker/partsdb-changelogs"},
    {"Brimora/SubversionRepository", "SubversionRepository"},
};

// A backup folder inside a folder that the backup copies, reached directly, through "..",
// with an install path that ends in "/", and through a link: the copy leaves the backup folder
// out, says so, and copies everything else exactly once.
TEST(BackupIntoItsOwnSource, LeavesTheBackupFolderOutOfEveryArea) {
  enum class Spelling { kDirect, kDotDot, kTrailingSlash, kLink };
  for (const CopiedFolder& copied : kCopiedFolders) {
    for (const Spelling spelling : {Spelling::kDirect, Spelling::kDotDot, Spelling::kTrailingSlash, Spelling::kLink}) {
      test::TestInstallation installation;
      installation.MakeInstallation();
      const std::string source = installation.Root() + "/" + copied.source;
      fs::create_directories(source + "/sub");
      std::string backup = source + "/bk";
      std::string install = installation.Install();
      if (spelling == Spelling::kDotDot) backup = source + "/sub/../bk";
      if (spelling == Spelling::kTrailingSlash) install += "/";
      if (spelling == Spelling::kLink) {
        fs::create_directories(source + "/bk");
        backup = installation.Root() + "/link-to-bk";
        fs::create_directory_symlink(source + "/bk", backup);
      }
      SCOPED_TRACE(std::string(copied.source) + " as " + backup + " (install " + install + ")");
      const test::ToolResult result =
          test::RunTool(installation.Execute(), {"--installpath", install, "--backuppath", backup});
      ASSERT_EQ(result.exitCode, 0) << result.output << installation.BackupLog();
      // Merged areas hold more than this source; every entry of the source is there once.
      const Entries copy = Snapshot(source + "/bk/" + copied.entry);
      for (const auto& [name, contents] : Without(Snapshot(source), "bk")) {
        const auto found = copy.find(name);
        EXPECT_TRUE(found != copy.end() && found->second == contents) << name;
      }
      EXPECT_THAT(installation.TraceLog(), HasSubstr("/bk\" is a folder this copy writes into; it is left out of the copy.\n"));
      EXPECT_FALSE(fs::exists(source + "/bk/" + copied.entry + "/bk")) << "copied into itself";
    }
  }
}

// A backup folder that is the installation, or a folder the backup copies, under any
// spelling: refused with the cancel line before anything is written.
TEST_F(BackupTest, BackupFolderThatIsTheInstallationOrACopiedFolderIsRefused) {
  MakeInstallation();
  fs::create_directory_symlink(Install(), root_ / "link-to-install");
  const Entries before = Without(Snapshot(Install()), "Logs");
  const std::pair<std::string, std::string> cases[] = {
      {Install() + "/.", Install()},
      {root_ / "link-to-install", Install()},
      {Install() + "/Repository/..", Install()},
      {Install() + "/Users/", Install() + "/Users"},
      {Execute() + "/WebReports/../WebReports", Execute() + "/WebReports"},
      {Install() + "/SubversionRepository/db/..", Install() + "/SubversionRepository"},
  };
  for (const auto& [backup, named] : cases) {
    SCOPED_TRACE(backup);
    const test::ToolResult result = RunBackupInto(backup);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_THAT(BackupLog(), HasSubstr(Format(messages::kBackupFolderIsASource, backup, named)));
    EXPECT_EQ(Without(Snapshot(Install()), "Logs"), before) << "something was written into the installation";
  }
}

TEST_F(BackupTest, RepositoryUrlEndingInDotDotIsCopiedUnderTheFoldersRealName) {
  MakeInstallation("  <RevisionControlURL>file://" + Install() + "/SubversionRepository/db/..</RevisionControlURL>\n");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_EQ(Snapshot(Backup() + "/SubversionRepository"), Snapshot(Install() + "/SubversionRepository"));
  EXPECT_FALSE(fs::exists(root_ / "SubversionRepository")) << "copied beside the backup folder";
}

// Without an Execute folder the run cannot work where it should: it says so and fails, and
// the logs it saves are still the installation's, not those beside the folder it started in.
TEST_F(BackupTest, MissingExecuteFolderFailsTheRunAndKeepsTheInstallationsLogs) {
  MakeInstallation();
  fs::remove_all(Execute());
  fs::create_directories(root_ / "start");
  WriteFile(root_ / "Logs/stray.log", "not the installation's");
  const test::ToolResult result =
      test::RunTool(root_ / "start", {"--installpath", Install(), "--backuppath", Backup()});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.output, HasSubstr("Unable to change to the folder " + Execute()));
  EXPECT_EQ(ReadFile(Backup() + "/Logs/old.log"), "contents of Logs/old.log");
  EXPECT_FALSE(fs::exists(Backup() + "/Logs/stray.log"));
  EXPECT_THAT(ReadFile(root_ / "Logs/BrimoraUpgradeErrors.txt"),
              HasSubstr("Error backing up to the backup path: " + Backup() + "\n"));
}

// Certificate tools lay files out as links into an archive folder: the backup holds the
// certificate itself. Inside trees, links stay links.
TEST_F(BackupTest, NamedFilesThatAreLinksAreSavedWithTheirContent) {
  MakeInstallation();
  WriteFile(Execute() + "/ssl/archive/cert1.pem", "the certificate");
  fs::remove(Execute() + "/ssl/server.crt");
  fs::create_symlink("archive/cert1.pem", Execute() + "/ssl/server.crt");
  fs::remove(Execute() + "/units.dat");
  fs::create_symlink(Execute() + "/reports.xml", Execute() + "/units.dat");
  fs::create_symlink("f.txt", Install() + "/Users/u1/alias.txt");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_FALSE(fs::is_symlink(Backup() + "/Settings/server.crt"));
  EXPECT_EQ(ReadFile(Backup() + "/Settings/server.crt"), "the certificate");
  EXPECT_EQ(ReadFile(Backup() + "/Settings/units.dat"), "contents of reports.xml");
  EXPECT_EQ(fs::read_symlink(Backup() + "/Settings/Users/u1/alias.txt"), "f.txt");
}

// The generated installation with its real working copy, backed up into a folder inside its
// FileStorage, reached directly, through ".." and through a link: each run ends, and its copy
// holds the FileStorage once.
TEST_F(BackupTest, SampleInstallationBackedUpIntoItselfEndsWithOneCopy) {
  const std::string sample = root_ / "sample";
  const std::string command = "python3 " + std::string(BRIMORA_SOURCE_DIR) +
                              "/scripts/make_sample_installation.py " + sample + " --documents 20 --total-bytes 200000";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string install = sample + "/Brimora";
  const std::string storage = install + "/Repository/FileStorage";
  fs::create_directory_symlink(storage + "/bk", root_ / "bk");
  for (const std::string& backup : {storage + "/bk", storage + "/Config/../bk", root_ / "bk"}) {
    SCOPED_TRACE(backup);
    fs::create_directories(storage + "/bk");
    const test::ToolResult result = test::RunTool(install + "/Execute", {"--installpath", install, "--backuppath", backup});
    ASSERT_EQ(result.exitCode, 0) << result.output << ReadFile(install + "/Logs/BackupLog.log");
    const std::string copy = storage + "/bk/Repository";
    EXPECT_EQ(Without(Snapshot(copy), "FileStorage/bk"), Without(Snapshot(install + "/Repository"), "FileStorage/bk"));
    EXPECT_FALSE(fs::exists(copy + "/FileStorage/bk"));
    fs::remove_all(storage + "/bk");
  }
}

// A name with line breaks is still one line of the log, and a log file replaced by a link is
// never written through.
TEST_F(BackupTest, NamesCannotForgeLogLinesAndLogLinksAreNotFollowed) {
  MakeInstallation();
  const std::string name = "x\nssh-ed25519 AAAA attacker\n";
  ASSERT_EQ(mkfifo((Install() + "/Repository/FileStorage/" + name).c_str(), 0600), 0);
  WriteFile(root_ / "victim", "untouched");
  fs::create_directories(Install() + "/Logs");
  fs::create_symlink(root_ / "victim", Install() + "/Logs/BackupLog.log");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(ReadFile(root_ / "victim"), "untouched");
  const std::string trace = TraceLog();
  EXPECT_THAT(trace, HasSubstr("/FileStorage/x\\nssh-ed25519 AAAA attacker\\n\" is a socket, FIFO or device"));
  for (const std::string& line : test::ReadLines(Install() + "/Logs/BrimoraUpgradeLog.txt")) {
    EXPECT_THAT(line, ::testing::ContainsRegex("^(\\*\\* |[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} )")) << line;
  }
  EXPECT_FALSE(fs::exists(Backup() + "/Repository/FileStorage/" + name));
}

}  // namespace
}  // namespace brimora
