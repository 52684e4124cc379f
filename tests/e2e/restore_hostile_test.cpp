// Restores from backup folders that were tampered with, into installations holding links, and
// onto a disk that fills up. The tool usually runs as root: a link must never let it read
// something outside the backup folder into the installation, or write outside the installation.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "backup/restore_messages.h"
#include "common/format.h"
#include "e2e/restore_fixture.h"
#include "support/test_support.h"
#include "support/working_copy.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::IsEmpty;
using test::ReadFile;
using test::Snapshot;
using test::WriteFile;

using RestoreTest = test::RestoreTest;

constexpr const char kOutside[] = "from outside";

// What the tests plant outside the backup folder and the installation.
void MakeOutside(const std::string& outside) {
  for (const char* name : {"file.txt", "folder/secret.txt", "Settings/reports.xml", "Settings/BrimoraParams_X.xml",
                           "Settings/units.dat", "Settings/utilization_h.txt", "Settings/Users/u9/secret.txt",
                           "Repository/FileStorage/secret.txt", "PartsTracker/PartDBConfig.xml"}) {
    WriteFile(outside + "/" + name, kOutside);
  }
}

// Every file of the site outside `outside` and the backup folder whose contents came from there.
std::vector<std::string> ReadFromOutside(const test::TestInstallation& site) {
  std::vector<std::string> found;
  for (const auto& [path, contents] : Snapshot(site.Root())) {
    if (!path.starts_with("outside/") && !path.starts_with("backup/") && contents.find(kOutside) != std::string::npos) {
      found.push_back(path);
    }
  }
  return found;
}

std::vector<std::string> NoLines(const test::TestInstallation&) { return {}; }

// The line of an item that must fail: the destination below the install path, the source below
// the backup folder.
auto ItemLine(const char* format, std::string destination, std::string source) {
  return [=](const test::TestInstallation& site) {
    return std::vector<std::string>{Format(format, site.Install() + destination, site.Backup() + source, ELOOP)};
  };
}

auto Line(const char* text) {
  return [=](const test::TestInstallation&) { return std::vector<std::string>{text}; };
}

struct Tampered {
  const char* name;
  const char* entry;   // of the backup folder, replaced by a link; null for none
  const char* target;  // relative to the outside folder, or absolute
  std::function<std::vector<std::string>(const test::TestInstallation&)> lines;  // among the errors
};

void PrintTo(const Tampered& tampered, std::ostream* out) { *out << (tampered.entry ? tampered.entry : "nothing"); }

const Tampered kTampered[] = {
    {"Nothing", nullptr, nullptr, NoLines},
    {"UsersFolder", "Settings/Users", "/etc",
     ItemLine(messages::kRestoreFolderToFailed, "/Users", "/Settings/Users")},
    {"WebReportsFolder", "Settings/Execute/WebReports", "folder",
     ItemLine(messages::kRestoreFolderToFailed, "/Execute/WebReports", "/Settings/Execute/WebReports")},
    {"SettingsFile", "Settings/reports.xml", "file.txt",
     ItemLine(messages::kRestoreFileToFailed, "/Execute/reports.xml", "/Settings/reports.xml")},
    {"UnitsFile", "Settings/units.dat", "file.txt",
     ItemLine(messages::kRestoreFileToFailed, "/Repository/FileStorage/Config/units.dat", "/Settings/units.dat")},
    {"UtilizationFile", "Settings/utilization_h.txt", "file.txt",
     ItemLine(messages::kRestoreFileToFailed, "/Execute/utilization_h.txt", "/Settings/utilization_h.txt")},
    {"SettingsFolder", "Settings", "Settings",
     [](const test::TestInstallation& site) {
       return std::vector<std::string>{Format(messages::kRestoreFileToFailed, site.Execute() + "/reports.xml",
                                              site.Backup() + "/Settings/reports.xml", ELOOP),
                                       Format(messages::kRestoreFolderNotListed, site.Backup() + "/Settings", ELOOP)};
     }},
    {"SecurityFile", "Security/users.dat", "file.txt",
     ItemLine(messages::kRestoreFileFailed, "/Execute/users.dat", "/Security/users.dat")},
    {"NamesFile", "PMP/names.pmp", "file.txt",
     ItemLine(messages::kRestoreFileFailed, "/Repository/FileStorage/Config/names.pmp", "/PMP/names.pmp")},
    {"ImagesFolder", "PMP Images", "folder", Line(messages::kRestoreImagesFailed)},
    {"PartsDatabase", "PartsTracker/partsdb", "folder", Line(messages::kRestorePartsDatabaseFailed)},
    {"PartsChangeLogs", "PartsTracker/partsdb-changelogs", "folder", Line(messages::kRestorePartsChangeFilesFailed)},
    {"PartsTrackerFile", "PartsTracker/PartDBConfig.xml", "file.txt",
     [](const test::TestInstallation& site) {
       return std::vector<std::string>{
           Format(messages::kRestorePartsTrackerFileFailed, site.Execute() + "/PartDBConfig.xml")};
     }},
    {"PartsTrackerFolder", "PartsTracker", "PartsTracker",
     [](const test::TestInstallation& site) {
       return std::vector<std::string>{
           Format(messages::kRestorePartsTrackerFileFailed, site.Execute() + "/PartDBConfig.xml")};
     }},
    {"RepositoryFolder", "Repository", "Repository",
     [](const test::TestInstallation& site) {
       const std::string source = site.Backup() + "/Repository";
       return std::vector<std::string>{Format(messages::kRestoreDataFilesNotCopied, source, site.Install(),
                                              "\"" + source + "\": " + std::strerror(ELOOP)),
                                       messages::kRestoreFileStorageFailed};
     }},
    // A link inside the backed-up working copy is copied as a link; what the later areas write
    // into the working copy must not go through it.
    {"ConfigFolderInTheWorkingCopy", "Repository/FileStorage/Config", "folder",
     [](const test::TestInstallation& site) {
       const std::string config = site.Install() + "/Repository/FileStorage/Config";
       return std::vector<std::string>{
           Format(messages::kRestoreFileToFailed, config + "/units.dat", site.Backup() + "/Settings/units.dat", ELOOP),
           Format(messages::kRestoreFileFailed, config + "/names.pmp", site.Backup() + "/PMP/names.pmp", ELOOP),
           Format(messages::kCheckinFolderFailed, config)};
     }},
};

