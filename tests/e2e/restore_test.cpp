// Restores by the built tool: the generated sample installation backed up, damaged and restored,
// and backups that lack some of their areas. Judged by the installation's files, the working
// copy and repository as the Subversion client sees them, and the logs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>
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
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using test::Commit;
using test::ReadFile;
using test::WriteFile;

using RestoreTest = test::RestoreTest;

std::uint32_t Mode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A restore of the damaged sample installation from `backup`, whose path may hold anything:
// every area is whole again, the working copy is clean and at the repository's newest revision,
// and the two files the restore places in the working copy are committed as the account that ran
// it.
void ExpectRoundTrip(RestoreTest& site, const std::string& backup) {
  const auto original = site.SiteState();
  const std::uint32_t readOnlyMode = Mode(site.ReadOnlyDocument());
  const std::string names = ReadFile(site.Execute() + "/names.pmp");
  ASSERT_EQ(site.RunBackupInto(backup).exitCode, 0) << site.BackupLog();
  ASSERT_NO_FATAL_FAILURE(site.DamageSample());
  const long head = site.HeadRevision();

  const test::ToolResult result = site.RunRestoreFrom(backup);
  ASSERT_EQ(result.exitCode, 0) << result.output << site.TraceLog();
  EXPECT_THAT(site.ErrorMessages(), IsEmpty());

  // Whole again: only what the backup merged from two places, and what the database copy
  // leaves alone, is more than before. The stray files are gone.
  EXPECT_THAT(test::Differences(original, site.SiteState()),
              ElementsAre("+ Brimora/Execute/ParameterManager/images/pump.png",
                          "+ Brimora/Execute/ParameterManager/images/sensor 2@2x.png",
                          "+ Brimora/Execute/ParameterManager/images/valve.png",
                          "+ Brimora/Repository/FileStorage/Config/names.pmp",
                          "+ Brimora/partsdb/extra.tmp",
                          "+ LornithData/Settings/partsdb-changelogs/changes_2024-01-15.xml"));
  EXPECT_EQ(ReadFile(site.WorkingCopy() + "/Config/names.pmp"), names);
  EXPECT_EQ(Mode(site.ReadOnlyDocument()), readOnlyMode);

  // A clean working copy with nothing newer in the repository; "ReportTemplates" is versioned.
  EXPECT_EQ(site.Status(), "");
  EXPECT_THAT(site.Status(/*showUpdates=*/true), MatchesRegex("Status against revision: +[0-9]+\n"));

  const std::string user = test::AccountName();
  const std::map<std::string, std::string> byUser = {{"username", user}};
  EXPECT_THAT(site.CommitsAfter(head),
              ElementsAre(Commit{"Created Config folder for Parameter Manager file", byUser},
                          Commit{"Restored units.dat file from backup location: \"" + backup + "/Settings/units.dat\"",
                                 byUser},
                          Commit{"Created Config folder for Parameter Manager file", byUser},
                          Commit{"Restored Parameter Manager file from backup location: \"" + backup +
                                     "/PMP/names.pmp\"",
                                 byUser}));
  using Properties = std::map<std::string, std::string>;
  EXPECT_EQ(site.Properties(site.WorkingCopy() + "/Config/units.dat"),
            (Properties{{"username", user}, {"version", "2"}}));
  EXPECT_EQ(site.Properties(site.WorkingCopy() + "/Config/names.pmp"),
            (Properties{{"username", user}, {"version", "1"}}));
}

TEST_F(RestoreTest, DamagedSampleInstallationIsWholeAgain) {
  ASSERT_NO_FATAL_FAILURE(MakeSampleInstallation("site"));
  ExpectRoundTrip(*this, Backup());
}

// Blanks, "%" with letters a format would read, "@" that the client would take for a peg
// revision, and non-Latin letters in the installation's path; "@" in the backup folder's, which
// the commit messages carry. The user folders hold a name that is not valid UTF-8.
TEST_F(RestoreTest, AwkwardPathsRoundTrip) {
  ASSERT_NO_FATAL_FAILURE(
      MakeSampleInstallation("Site 5%d 7%s @lab Ωμέγα", {"--hostile-names", "--no-hostile-documents"}));
  fs::create_directories(root_ / "backups@2026");
  ExpectRoundTrip(*this, root_ / "backups@2026/first run");
}

