// Backups of whole installations by the built tool, judged by the backup folder and the logs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_layout.h"
#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using test::ReadFile;
using test::WriteFile;

using test::BackupTest;
using test::ModificationTime;
using test::Snapshot;

TEST_F(BackupTest, EveryEntryLandsWhereTheLayoutSays) {
  MakeInstallation();
  const std::int64_t unitsTime = ModificationTime(Execute() + "/units.dat");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();

  // Every entry of the layout holds its source, and the backup holds nothing else.
  const std::unique_ptr<CBackup> backup = LoadConfiguration(Install(), Backup());
  ASSERT_NE(backup, nullptr);
  std::set<std::string> areas;
  for (const LayoutEntry& entry : BackupLayout()) {
    test::ExpectSaved(*backup, Backup(), entry);
    const std::string path = fs::relative(backup->EntryPath(Backup(), entry), Backup()).string();
    areas.insert(path.substr(0, path.find('/')));
  }
  std::set<std::string> present;
  for (const auto& item : fs::directory_iterator(Backup())) present.insert(item.path().filename().string());
  EXPECT_EQ(present, areas);
  EXPECT_EQ(ModificationTime(Backup() + "/Settings/units.dat"), unitsTime);
  EXPECT_FALSE(fs::exists(Backup() + "/Settings/other.exe"));
  EXPECT_EQ(Snapshot(Backup() + "/Repository"), Snapshot(Install() + "/Repository"));

  // Each step's start and completion lines, in the order of the run.
  const std::vector<std::string> expected = {
      Line(messages::kConfigurationStart), Line(messages::kConfigurationComplete),
      Line(messages::kParameterManagerStart), Line(messages::kParameterManagerComplete),
      Line(messages::kImagesStart), Line(messages::kImagesComplete),
      Line(messages::kSecurityStart), Line(messages::kSecurityComplete),
      Line(messages::kPartsTrackerStart), Line(messages::kPartsTrackerComplete),
      Line(messages::kFileStorageStart), Line(messages::kFileStorageComplete),
      Line(messages::kSubversionStart), Line(messages::kSubversionComplete),
      Line(messages::kLogFilesStart), Line(messages::kLogFilesComplete)};
  EXPECT_THAT(BackupLogMessages(), ElementsAreArray(expected));
  EXPECT_EQ(BackupLog().rfind("\xEF\xBB\xBF", 0), 0u) << "a new backup log starts with a byte-order mark";
}

TEST_F(BackupTest, MissingOptionalSourcesAreSkippedWithoutFailure) {
  // Without a repository URL the repository is looked for right beside the install path.
  MakeInstallation("<RevisionControlURL/>", /*ssl=*/false);
  fs::remove(Execute() + "/units.dat");
  fs::remove(Execute() + "/BrimoraParams.xml");
  fs::remove_all(Install() + "/Users");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  const std::string log = BackupLog();
  EXPECT_THAT(log, HasSubstr("\tBackup " + Backup() + " - Source file \"" + Execute() +
                             "/units.dat\" does not exist. Skipping...\n"));
  EXPECT_THAT(log, HasSubstr("Source file \"" + Execute() + "/BrimoraParams.xml\" does not exist. Skipping...\n"));
  EXPECT_THAT(log, HasSubstr("Source folder \"" + Install() + "SubversionRepository\" does not exist. Skipping...\n"));
  // No secure transport configured: the two empty names are skipped, not failed.
  std::size_t emptyNames = 0;
  for (std::size_t at = log.find("Source file \"\" does not exist"); at != std::string::npos;
       at = log.find("Source file \"\" does not exist", at + 1)) {
    ++emptyNames;
  }
  EXPECT_EQ(emptyNames, 2u);
  EXPECT_THAT(log, Not(HasSubstr("ERROR")));
}

TEST_F(BackupTest, SecondBackupIntoTheSameFolderFails) {
  MakeInstallation();
  ASSERT_EQ(RunBackup().exitCode, 0);
  const test::ToolResult second = RunBackup();
  EXPECT_EQ(second.exitCode, 2);
  const std::string log = BackupLog();
  EXPECT_THAT(log, HasSubstr(Format(messages::kConfigurationFolderNotCreated, Backup(), Backup() + "/Settings")));
  EXPECT_THAT(log, HasSubstr(Format(messages::kSecurityFolderNotCreated, Backup(), Backup() + "/Security")));
  EXPECT_THAT(log, HasSubstr(Format(messages::kLogFolderNotCreated, Backup(), Backup() + "/Logs")));
  EXPECT_THAT(ReadFile(Install() + "/Logs/BrimoraUpgradeErrors.txt"),
              HasSubstr("Error backing up to the backup path: " + Backup() + "\n"));
  // Nothing of the first backup was replaced: the FileStorage went beside it under a new name.
  EXPECT_EQ(ReadFile(Backup() + "/Repository/FileStorage/doc.txt"), "contents of Repository/FileStorage/doc.txt");
  EXPECT_TRUE(fs::exists(Backup() + "/Repository/FileStorage/Copy of doc.txt"));
}

