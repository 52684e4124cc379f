// The built tool end to end, judged by its exit code, the backup folder and the logs: backups of
// complete, incomplete and blocked installations and of ones that try to trip the tool, and the
// other command-line modes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backup/backup_messages.h"
#include "backup/record_messages.h"
#include "backup/configuration.h"
#include "e2e/installation.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using enum LayoutItem;
using namespace messages;
using ::testing::Contains;
using ::testing::HasSubstr;
using test::BackupTest;
using test::Snapshot;
using test::WriteFile;
using Entries = std::map<std::string, std::string>;

// Links where named files stand, hostile names in the FileStorage, a repository named by a URL
// with an escaped blank that ends in "..", and paths relative to the folder the tool started in.
TEST_F(BackupTest, EveryEntryLandsWhereTheLayoutSays) {
  MakeInstallation("  <RevisionControlURL>file://" + Root() + "/Repo%20dir/db/..</RevisionControlURL>\n");
  WriteFile(Root() + "/Repo dir/db/current", "5\n");
  WriteFile(Execute() + "/ssl/archive/cert1.pem", "the certificate");  // as certificate tools lay them out
  fs::remove(Execute() + "/ssl/server.crt");
  fs::create_symlink("archive/cert1.pem", Execute() + "/ssl/server.crt");
  fs::create_symlink("f.txt", Install() + "/Users/u1/alias.txt");
  for (const std::string name : {"with  blanks ", "quote\"d'", "100%25", "Журнал", "bad\xff\xfe-utf8",
                                 "-leading dash", "line\nbreak", "*?[glob]", "#&;$(touch x)", "\\back\\slash"}) {
    WriteFile(Install() + "/Repository/FileStorage/" + name, "document " + name);
  }
  fs::create_directories(Root() + "/start");  // its ../Logs, the trace log's folder, is in the root
  const test::ToolResult result =
      test::RunTool(Root() + "/start", {"--installpath", "../Brimora", "--backuppath", "../backup"});
  ASSERT_EQ(result.exitCode, 0) << result.output << BackupLog();

  // The names a backup has always had, so that the backups of every version restore.
  std::set<std::string> files;
  for (const auto& [name, contents] : Snapshot(Backup())) {
    if (contents != "/" && !name.starts_with("Repository/") && name != "Logs/BackupLog.log") files.insert(name);
  }
  EXPECT_THAT(files, ::testing::ContainerEq(std::set<std::string>{
      "BackupInfo.json", "SHA256SUMS", "BackupEntries.txt", "Settings/reports.xml", "Settings/Brimora.xml", "Settings/TestSystems.xml", "Settings/TestSystemGroups.xml",
      "Settings/BrimoraParams_A.xml", "Settings/BrimoraParams_B.xml", "Settings/BrimoraParams.xml",
      "Settings/XYNTService.ini", "Settings/server.crt", "Settings/server.key", "Settings/ScheduledTasks.xml",
      "Settings/UserDefined.xml", "Settings/backup.xml", "Settings/GenericFileEditor.xml",
      "Settings/MergeUploadConfig.txt", "Settings/units.dat", "Settings/config.drv", "Settings/ReportJobs.xml",
      "Settings/Users/u1/f.txt", "Settings/Users/u1/alias.txt", "Settings/Users/u2/g h.txt",
      "Settings/utilization_h.txt", "Settings/utilization_h_2021.txt", "Settings/utilized_h.pkl",
      "Settings/UtilDevChans_X.txt", "Settings/Execute/WebReports/r1.html", "Settings/Execute/WebReports/sub/r2.html",
      "PMP/names.pmp", "PMP Images/a.png", "PMP Images/b.png", "Security/CmdList.cfg", "Security/users.dat",
      "Security/users.xml", "Security/BrimoraServerAccess.txt", "Security/BrimoraServerAccess_Prev.txt",
      "PartsTracker/partsdb/db.dat", "PartsTracker/PartDBConfig.xml", "PartsTracker/PartsDBExporterConfig.xml",
      "PartsTracker/www-partsdb/index.html", "PartsTracker/partsdb-changelogs/c1.log",
      "PartsTracker/partsdb-changelogs/s1.log", "Repo dir/db/current", "Logs/BrimoraServerAccess.txt",
      "Logs/BrimoraServerAccess_Prev.txt", "Logs/old.log"}));

  // Each entry holds its source whole; a named file that is a link is saved with its content, a
  // link inside a tree stays a link.
  const std::unique_ptr<CBackup> backup = LoadConfiguration(Install(), Backup());
  ASSERT_NE(backup, nullptr);
  for (const LayoutEntry& entry : BackupLayout()) test::ExpectSaved(*backup, Backup(), entry);
  EXPECT_EQ(Snapshot(Backup() + "/Repository"), Snapshot(Install() + "/Repository"));
  EXPECT_FALSE(fs::is_symlink(Backup() + "/Settings/server.crt"));
  EXPECT_EQ(fs::read_symlink(Backup() + "/Settings/Users/u1/alias.txt"), "f.txt");
  EXPECT_FALSE(fs::exists(Execute() + "/x")) << "a name was run as a command";

  // Each step's start and completion lines, in the order of the run.
  std::vector<std::string> steps;
  for (const char* line : {kConfigurationStart, kConfigurationComplete, kParameterManagerStart,
                           kParameterManagerComplete, kImagesStart, kImagesComplete, kSecurityStart, kSecurityComplete,
                           kPartsTrackerStart, kPartsTrackerComplete, kFileStorageStart, kFileStorageComplete,
                           kSubversionStart, kSubversionComplete, kLogFilesStart, kLogFilesComplete}) {
    steps.push_back(Format(line, Root() + "/start/../backup"));
  }
  EXPECT_EQ(BackupLogMessages(), steps);
}