// A working copy without "ReportTemplates", in the repository as well, gets the folder and a
// commit for it before the restored files are checked in.
TEST_F(RestoreTest, MissingReportTemplatesFolderIsCreatedAndCommitted) {
  ASSERT_NO_FATAL_FAILURE(MakeSampleInstallation("site"));
  test::RunProgram({"svn", "delete", "--quiet", WorkingCopy() + "/ReportTemplates"});
  test::RunProgram({"svn", "commit", "--quiet", "--message", "Templates moved", WorkingCopy()});
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  const long head = HeadRevision();

  const test::ToolResult result = RunRestore();
  ASSERT_EQ(result.exitCode, 0) << result.output << TraceLog();
  EXPECT_TRUE(fs::is_directory(WorkingCopy() + "/ReportTemplates"));
  EXPECT_EQ(Status(), "");
  const std::vector<Commit> commits = CommitsAfter(head);
  ASSERT_EQ(commits.size(), 5u);
  EXPECT_EQ(commits[0],
            (Commit{"Created ReportTemplates folder during restore of backup", {{"username", test::AccountName()}}}));
  EXPECT_EQ(Properties(WorkingCopy() + "/ReportTemplates"),
            (std::map<std::string, std::string>{{"username", test::AccountName()}, {"version", "1"}}));
}

// The PATH search of the environment given to the tool, done here.
std::string FoundOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// The installation's own client (its path holds a blank) runs every client command: a client
// found on PATH would record its call and fail.
TEST_F(RestoreTest, InstallationsOwnClientRunsEveryClientCommand) {
  ASSERT_NO_FATAL_FAILURE(MakeSampleInstallation("own client"));
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  const std::string realClient = FoundOnPath("svn");
  ASSERT_FALSE(realClient.empty());
  const std::string ownCalls = root_ / "own-client-calls.txt";
  const std::string pathCalls = root_ / "path-client-calls.txt";
  WriteScript(Install() + "/Subversion/bin/svn",
              "echo \"$1\" >> '" + ownCalls + "'\nexec '" + realClient + "' \"$@\"\n");
  WriteScript(root_ / "path/svn", "echo \"$1\" >> '" + pathCalls + "'\nexit 1\n");

  test::ToolResult result;
  {
    ScopedVariable path("PATH", root_ / "path:" + std::getenv("PATH"));
    result = RunRestore();
  }
  EXPECT_EQ(result.exitCode, 0) << result.output << TraceLog();
  EXPECT_FALSE(fs::exists(pathCalls)) << ReadFile(pathCalls);
  const std::vector<std::string> calls = test::ReadLines(ownCalls);
  for (const char* command : {"upgrade", "info", "add", "update", "propget", "propset", "resolve", "commit"}) {
    EXPECT_THAT(calls, Contains(command));
  }
}

// One refusal of the client fails the run with its line, though every file came back: the
// upgrade of the working copy, and the check-in of the "ReportTemplates" folder it lacks.
TEST_F(RestoreTest, OneRefusalOfTheClientFailsTheRun) {
  MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  const struct {
    const char* refused;  // shell condition on the client's arguments
    std::string line;
  } cases[] = {
      {"[ \"$1\" = upgrade ]", Format(messages::kRestoreUpgradeFailed, WorkingCopy())},
      {"[ \"$1\" = add ] && [ \"${3%/ReportTemplates}\" != \"$3\" ]",
       Format(messages::kRestoreCheckinFolderFailed, WorkingCopy() + "/ReportTemplates")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused);
    WriteScript(Install() + "/Subversion/bin/svn", std::string("if ") + c.refused +
                                                       "; then echo 'svn: E1: refused'; exit 1; fi\nexec '" +
                                                       FoundOnPath("svn") + "' \"$@\"\n");
    EXPECT_EQ(RunRestore().exitCode, 2);
    EXPECT_THAT(ErrorMessages(), Contains(c.line));
  }
}

