// Backup steps called one by one, for failures that a whole run cannot bring about on their own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using test::WriteFile;

class BackupStepsTest : public test::BackupTest {
 protected:
  std::unique_ptr<CBackup> Load() { return LoadConfiguration(Install(), Backup()); }
};

// Folders of an earlier layout are moved into the Parts Tracker folder only when they are real
// folders; a link there fails the move, and nothing is written through it.
TEST_F(BackupStepsTest, EarlierLayoutFoldersThatAreLinksAreNotMoved) {
  MakeInstallation();
  WriteFile(root_ / "outside/keep.txt", "keep");
  const struct {
    const char* earlier;
    const char* line;
    const char* moved;
  } cases[] = {
      {"Settings/Execute/www/partsdb", messages::kPartsWebPagesNotMoved, "www-partsdb"},
      {"Settings/Execute/partsdb-changelogs", messages::kPartsChangeLogsNotMoved, "partsdb-changelogs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.earlier);
    fs::remove_all(Backup());
    fs::create_directories(fs::path(Backup() + "/" + c.earlier).parent_path());
    fs::create_directory_symlink(root_ / "outside", Backup() + "/" + c.earlier);
    const std::unique_ptr<CBackup> backup = Load();
    ASSERT_NE(backup, nullptr);
    EXPECT_FALSE(backup->BackupPartsTracker(Backup()));
    EXPECT_THAT(BackupLogMessages(), Contains(Format(c.line, Backup(), Backup() + "/" + c.earlier,
                                                     Backup() + "/PartsTracker/" + c.moved)));
    EXPECT_FALSE(fs::is_symlink(Backup() + "/PartsTracker/" + c.moved));
    EXPECT_EQ(test::Snapshot(root_ / "outside"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
  }
}

TEST_F(BackupStepsTest, DataFilesDestinationThatCannotBeCreatedFailsTheCopy) {
  MakeInstallation();
  const std::unique_ptr<CBackup> backup = Load();
  ASSERT_NE(backup, nullptr);
  backup->currentBackupFolder = Backup();
  const std::string destination = root_ / "missing/parent";
  EXPECT_FALSE(backup->CopyDataFiles(Install() + "/Repository", destination));
  EXPECT_THAT(BackupLogMessages(), Contains(Format(messages::kDataFolderNotCreated, Backup(), destination)));
}

// A folder that can be entered but not listed fails each listing of it, each on its own.
TEST_F(BackupStepsTest, AFolderThatCannotBeListedFailsEveryListingOfIt) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  MakeInstallation();
  fs::create_directories(Backup() + "/Settings");
  test::GiveToUnprivileged(root_.Path());
  ASSERT_EQ(chmod(Execute().c_str(), 0311), 0);
  const int code = test::RunForkedUnprivileged([&] {
    const std::unique_ptr<CBackup> backup = Load();
    if (backup == nullptr) return 10;
    int failures = 0;
    if (!backup->BackupFilesItem(LayoutItem::kParameterFiles, Backup())) failures |= 1;
    if (!CopyUtilizationFiles(Execute() + "/", Backup() + "/Settings/", "Backup", &backup->backupLog,
                              platform::SourceLink::kFollow)) {
      failures |= 2;
    }
    return failures;
  });
  ASSERT_NE(code, 99) << "could not switch accounts";
  EXPECT_EQ(code, 3) << "1: the parameter files, 2: the utilization files were reported as saved";
}

}  // namespace
}  // namespace brimora