// Without secure transport the certificate names are empty, and without a repository URL the
// repository is looked for in the install path: missing sources are skipped. A
// repository on a network share is not copied.
TEST(BackupOfAnIncompleteInstallation, MissingOptionalSourcesAreSkippedWithoutFailure) {
  for (const char* url : {"", "file://server/share/repo"}) {
    test::TestInstallation site;
    site.MakeInstallation(std::string("<RevisionControlURL>") + url + "</RevisionControlURL>", /*ssl=*/false);
    fs::remove(site.Execute() + "/units.dat");
    fs::remove_all(site.Install() + "/Users");
    fs::remove_all(site.Install() + "/SubversionRepository");
    const test::ToolResult result = site.RunBackup();
    ASSERT_EQ(result.exitCode, 0) << result.output << site.BackupLog();
    const std::string b = site.Backup(), repository = site.Install() + "/SubversionRepository";
    const std::string skipped = *url ? Format(kSubversionOnShare, b) : Format(kSourceFolderMissing, b, repository);
    EXPECT_THAT(site.BackupLogMessages(),
                ::testing::IsSupersetOf({Format(kSourceFileMissing, b, site.Execute() + "/units.dat"),
                                         Format(kSourceFileMissing, b, ""), skipped}));
  }
}

// The snapshot without the entries below `prefix` (and without the logs the runs keep writing).
Entries Without(Entries entries, const std::string& prefix) {
  std::erase_if(entries, [&](const auto& entry) {
    const std::string& name = entry.first;
    return name == prefix || name.starts_with(prefix + "/") || name.find("BackupLog") != std::string::npos ||
           name.find("BrimoraUpgrade") != std::string::npos;
  });
  return entries;
}

// A backup folder inside a folder that the backup copies, reached directly, through "..", with
// an install path that ends in "/", and through a link: the copy leaves the backup folder out,
// says so, and copies everything else exactly once.
TEST(BackupIntoItsOwnSource, LeavesTheBackupFolderOutOfEveryArea) {
  const std::pair<const char*, const char*> copiedFolders[] = {
      {"Repository", "Repository"}, {"Logs", "Logs"}, {"Users", "Settings/Users"}, {"partsdb", "PartsTracker/partsdb"},
      {"Execute/WebReports", "Settings/Execute/WebReports"}, {"Execute/www/images/ParameterManager", "PMP Images"},
      {"Execute/partsdb-changelogs", "PartsTracker/partsdb-changelogs"},
      {"SubversionRepository", "SubversionRepository"}};
  for (const auto& [folder, entry] : copiedFolders) {
    for (const int spelling : {0, 1, 2, 3}) {
      test::TestInstallation site;
      site.MakeInstallation();
      const std::string source = site.Install() + "/" + folder, link = site.Root() + "/link-to-bk";
      fs::create_directories(source + (spelling == 3 ? "/bk" : "/sub"));
      if (spelling == 3) fs::create_directory_symlink(source + "/bk", link);
      const std::string backup = spelling == 3 ? link : source + (spelling == 1 ? "/sub/../bk" : "/bk");
      const std::string install = site.Install() + (spelling == 2 ? "/" : "");
      SCOPED_TRACE(backup + " (install " + install + ")");
      const test::ToolResult result = test::RunTool(site.Execute(), {"--installpath", install, "--backuppath", backup});
      ASSERT_EQ(result.exitCode, 0) << result.output << site.BackupLog();
      // Merged areas hold more than this source; every entry of the source is there once.
      const Entries copy = Snapshot(source + "/bk/" + entry);
      for (const auto& [name, contents] : Without(Snapshot(source), "bk")) {
        const auto found = copy.find(name);
        EXPECT_TRUE(found != copy.end() && found->second == contents) << name;
      }
      EXPECT_THAT(site.TraceLog(), HasSubstr("/bk\" is a folder this copy writes into; it is left out of the copy.\n"));
      EXPECT_FALSE(fs::exists(source + "/bk/" + entry + "/bk")) << "copied into itself";
    }
  }
}