class TamperedBackupTest : public ::testing::TestWithParam<Tampered> {};

// The installation has a real working copy, so an untampered backup restores without an error
// and each link alone makes the run fail.
TEST_P(TamperedBackupTest, LinkFailsItsItemWithoutReadingOrWritingOutside) {
  const Tampered& tampered = GetParam();
  test::TestInstallation site;
  site.MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(site.MakeWorkingCopy());
  ASSERT_EQ(site.RunBackup().exitCode, 0) << site.BackupLog();
  const std::string outside = site.Root() + "/outside";
  MakeOutside(outside);
  const auto outsideBefore = Snapshot(outside);
  if (tampered.entry != nullptr) {
    const std::string entry = site.Backup() + "/" + tampered.entry;
    const std::string target = tampered.target;
    fs::remove_all(entry);
    fs::create_symlink(target.starts_with("/") ? target : outside + "/" + target, entry);
  }

  const test::ToolResult result = site.RunRestore();
  EXPECT_EQ(result.exitCode, tampered.entry != nullptr ? 2 : 0) << result.output;
  const std::vector<std::string> errors = site.ErrorMessages();
  for (const std::string& expected : tampered.lines(site)) EXPECT_THAT(errors, Contains(expected));
  EXPECT_THAT(ReadFromOutside(site), IsEmpty());
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_FALSE(fs::exists(site.Install() + "/Users/passwd"));
  // The installation's working copy goes only when the backed-up one is really there.
  EXPECT_EQ(ReadFile(site.Install() + "/Repository/FileStorage/doc.txt"), "contents of Repository/FileStorage/doc.txt");
}

INSTANTIATE_TEST_SUITE_P(Entries, TamperedBackupTest, ::testing::ValuesIn(kTampered),
                         [](const auto& info) { return std::string(info.param.name); });

// A backed-up working copy whose folder, or administrative folder, is a link to another working
// copy: the Subversion client would follow it, change that working copy and commit to its
// repository. The client is never run through the link.
TEST(RestoreFromTamperedBackup, WorkingCopyReachedThroughALinkIsNotHandedToTheClient) {
  for (const char* entry : {"Repository/FileStorage", "Repository/FileStorage/.svn"}) {
    SCOPED_TRACE(entry);
    test::TestInstallation site;
    site.MakeInstallation();
    ASSERT_EQ(site.RunBackup().exitCode, 0) << site.BackupLog();
    const std::string repository = site.Root() + "/other-repository";
    const std::string other = site.Root() + "/other/FileStorage";
    const std::string url = "file://" + repository;
    test::RunProgram({"svnadmin", "create", repository});
    test::RunProgram({"svn", "checkout", "--quiet", url, other});
    WriteFile(other + "/doc.txt", "another installation's document");
    test::RunProgram({"svn", "add", "--quiet", other + "/doc.txt"});
    test::RunProgram({"svn", "commit", "--quiet", "--message", "theirs", other});
    const std::string target = std::string(entry).ends_with(".svn") ? other + "/.svn" : other;
    fs::remove_all(site.Backup() + "/" + entry);
    fs::create_symlink(target, site.Backup() + "/" + entry);

    const test::ToolResult result = site.RunRestore();
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_EQ(test::RunProgram({"svn", "info", "--show-item", "revision", url}), "1\n");
    EXPECT_EQ(test::RunProgram({"svn", "status", other}), "");
    const std::string workingCopy = site.Install() + "/Repository/FileStorage";
    const std::vector<std::string> errors = site.ErrorMessages();
    EXPECT_THAT(errors, Contains(Format(messages::kRestoreClientRefused, workingCopy, std::strerror(ELOOP))));
    EXPECT_THAT(errors, Contains(Format(messages::kRestoreUpgradeFailed, workingCopy)));
    EXPECT_THAT(errors, Contains(Format(messages::kCheckinFolderFailed, workingCopy + "/Config")));
  }
}

