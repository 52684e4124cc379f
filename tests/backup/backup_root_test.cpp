// Scheduled backups into a backup root: which earlier backup a run takes as its reference, what
// retention deletes and what it never touches, and a series of runs of the tool with --keep.

#include "backup/backup_root.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>

#include "backup/backup_record.h"
#include "backup/root_messages.h"
#include "e2e/installation.h"
#include "platform/identity.h"

namespace brimora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class BackupRootTest : public ::testing::Test {
 protected:
  // A backup folder `folder` whose record says when it started and whether it is complete.
  void MakeBackup(const std::string& folder, const std::string& day, bool complete,
                  const std::string& install = "/srv/brimora") {
    fs::create_directories(folder);
    BackupRecord record;
    record.host = platform::HostName();
    record.installPath = install;
    record.started = "2026-12-" + day + "T01:00:00Z";
    record.finished = record.complete = complete;
    platform::Folder opened;
    ASSERT_EQ(opened.Open(folder, false), 0);
    ASSERT_EQ(WriteRecord(opened, record), 0);
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) names.insert(entry.path().filename().string());
    return names;
  }
  TempFolder temp_;
  const std::string root_ = temp_ / "root";
  const BackupOwner owner_{"/srv/brimora", platform::HostName()};
};

TEST_F(BackupRootTest, TheReferenceIsTheNewestCompleteBackupAndRetentionDeletesOnlyOldOnes) {
  MakeBackup(root_ + "/a", "01", true);
  MakeBackup(root_ + "/b", "02", true);
  MakeBackup(root_ + "/c", "03", true);
  MakeBackup(root_ + "/d", "04", false);                   // a newer run that was killed
  MakeBackup(root_ + "/e", "05", true, "/srv/other");      // another installation's
  fs::create_directories(root_ + "/f");                    // no record
  MakeBackup(temp_ / "elsewhere", "06", true);             // complete, reached through a link
  fs::create_directory_symlink(temp_ / "elsewhere", root_ + "/g");
  MakeBackup(root_ + "/now", "07", true);                  // the folder this run writes

  platform::FolderLock lock;
  EXPECT_EQ(FindReference(root_, owner_, root_ + "/now", &lock), root_ + "/c");
  EXPECT_TRUE(lock.Holds());
  for (const char* refused : {"d", "e", "f", "now"}) {
    EXPECT_FALSE(TakeGivenReference(root_ + "/" + refused, owner_, root_ + "/now", &lock)) << refused;
  }
  EXPECT_TRUE(TakeGivenReference(root_ + "/a", owner_, root_ + "/now", &lock));
  lock.Release();

  // Of a, b, c and now, two stay; b is being read by another run, so only a goes, with the killed
  // run older than the newest complete one. What is not this installation's backup stays.
  platform::FolderLock reader;
  ASSERT_EQ(reader.Take(root_ + "/b", false, true, 0), 0);
  EXPECT_TRUE(KeepNewestBackups(root_, 2, owner_, root_ + "/now"));
  EXPECT_EQ(Names(), (std::set<std::string>{"b", "c", "e", "f", "g", "now"}));
  EXPECT_TRUE(fs::exists(temp_ / "elsewhere/BackupInfo.json"));
  reader.Release();
  EXPECT_TRUE(KeepNewestBackups(root_, 2, owner_, root_ + "/now"));
  EXPECT_EQ(Names(), (std::set<std::string>{"c", "e", "f", "g", "now"}));
}

// Five runs of the tool with --keep 2, the fourth left unfinished as a killed run leaves it: it
// does not count, is deleted once a newer backup is complete, and the oldest kept backup
// restores the installation as it was then.
TEST_F(BackupTest, RetentionKeepsTheNewestCompleteBackupsOfASeriesOfRuns) {
  MakeSampleInstallation("site", {"--documents", "4"});
  const std::string root = Root() + "/backups";
  // A root reached through a link is refused: the link may have been planted by another account.
  fs::create_directory_symlink(Root(), Root() + "/link");
  const ToolResult refused = RunTool(Execute(), {"--installpath", Install(), "--backuproot", Root() + "/link"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_THAT(refused.output, HasSubstr(Format(messages::kRootIsALink, Root() + "/link")));
  std::vector<std::string> folders;  // the folder of each run
  for (int run = 1; run <= 5; ++run) {
    WriteFile(Execute() + "/users.xml", "<users run=\"" + std::to_string(run) + "\"/>");
    const ToolResult result = RunTool(Execute(), {"--installpath", Install(), "--backuproot", root, "--keep", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    std::string made;
    for (const auto& entry : fs::directory_iterator(root)) {
      if (std::find(folders.begin(), folders.end(), entry.path().string()) == folders.end()) made = entry.path();
    }
    ASSERT_THAT(fs::path(made).filename().string(), ::testing::MatchesRegex("2[0-9-]*T[0-9]*Z(-[0-9]+)?")) << run << result.output;
    folders.push_back(made);
    // Each run takes its unchanged files from the newest complete backup before it.
    if (run > 1) {
      const nlohmann::json record = nlohmann::json::parse(ReadFile(made + "/BackupInfo.json"));
      EXPECT_EQ(record["reference"], folders[run == 5 ? 2 : run - 2]) << run;
      const nlohmann::json& copies = record["copies"];
      EXPECT_GT(copies["linked"]["files"].get<int>() + copies["cloned"]["files"].get<int>(), 10) << run;
    }
    if (run == 1) {
      EXPECT_THAT(result.output, HasSubstr(Format(messages::kRetentionTooFew, root, 1, 2)));
    }
    if (run == 4) {
      std::string record = ReadFile(made + "/BackupInfo.json");
      record.replace(record.find("\"finished\": true"), 16, "\"finished\": false");
      WriteFile(made + "/BackupInfo.json", record);
    }
  }
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(root)) left.insert(entry.path());
  EXPECT_EQ(left, (std::set<std::string>{folders[2], folders[4]}));

  const ToolResult restored = RunRestoreFrom(folders[2]);
  EXPECT_EQ(restored.exitCode, 0) << restored.output;
  EXPECT_EQ(ReadFile(Execute() + "/users.xml"), "<users run=\"3\"/>");

  // A backup another run reads is not written, and one another run writes is not read.
  platform::FolderLock held;
  ASSERT_EQ(held.Take(folders[4], false, true, 0), 0);
  EXPECT_THAT(RunBackupInto(folders[4]).output, HasSubstr(Format(messages::kBackupFolderInUse, folders[4])));
  ASSERT_EQ(held.Take(folders[4], false, false, 0), 0);
  const ToolResult verified = RunTool(Execute(), {"--verify", "--backuppath", folders[4]});
  EXPECT_EQ(verified.exitCode, 2);
  EXPECT_THAT(verified.output, HasSubstr(Format(messages::kBackupBeingChanged, folders[4])));
}

}  // namespace
}  // namespace brimora::test