// A backup folder that cannot be made, or that is the installation or a folder the backup
// copies under any spelling: the run is cancelled with its one line before anything is written.
TEST_F(BackupTest, BackupFolderThatIsTheInstallationOrACopiedFolderIsRefused) {
  MakeInstallation();
  fs::create_directory_symlink(Install(), root_ / "link-to-install");
  const Entries before = Without(Snapshot(Install()), "Logs");
  const std::pair<std::string, std::string> cases[] = {
      {root_ / "missing/backup", ""},  // cannot be made
      {Install() + "/.", Install()},
      {root_ / "link-to-install", Install()},
      {Execute() + "/WebReports/../WebReports/", Execute() + "/WebReports"},
      {Install() + "/SubversionRepository/db/..", Install() + "/SubversionRepository"},
  };
  for (const auto& [backup, copied] : cases) {
    SCOPED_TRACE(backup);
    const std::size_t earlier = BackupLogMessages().size();
    EXPECT_EQ(RunBackupInto(backup).exitCode, 2);
    const std::vector<std::string> messages = BackupLogMessages();
    EXPECT_EQ(std::vector<std::string>(messages.begin() + earlier, messages.end()),
              std::vector<std::string>{copied.empty() ? Format(kBackupFolderNotCreated, backup)
                                                      : Format(kBackupFolderIsASource, backup, copied)});
    EXPECT_EQ(Without(Snapshot(Install()), "Logs"), before) << "something was written into the installation";
  }
}

// Without an Execute folder the run cannot work where it should: it says so and fails, and the
// logs it saves are still the installation's, not those beside the folder it started in.
TEST_F(BackupTest, MissingExecuteFolderFailsTheRunAndKeepsTheInstallationsLogs) {
  MakeInstallation();
  fs::remove_all(Execute());
  fs::create_directories(root_ / "start");
  WriteFile(root_ / "Logs/stray.log", "not the installation's");
  const test::ToolResult result =
      test::RunTool(root_ / "start", {"--installpath", Install(), "--backuppath", Backup()});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.output, HasSubstr("Unable to change to the folder " + Execute()));
  EXPECT_EQ(test::ReadFile(Backup() + "/Logs/old.log"), "contents of Logs/old.log");
  EXPECT_FALSE(fs::exists(Backup() + "/Logs/stray.log"));
}

// The rows of the failure table below. A row blocks its path: no permissions, entered but not
// listed, a file where the backup makes a folder, a folder there already, or no permissions on a
// server without secure transport; or a file others may read and its owner may not, so that the
// copy the account makes can be read by nobody, and the manifest cannot read it back.
enum class Block { kDeny, kListOnly, kTake, kMake, kDenyWithoutSsl, kOthersOnly };

struct Row {
  Block block;
  std::string path;
  std::vector<std::string> lines;  // messages of the backup log; none: the run succeeds
  std::set<LayoutItem> lost;       // the items that may be missing from the backup
};

// The items whose entries lie below `area` of the backup folder.
std::set<LayoutItem> Area(const std::string& area) {
  std::set<LayoutItem> items;
  for (const LayoutEntry& entry : BackupLayout()) {
    if (std::string(entry.entry).starts_with(area)) items.insert(entry.item);
  }
  return items;
}