TEST_F(BackupTest, BackupFolderWhoseParentIsMissingCancelsTheRun) {
  MakeInstallation();
  const std::string backup = root_ / "missing/backup";
  const test::ToolResult result =
      test::RunTool(Execute(), {"/installpath", Install(), "/backuppath", backup});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(BackupLogMessages(), ElementsAreArray({Format(messages::kBackupFolderNotCreated, backup)}));
  EXPECT_FALSE(fs::exists(root_ / "missing"));
}

TEST_F(BackupTest, RelativePathsMeanTheFolderTheToolWasStartedFrom) {
  MakeInstallation();
  fs::create_directories(root_ / "start");  // its ../Logs, the trace log's folder, is in root_
  const test::ToolResult result =
      test::RunTool(root_ / "start", {"--installpath", "../Brimora", "--backuppath", "../backup"});
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_TRUE(fs::exists(Backup() + "/Repository/FileStorage/doc.txt"));
  EXPECT_TRUE(fs::exists(Backup() + "/Settings/units.dat"));
  EXPECT_THAT(BackupLog(), Not(HasSubstr("does not exist")));
}

TEST_F(BackupTest, RepositoryFolderComesFromTheRevisionControlUrl) {
  MakeInstallation("  <RevisionControlURL>file://" + root_.Path() + "/Repo%20dir</RevisionControlURL>\n");
  WriteFile(root_ / "Repo dir/format", "5\n");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_EQ(ReadFile(Backup() + "/Repo dir/format"), "5\n");
  EXPECT_TRUE(fs::exists(Backup() + "/Repository/FileStorage/doc.txt"));
  EXPECT_FALSE(fs::exists(Backup() + "/SubversionRepository"));
}

TEST_F(BackupTest, RepositoryOnANetworkShareIsNotCopied) {
  MakeInstallation("  <RevisionControlURL>file://fileserver/share/repo</RevisionControlURL>\n");
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_THAT(BackupLog(), HasSubstr(Line(messages::kSubversionOnShare)));
  EXPECT_THAT(BackupLog(), Not(HasSubstr(Line(messages::kSubversionComplete))));
}

TEST_F(BackupTest, HostileNamesInTheFileStorageAreBackedUpExactly) {
  MakeInstallation();
  std::vector<std::string> names = {"with  blanks ", "quote\"d'", "100%25", "user@host@", "Ünïcødé",
                                    "Журнал", "日本語", "bad\xff\xfe-utf8", "-leading dash", "#&;$(touch x)"};
  for (const std::string& line : test::ReadLines(std::string(BRIMORA_TEST_DATA_DIR) + "/blns.txt")) {
    if (names.size() >= 200) break;
    if (line.empty() || line[0] == '#' || line.find('/') != std::string::npos || line == "." || line == ".." ||
        line.size() > 200) {
      continue;
    }
    names.push_back(line);
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    WriteFile(Install() + "/Repository/FileStorage/" + names[i], "document " + std::to_string(i));
  }
  const test::ToolResult result = RunBackup();
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_EQ(Snapshot(Backup() + "/Repository"), Snapshot(Install() + "/Repository"));
  EXPECT_FALSE(fs::exists(Execute() + "/x"));
}

// A file system too small for the FileStorage: the copy fails, the run says so and ends with 2.
TEST_F(BackupTest, FullDiskDuringTheFileStorageCopyFailsTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  MakeInstallation();
  WriteFile(Install() + "/Repository/FileStorage/big.bin", std::string(3 << 20, 'x'));
  const std::string disk = root_ / "disk";
  fs::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  const std::string backup = disk + "/backup";
  const test::ToolResult result = test::RunTool(Execute(), {"--installpath", Install(), "--backuppath", backup});
  const std::string log = BackupLog();
  const bool bigCopied = fs::exists(backup + "/Repository/FileStorage/big.bin");
  umount2(disk.c_str(), MNT_DETACH);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(log, HasSubstr("ERROR: could not copy Data Files from \"" + Install() + "/Repository\" to \"" + backup +
                             "\". No space left on device. Backup canceled\n"));
  EXPECT_THAT(log, HasSubstr(Format(messages::kFileStorageFailed, backup)));
  EXPECT_FALSE(bigCopied) << "no partial copy may stand where a good one should";
}

// The generated sample installation, with a real Subversion repository and working copy.
TEST_F(BackupTest, SampleInstallationIsBackedUpWhole) {
  const std::string sample = root_ / "sample";
  const std::string command = "python3 " + std::string(BRIMORA_SOURCE_DIR) +
                              "/scripts/make_sample_installation.py " + sample + " --documents 30 --total-bytes 300000";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string install = sample + "/Brimora";
  const test::ToolResult result =
      test::RunTool(install + "/Execute", {"--installpath", install, "--backuppath", Backup()});
  ASSERT_EQ(result.exitCode, 0) << result.output << ReadFile(install + "/Logs/BackupLog.log");
  EXPECT_EQ(Snapshot(Backup() + "/Repository"), Snapshot(install + "/Repository"));
  EXPECT_EQ(Snapshot(Backup() + "/SubversionRepository"), Snapshot(install + "/SubversionRepository"));
  EXPECT_EQ(Snapshot(Backup() + "/Settings/Users"), Snapshot(install + "/Users"));
}

}  // namespace
}  // namespace brimora