// A "ReportTemplates" folder that cannot be made fails the run. The client, right after it
// upgraded the working copy, makes the working copy's folder immutable.
TEST_F(RestoreTest, ReportTemplatesFolderThatCannotBeMadeFailsTheRun) {
  const std::string probe = root_ / "probe";
  fs::create_directory(probe);
  if (std::system(("chattr +i '" + probe + "' 2>/dev/null && chattr -i '" + probe + "'").c_str()) != 0) {
    GTEST_SKIP() << "this file system cannot make a folder immutable (chattr), or this account may not";
  }
  MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  WriteScript(Install() + "/Subversion/bin/svn",
              "'" + FoundOnPath("svn") + "' \"$@\" || exit\n"
              "if [ \"$1\" = upgrade ]; then chattr +i '" + WorkingCopy() + "'; fi\n");
  const int exitCode = RunRestore().exitCode;
  std::system(("chattr -i '" + WorkingCopy() + "'").c_str());
  EXPECT_EQ(exitCode, 2);
  EXPECT_THAT(ErrorMessages(), Contains(Format(messages::kRestoreCreateFolderFailed, "ReportTemplates")));
}

// A failed check-in of the Config folder fails the run, whichever of the two areas that check
// it in meets the failure: the client refuses only the first, or only the second, commit of it.
TEST_F(RestoreTest, FailedCheckInOfTheConfigFolderFailsTheRun) {
  MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  for (const char* refused : {"1", "2"}) {
    SCOPED_TRACE(refused);
    const std::string count = root_ / (std::string("config-commits-") + refused);
    WriteScript(Install() + "/Subversion/bin/svn",
                "if [ \"$1\" = commit ]; then\n"
                "  for argument; do last=$argument; done\n"
                "  case $last in */Config)\n"
                "    echo x >> '" + count + "'\n"
                "    if [ $(wc -l < '" + count + "') = " + refused + " ]; then echo 'svn: E1: refused'; exit 1; fi;;\n"
                "  esac\n"
                "fi\n"
                "exec '" + FoundOnPath("svn") + "' \"$@\"\n");
    EXPECT_EQ(RunRestore().exitCode, 2);
    EXPECT_THAT(ErrorMessages(), Contains(Format(messages::kCheckinFolderFailed, WorkingCopy() + "/Config")));
    EXPECT_EQ(test::ReadLines(count).size(), 2u);
  }
}

// A backup folder that holds only "Settings": the FileStorage area fails without touching the
// installation's working copy, every other area still runs, and the run fails.
TEST_F(RestoreTest, BackupWithOnlySettingsRestoresThemAndKeepsTheRepository) {
  MakeInstallation();
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  for (const auto& entry : fs::directory_iterator(Backup())) {
    if (entry.path().filename() != "Settings") fs::remove_all(entry.path());
  }
  const auto settingsBefore = test::Snapshot(Settings());
  const auto usersBefore = test::Snapshot(Install() + "/Users");
  const std::string reports = ReadFile(Execute() + "/reports.xml");
  WriteFile(Execute() + "/reports.xml", "edited");
  fs::remove(Settings() + "/TestSystems.xml");
  fs::remove_all(Install() + "/Users/u2");
  const auto repositoryBefore = test::Snapshot(Install() + "/Repository");
  const std::size_t start = TraceLog().size();

  const test::ToolResult result = RunRestore();
  EXPECT_EQ(result.exitCode, 2);
  const std::vector<std::string> errors = ErrorMessages();
  EXPECT_THAT(errors, Contains(Format(messages::kRestoreSourceFolderMissing, Backup() + "/Repository")));
  EXPECT_THAT(errors, Contains(messages::kRestoreFileStorageFailed));
  // Nothing of the working copy was deleted. The FileStorage area's later steps still made its
  // missing "ReportTemplates" folder, and the settings area added "units.dat".
  EXPECT_THAT(test::Differences(repositoryBefore, test::Snapshot(Install() + "/Repository")),
              ElementsAre("+ FileStorage/Config", "+ FileStorage/Config/units.dat", "+ FileStorage/ReportTemplates"));

  EXPECT_EQ(ReadFile(Execute() + "/reports.xml"), reports);
  EXPECT_EQ(test::Snapshot(Settings()), settingsBefore);
  EXPECT_EQ(test::Snapshot(Install() + "/Users"), usersBefore);
  std::vector<std::string> areas;
  for (const std::string& line : TraceMessages(start)) {
    for (const char* first : {messages::kRestoreFileStorageStart, messages::kRestoreSettingsStart,
                              messages::kRestoreParameterManagerStart, messages::kRestoreImagesStart,
                              messages::kRestoreSecurityStart, messages::kRestorePartsTrackerStart}) {
      if (line == std::string("1 - ") + first) areas.push_back(first);
    }
  }
  EXPECT_THAT(areas, ElementsAre(messages::kRestoreFileStorageStart, messages::kRestoreSettingsStart,
                                 messages::kRestoreParameterManagerStart, messages::kRestoreImagesStart,
                                 messages::kRestoreSecurityStart, messages::kRestorePartsTrackerStart));
  EXPECT_THAT(TraceMessages(start),
              Contains("1 - " + Format(messages::kRestoreSourceMissing, "Backup", Backup() + "/Security/users.dat")));
}