std::vector<Row> Rows(const test::TestInstallation& i) {
  const std::string b = i.Backup(), e = i.Execute(), in = i.Install(), p = b + "/PartsTracker";
  const auto line = [&](const char* format, const auto&... more) { return Format(format, b, more...); };
  const auto notSaved = [&](const std::string& source, const std::string& entry) {
    return line(kFileNotBackedUp, source, b + "/" + entry, EACCES);
  };
  const auto stopped = [&](const std::string& path) {
    return line(kCopyFailedAt, "\"" + path + "\": Permission denied");
  };
  // A file that cannot be read, a folder that cannot be read, a backup folder entry taken by a file.
  const auto file = [&](const std::string& source, const std::string& entry, LayoutItem item) {
    return Row{Block::kDeny, source, {notSaved(source, entry)}, {item}};
  };
  const auto tree = [&](const std::string& source, const std::string& failed, std::set<LayoutItem> lost) {
    return Row{Block::kDeny, source, {stopped(source), failed}, std::move(lost)};
  };
  const auto taken = [&](const std::string& entry, const char* format, std::set<LayoutItem> lost) {
    return Row{Block::kTake, b + "/" + entry, {line(format, b + "/" + entry)}, std::move(lost)};
  };
  const std::string partsFailed = line(kPartsChangeFilesFailed), denied = "Permission denied";
  return {
      taken("Settings", kConfigurationFolderNotCreated, Area("Settings")),
      file(e + "/reports.xml", "Settings/reports.xml", kReports),
      file(e + "/BrimoraParams_A.xml", "Settings/BrimoraParams_A.xml", kParameterFiles),
      // Present but not to be examined is not missing.
      {Block::kDeny, e + "/ssl",
       {notSaved(e + "/ssl/server.crt", "Settings/server.crt"), notSaved(e + "/ssl/server.key", "Settings/server.key")},
       {kSslCertificate, kSslKey}},
      {Block::kDenyWithoutSsl, e + "/ssl/server.crt", {}, {kSslCertificate, kSslKey}},
      {Block::kListOnly, e,
       {line(kFolderNotListed, e, EACCES), Format(kUtilizationFolderNotListed, "Backup", e + "/", e + "/", EACCES)},
       {kParameterFiles, kUtilizationFiles}},
      tree(in + "/Users", line(kFolderNotBackedUp, in + "/Users", b + "/Settings/Users", EACCES), {kUsers}),
      {Block::kDeny, e + "/utilized_h.pkl",
       {Format(kUtilizationFileNotCopied, "Backup", e + "/", e + "/utilized_h.pkl", b + "/Settings/utilized_h.pkl",
               EACCES)},
       {kUtilizationFiles}},
      tree(e + "/WebReports", line(kFolderNotBackedUp, e + "/WebReports", b + "/Settings/Execute/WebReports", EACCES),
           {kWebReports}),
      taken("PMP", kParameterManagerFolderNotCreated, {kNames}),
      file(e + "/names.pmp", "PMP/names.pmp", kNames),
      taken("PMP Images", kImagesFolderNotCreated, Area("PMP Images")),
      tree(e + "/www/images/ParameterManager", line(kImagesFailed), Area("PMP Images")),
      taken("Security", kSecurityFolderNotCreated, Area("Security")),
      file(e + "/users.dat", "Security/users.dat", kUsersData),
      // A folder already there (from an earlier run): the line and a failed run, yet every copy
      // of the area goes into it.
      {Block::kMake, p, {line(kPartsTrackerFolderNotCreated, p)}, {}},
      tree(in + "/partsdb", line(kPartsDatabaseFailed), {kPartsDatabase}),
      {Block::kDeny, e + "/PartDBConfig.xml", {line(kPartDbConfigFailed, e + "/PartDBConfig.xml")},
       {kPartDbConfig}},
      {Block::kDeny, e + "/PartsDBExporterConfig.xml",
       {line(kPartsDbExporterConfigFailed, e + "/PartsDBExporterConfig.xml")}, {kPartsDbExporterConfig}},
      tree(e + "/www/partsdb", partsFailed, {kPartsWebPages}),
      tree(e + "/partsdb-changelogs", partsFailed, {kPartsChangeLogs}),
      tree(in + "/../LornithData/Settings/partsdb-changelogs", partsFailed, {kPartsSettingsChangeLogs}),
      {Block::kDeny, in + "/Repository/FileStorage/doc.txt",
       {stopped(in + "/Repository/FileStorage/doc.txt"), line(kDataFilesNotCopied, in + "/Repository", b, denied),
        line(kFileStorageFailed)},
       {kFileStorage, kSubversionRepository}},
      {Block::kDeny, in + "/SubversionRepository/db",
       {stopped(in + "/SubversionRepository/db"), line(kDataFilesNotCopied, in + "/SubversionRepository", b, denied),
        line(kSubversionFailed)},
       {kSubversionRepository}},
      {Block::kMake, b + "/Logs", {line(kLogFolderNotCreated, b + "/Logs")}, {}},
      tree(in + "/Logs/old.log", line(kLogFilesFailed), {kLogFiles}),
      {Block::kOthersOnly, in + "/Users/u1/f.txt",
       {line(kManifestNotWritten, "Settings/Users/u1/f.txt", "Permission denied")}, {}},
  };
}