// Links in the installation where the restore writes: a folder the restore fills is refused
// with the item's line, and a file it replaces is replaced, never written through.
TEST(RestoreIntoLinks, LinksInTheInstallationAreNeverWrittenThrough) {
  test::TestInstallation site;
  site.MakeInstallation();
  ASSERT_EQ(site.RunBackup().exitCode, 0) << site.BackupLog();
  const std::string outside = site.Root() + "/outside";
  MakeOutside(outside);
  for (const char* entry : {"Repository", "Users", "Execute/WebReports", "Execute/ParameterManager", "partsdb"}) {
    fs::remove_all(site.Install() + "/" + entry);
    fs::create_directory_symlink(outside + "/folder", site.Install() + "/" + entry);
  }
  fs::remove(site.Execute() + "/users.xml");
  fs::create_symlink(outside + "/file.txt", site.Execute() + "/users.xml");
  const auto outsideBefore = Snapshot(outside);

  const test::ToolResult result = site.RunRestore();
  EXPECT_EQ(result.exitCode, 2) << result.output;
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  const std::vector<std::string> errors = site.ErrorMessages();
  EXPECT_THAT(errors, Contains(Format(messages::kRestoreFolderToFailed, site.Install() + "/Users",
                                      site.Backup() + "/Settings/Users", ELOOP)));
  EXPECT_THAT(errors, Contains(Format(messages::kRestoreFolderToFailed, site.Execute() + "/WebReports",
                                      site.Backup() + "/Settings/Execute/WebReports", ELOOP)));
  EXPECT_THAT(errors, Contains(messages::kRestoreImagesFailed));
  EXPECT_THAT(errors, Contains(messages::kRestorePartsDatabaseFailed));
  // The link in place of the working copy's folder was removed, not what it led to.
  EXPECT_FALSE(fs::is_symlink(site.Install() + "/Repository"));
  EXPECT_EQ(ReadFile(site.Install() + "/Repository/FileStorage/doc.txt"), "contents of Repository/FileStorage/doc.txt");
  EXPECT_FALSE(fs::is_symlink(site.Execute() + "/users.xml"));
  EXPECT_EQ(ReadFile(site.Execute() + "/users.xml"), "contents of users.xml");
}

// An Execute folder that is a link: nothing is restored through it. The tool runs from another
// folder of the installation, so its logs stay there.
TEST(RestoreIntoLinks, ExecuteFolderThatIsALinkIsNeverWrittenThrough) {
  test::TestInstallation site;
  site.MakeInstallation();
  ASSERT_EQ(site.RunBackup().exitCode, 0) << site.BackupLog();
  const std::string outside = site.Root() + "/outside";
  fs::create_directories(outside);
  fs::rename(site.Execute(), outside + "/Execute");
  fs::create_directory_symlink(outside + "/Execute", site.Execute());
  WriteFile(site.Backup() + "/PartsTracker/PartDBConfig.xml", "backed-up configuration");
  const auto outsideBefore = Snapshot(outside);

  fs::create_directory(site.Install() + "/Bin");
  EXPECT_EQ(test::RunTool(site.Install() + "/Bin", {"--restore", "--installpath", site.Install(), "--backuppath",
                                                    site.Backup()}).exitCode, 2);
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_THAT(site.ErrorMessages(), Contains(Format(messages::kRestoreFolderToFailed, site.Execute(),
                                                    site.Backup() + "/Settings", ELOOP)));
}

// Mounted over the installation's "Repository" folder, a file system too small for the
// backed-up one fills up during the copy: the area and the run fail, and no partial file stands
// where a good copy should.
TEST_F(RestoreTest, FullDiskDuringTheFileStorageCopyFailsTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  ASSERT_NO_FATAL_FAILURE(MakeSampleInstallation("site"));
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  WriteFile(Backup() + "/Repository/FileStorage/Archive/big.bin", std::string(3 << 20, 'x'));
  const std::string repository = Install() + "/Repository";
  if (mount("tmpfs", repository.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  const test::ToolResult result = RunRestore();
  const bool bigCopied = fs::exists(repository + "/FileStorage/Archive/big.bin");
  umount2(repository.c_str(), MNT_DETACH);

  EXPECT_EQ(result.exitCode, 2) << result.output;
  EXPECT_FALSE(bigCopied) << "no partial copy may stand where a good one should";
  const std::vector<std::string> errors = ErrorMessages();
  EXPECT_THAT(errors, Contains(Format(messages::kRestoreDataFilesNotCopied, Backup() + "/Repository", Install(),
                                      std::strerror(ENOSPC))));
  EXPECT_THAT(errors, Contains(messages::kRestoreFileStorageFailed));
  EXPECT_THAT(errors, Contains("Error restoring from the backup path: " + Backup() + "\n"));
}

}  // namespace
}  // namespace brimora