// A backup folder may lie inside the installation, even inside its working copy (the backup
// leaves it out of its copies). Restoring from there must not delete it with the installation's
// "Repository" folder: the FileStorage area fails, the working copy and the backup stay, and
// the other areas are restored from it. Named directly and through a link; and the installation
// named as its own backup.
TEST_F(RestoreTest, BackupInsideTheRepositoryFolderIsNeverDeleted) {
  MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  const std::string backup = WorkingCopy() + "/backups/first";
  fs::create_directories(WorkingCopy() + "/backups");
  ASSERT_EQ(RunBackupInto(backup).exitCode, 0) << BackupLog();
  fs::create_directory_symlink(WorkingCopy() + "/backups", root_ / "backups");
  for (const std::string& named : {backup, root_ / "backups/first", Install()}) {
    SCOPED_TRACE(named);
    const auto saved = test::Snapshot(backup);
    WriteFile(Execute() + "/users.xml", "damaged");

    EXPECT_EQ(RunRestoreFrom(named).exitCode, 2);
    const std::vector<std::string> errors = ErrorMessages();
    EXPECT_THAT(errors, Contains(Format(messages::kRestoreBackupInsideFileStorage, named + "/Repository",
                                        Install() + "/Repository")));
    EXPECT_THAT(errors, Contains(messages::kRestoreFileStorageFailed));
    EXPECT_EQ(test::Snapshot(backup), saved);
    EXPECT_EQ(ReadFile(WorkingCopy() + "/doc.txt"), "contents of Repository/FileStorage/doc.txt");
    if (named != Install()) {
      EXPECT_EQ(ReadFile(Execute() + "/users.xml"), "contents of users.xml");
    }
  }
}