// Every source of every area blocked in turn: the run writes the area's error lines, ends with
// exit code 2, and still saves every other area whole. The runs are made by an account without
// special rights (as root the tests drop to one), so that what may not be read cannot be read.
TEST(BackupFailures, EveryBlockedSourceFailsTheRunAndSparesTheOtherAreas) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  for (std::size_t n = 0;; ++n) {
    test::TestInstallation i;
    const std::vector<Row> rows = Rows(i);
    if (n == rows.size()) break;
    const Row& row = rows[n];
    SCOPED_TRACE("row " + std::to_string(n) + ": " + row.path);
    const bool ssl = row.block != Block::kDenyWithoutSsl;
    i.MakeInstallation(ssl ? "" : "<SSLCertificatePath>" + row.path + "</SSLCertificatePath>", ssl);
    fs::create_directories(i.Backup());
    switch (row.block) {
      case Block::kDeny:
      case Block::kDenyWithoutSsl: ASSERT_EQ(chmod(row.path.c_str(), 0), 0); break;
      case Block::kListOnly: ASSERT_EQ(chmod(row.path.c_str(), 0311), 0); break;
      case Block::kTake: WriteFile(row.path, "in the way"); break;
      case Block::kMake: fs::create_directories(row.path); break;
      case Block::kOthersOnly: break;
    }
    test::GiveToUnprivileged(i.Root());  // keeps the modes the block set
    if (row.block == Block::kOthersOnly) {
      ASSERT_TRUE(lchown(row.path.c_str(), 0, 0) == 0 && chmod(row.path.c_str(), 04) == 0);
    }

    const test::ToolResult result = i.RunBackup({}, /*unprivileged=*/true);
    EXPECT_EQ(result.exitCode, row.lines.empty() ? 0 : 2) << result.output;
    for (const std::string& line : row.lines) EXPECT_THAT(i.BackupLogMessages(), Contains(line));
    EXPECT_THAT(test::ReadFile(i.Backup() + "/BackupInfo.json"), HasSubstr(row.lines.empty() ? "\"complete\": true" : "\"complete\": false"));
    // Every area that was not blocked is complete.
    const std::unique_ptr<CBackup> backup = LoadConfiguration(i.Install(), i.Backup());
    ASSERT_NE(backup, nullptr);
    for (const LayoutEntry& entry : BackupLayout()) {
      if (!row.lost.contains(entry.item)) test::ExpectSaved(*backup, i.Backup(), entry);
    }
  }
}

// Steps called one by one, for failures that a whole run cannot show: the run always hands the
// data files copy a folder that exists; the parameter and utilization files are listed from the
// same folder, so that in a run the failure of either hides the other's; and the folders an
// earlier layout kept below Settings make that folder taken. Such a folder is moved to its place
// in the Parts Tracker only when it is no link.
TEST_F(BackupTest, StepsFailWhereTheRunCannotShowIt) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  MakeInstallation();
  const std::string outside = root_ / "outside", earlier[] = {root_ / "b1", root_ / "b2"};
  WriteFile(outside + "/keep.txt", "keep");
  fs::create_directories(Backup() + "/Settings");
  fs::create_directories(earlier[0] + "/Settings/Execute/www");
  fs::create_directory_symlink(outside, earlier[0] + "/Settings/Execute/www/partsdb");
  fs::create_directories(earlier[1] + "/Settings/Execute");
  fs::create_directory_symlink(outside, earlier[1] + "/Settings/Execute/partsdb-changelogs");
  test::GiveToUnprivileged(root_.Path());
  ASSERT_EQ(chmod(Execute().c_str(), 0311), 0);
  const int code = test::RunForkedUnprivileged([&] {
    const std::unique_ptr<CBackup> backup = LoadConfiguration(Install(), Backup());
    if (backup == nullptr) return 99;
    backup->currentBackupFolder = Backup();
    return (backup->BackupFilesItem(kParameterFiles, Backup()) ? 1 : 0) |
           (CopyUtilizationFiles(Execute() + "/", Backup() + "/Settings/", "Backup", &backup->backupLog,
                                 platform::SourceLink::kFollow) ? 2 : 0) |
           (backup->CopyDataFiles(Install() + "/Repository", root_ / "missing/parent") ? 4 : 0) |
           (backup->BackupPartsTracker(earlier[0]) ? 8 : 0) | (backup->BackupPartsTracker(earlier[1]) ? 16 : 0);
  });
  ASSERT_NE(code, 99) << "the child could not switch accounts or load the configuration";
  EXPECT_EQ(code, 0) << "reported as saved: 1 the parameter files, 2 the utilization files, 4 the data files, "
                        "8 the parts web pages, 16 the parts change logs";
  EXPECT_THAT(BackupLogMessages(), ::testing::IsSupersetOf({
      Format(kDataFolderNotCreated, Backup(), root_ / "missing/parent"),
      Format(kPartsWebPagesNotMoved, earlier[0], earlier[0] + "/Settings/Execute/www/partsdb",
             earlier[0] + "/PartsTracker/www-partsdb"),
      Format(kPartsChangeLogsNotMoved, earlier[1], earlier[1] + "/Settings/Execute/partsdb-changelogs",
             earlier[1] + "/PartsTracker/partsdb-changelogs")}));
  EXPECT_EQ(Snapshot(outside).size(), 1u) << "written through a link";
}

// The command-line modes, in an installation without a settings file.
class CliTest : public test::BackupTest {
 protected:
  void SetUp() override { fs::create_directories(Execute()); }
  test::ToolResult Run(const std::vector<std::string>& arguments) { return test::RunTool(Execute(), arguments); }
};

// Usage goes to the output and at level 1 to the trace log; the line of a failure to the output
// and the errors file.
TEST_F(CliTest, EachModeEndsWithItsExitCode) {
  const std::string usage =
      "BrimoraUpgrade [/h | /?] [/includedb] [/restore] [/installpath <path>] [/backuppath <path>]\n";
  const std::string answer = root_ / "missing/answer.txt";
  const struct { std::vector<std::string> arguments; int exitCode; std::string line; } cases[] = {
      {{}, 1, usage},
      {{"/installpath", Install(), "/backuppath", Backup(), "--restore", "/?"}, 0, usage},
      {{"/installpath", Install(), "/backuppath", "--unknown", Backup()}, 1, usage},
      {{"/installpath", Install(), "/getsettingsfilepath", answer}, 2,
       "Unable to write the settings file path to " + answer + ": No such file or directory\n"},
      // Without a settings file there is no configuration to run with.
      {{"/installpath", Install(), "/backuppath", Backup()}, 2,
       "Error backing up to the backup path: " + Backup() + "\n"},
      {{"/restore", "/installpath", Install(), "/backuppath", Backup()}, 2,
       "Error restoring from the backup path: " + Backup() + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const test::ToolResult result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_THAT(result.output, HasSubstr(c.line));
    EXPECT_THAT(c.exitCode == 2 ? ErrorMessages() : TraceMessages(),
                Contains(c.exitCode == 2 ? c.line : "1 - " + c.line));
  }
  EXPECT_FALSE(fs::exists(Backup()));
}

// The answer is the settings file beside the installation; with /check, while none is there,
// the install path's own.
TEST_F(CliTest, SettingsFileQueryAnswersWhereTheSettingsFileIs) {
  const std::string answer = root_ / "answer with blanks.txt";
  ASSERT_EQ(Run({"/installpath", Install(), "/getsettingsfilepath", answer}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(answer), Install() + "/../LornithData/Settings/Brimora.xml");
  ASSERT_EQ(Run({"/installpath", Install(), "/getsettingsfilepath", answer, "/check"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(answer), Install() + "/Brimora.xml");
}

}  // namespace
}  // namespace brimora