// No "PMP Images", no "PartsTracker", no names file, no "Settings": each is skipped and changes
// nothing. Only the check-in of the names file that is not there fails.
TEST_F(RestoreTest, BackupWithoutOptionalAreasSkipsThem) {
  ASSERT_NO_FATAL_FAILURE(MakeSampleInstallation("site"));
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  fs::remove_all(Backup() + "/PMP Images");
  fs::remove_all(Backup() + "/PartsTracker");
  fs::remove(Backup() + "/PMP/names.pmp");
  fs::remove_all(Backup() + "/Settings");
  const auto before = SiteState();
  const std::size_t start = TraceLog().size();

  const test::ToolResult result = RunRestore();
  EXPECT_EQ(result.exitCode, 2);
  const std::string config = WorkingCopy() + "/Config";
  const std::string names = Backup() + "/PMP/names.pmp";
  EXPECT_THAT(ErrorMessages(),
              ElementsAre("ERROR: CheckinFile - Error adding the directory/file to source control: \"" + config +
                              "/names.pmp\"\n",
                          Format(messages::kCheckinFileFailed, config + "/names.pmp", names),
                          "Error restoring from the backup path: " + Backup() + "\n"));
  EXPECT_THAT(test::Differences(before, SiteState()), IsEmpty());

  const std::vector<std::string> trace = TraceMessages(start);
  EXPECT_THAT(trace, Contains("1 - " + Format(messages::kRestoreSourceMissing, "Backup", names)));
  const auto images = std::find(trace.begin(), trace.end(), std::string("1 - ") + messages::kRestoreImagesStart);
  ASSERT_NE(images, trace.end());
  ASSERT_NE(images + 1, trace.end());
  EXPECT_EQ(images[1], std::string("1 - ") + messages::kRestoreImagesComplete);
  EXPECT_THAT(trace, Contains(std::string("1 - ") + messages::kRestorePartsTrackerComplete));
  // The Parts Tracker's missing files are notices of the backup log; the restore leaves its
  // folder name empty.
  for (const char* file : {"PartDBConfig.xml", "PartsDBExporterConfig.xml"}) {
    EXPECT_THAT(BackupLogMessages(), Contains("Backup  - Source file \"" + Backup() + "/PartsTracker/" + file +
                                              "\" does not exist. Skipping...\n"));
  }
}

// A backed-up file or folder that exists but cannot be read is not skipped as missing: its item
// fails with the system's error code. Run by an account without special rights.
TEST_F(RestoreTest, UnreadableBackupEntriesFailTheirItem) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  MakeInstallation();
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  test::GiveToUnprivileged(Root());
  fs::permissions(Backup() + "/Security/users.xml", fs::perms::none);
  fs::permissions(Backup() + "/Settings/Users/u1", fs::perms::none);
  const std::string users = ReadFile(Execute() + "/users.xml");

  const test::ToolResult result = test::RunToolUnprivileged(
      Execute(), {"--restore", "--installpath", Install(), "--backuppath", Backup()});
  EXPECT_EQ(result.exitCode, 2);
  const std::vector<std::string> errors = ErrorMessages();
  EXPECT_THAT(errors, Contains(Format(messages::kRestoreFileFailed, Execute() + "/users.xml",
                                      Backup() + "/Security/users.xml", EACCES)));
  EXPECT_THAT(errors, Contains(Format(messages::kRestoreFolderToFailed, Install() + "/Users",
                                      Backup() + "/Settings/Users", EACCES)));
  EXPECT_EQ(ReadFile(Execute() + "/users.xml"), users);
  EXPECT_THAT(TraceMessages(), Not(Contains(::testing::HasSubstr("users.xml\" does not exist"))));
}

// The database switch does not change what a restore does, and the search server is never
// started or stopped.
TEST_F(RestoreTest, DatabaseSwitchChangesNothing) {
  MakeInstallation("<SolrFolder>" + Install() + "/solr</SolrFolder>");
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  WriteScript(Install() + "/solr/bin/solr", "echo \"$@\" >> '" + (root_ / "solr-calls.txt") + "'\n");
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  WriteFile(Backup() + "/Database/Brimora/index.dat", "a saved search core");

  const auto runOnce = [&](const std::vector<std::string>& extra) {
    const std::size_t start = TraceLog().size();
    const int exitCode = RunRestore(extra).exitCode;
    return std::make_tuple(exitCode, TraceMessages(start), SiteState());
  };
  const auto without = runOnce({});
  const auto with = runOnce({"/includedb"});
  EXPECT_EQ(std::get<0>(without), 0);
  EXPECT_EQ(std::get<0>(with), 0);
  EXPECT_EQ(std::get<1>(with), std::get<1>(without));
  EXPECT_EQ(std::get<2>(with), std::get<2>(without));
  EXPECT_FALSE(fs::exists(root_ / "solr-calls.txt"));
}

}  // namespace
}  // namespace brimora
