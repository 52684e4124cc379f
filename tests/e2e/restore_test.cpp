// Restores by the built tool: the generated sample installation restored whole, and a small one
// restored from tampered or partial backup folders, into links, with a refusing client, onto a
// full disk. The tool usually runs as root: a link never lets it read from outside the backup
// folder or write outside the installation.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "backup/record_messages.h"
#include "backup/restore_messages.h"
#include "common/format.h"
#include "common/xml.h"
#include "e2e/installation.h"
#include "support/working_copy.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RunProgram;
using test::WriteFile;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace messages;
using State = std::map<std::string, std::string>;

class RestoreSite : public test::TestInstallation {
 public:
  std::string WorkingCopy() const { return Install() + "/Repository/FileStorage"; }

  // Every entry below Site() but the Subversion administrative folders, the repository and the logs.
  State SiteState() const {
    State state;
    for (auto& [path, contents] : test::Snapshot(Site())) {
      const std::string slashed = "/" + path + "/";
      if (slashed.find("/.svn/") == std::string::npos && slashed.find("/SubversionRepository/") == std::string::npos &&
          slashed.find("/Logs/") == std::string::npos) {
        state.emplace(path, std::move(contents));
      }
    }
    return state;
  }

  // Makes `backup` one that another tool could have made: without the record and manifest that
  // the checks before a restore read, so what follows holds for any backup folder.
  void Unchecked(const std::string& backup) const {
    for (const char* own : {"BackupInfo.json", "SHA256SUMS", "BackupEntries.txt"}) fs::remove(backup + "/" + own);
  }

  // What changed since `before`, in path order: "- path" (gone), "+ path" (new), "~ path" (changed).
  std::vector<std::string> ChangesSince(const State& before) const {
    State after = SiteState(), kinds;
    for (const auto& [path, contents] : before) {
      if (!after.contains(path) || after[path] != contents) kinds[path] = after.contains(path) ? "~ " : "- ";
    }
    for (const auto& [path, contents] : after) {
      if (!before.contains(path)) kinds[path] = "+ ";
    }
    std::vector<std::string> changes;
    for (const auto& [path, kind] : kinds) changes.push_back(kind + path);
    return changes;
  }

  // The installation ships its own Subversion client: `script` runs first (the last argument
  // in $last), then the client on the tests' PATH with the same arguments.
  void OwnClient(const std::string& script) const {
    const std::string client = Install() + "/Subversion/bin/svn";
    WriteFile(client,
              "#!/bin/sh\nfor last; do :; done\n" + script + "\nPATH='" + std::getenv("PATH") + "' exec svn \"$@\"\n");
    fs::permissions(client, fs::perms::owner_all);
  }
};

// The revisions after `revision`, oldest first, each as its message with its revision properties.
std::vector<std::string> CommitsAfter(const std::string& workingCopy, long revision) {
  const XmlDocument log = test::ParsedXml(RunProgram({"svn", "log", "--xml", "--with-all-revprops", "-r",
                                                      std::to_string(revision + 1) + ":HEAD", workingCopy + "@HEAD"}));
  std::vector<std::string> commits;
  XmlNodeList entries = SelectNodes(log, "/log/logentry");
  for (XmlNode entry = entries.NextNode(); entry; entry = entries.NextNode()) {
    commits.push_back(ReadXmlString(entry, "msg", ""));
    for (const auto& [name, value] : test::NamedValues(entry, "revprops/property")) {
      commits.back() += " | " + name + "=" + value;
    }
  }
  return commits;
}

class RestoreRoundTrip : public ::testing::Test, public RestoreSite {};

// Paths hold blanks, "%" with letters, "@" (a peg revision to the client) and non-Latin letters.
// The installation's own client runs every client command; the one on PATH and the search server
// are never called; the database switch and a saved search core change nothing. The missing
// "ReportTemplates" is made and committed before the restored files, as the account that ran it.
TEST_F(RestoreRoundTrip, DamagedSampleInstallationIsWholeAgain) {
  ASSERT_NO_FATAL_FAILURE(
      MakeSampleInstallation("Site 5%d 7%s @lab Ωμέγα", {"--hostile-names", "--no-hostile-documents"}));
  const std::string backup = root_ / "backups@2026/first run";
  fs::create_directories(root_ / "backups@2026");
  RunProgram({"svn", "delete", "--quiet", test::SvnTarget(WorkingCopy() + "/ReportTemplates")});
  RunProgram({"svn", "commit", "--quiet", "--message", "Templates moved", test::SvnTarget(WorkingCopy())});
  OwnClient("");
  const std::string strayCalls = root_ / "stray-calls.txt";
  for (const std::string& stray : {root_ / "path/svn", Install() + "/solr/bin/solr"}) {
    WriteFile(stray, "#!/bin/sh\necho \"$0 $*\" >> '" + strayCalls + "'\nexit 1\n");
    fs::permissions(stray, fs::perms::owner_all);
  }
  const State original = SiteState();
  const std::string readOnlyDocument = WorkingCopy() + "/docflows/templates/Calibration.xml";
  const fs::perms readOnly = fs::status(readOnlyDocument).permissions();
  ASSERT_EQ(RunBackupInto(backup).exitCode, 0) << BackupLog();
  WriteFile(backup + "/Database/Brimora/index.dat", "a saved search core");

  // Every area damaged: files deleted and edited in Execute, the settings folder, the user
  // folders, the Parts Tracker database (which also gains a file) and the images; documents
  // deleted from the working copy, a file and a folder added to it, and a file made read-only.
  for (const char* gone :
       {"Execute/users.dat", "Execute/reports.xml", "Execute/WebReports", "Users/admin",
        "Execute/ParameterManager/images/chart.png", "GenericFileEditor.xml", "partsdb/parts.db", "Users/lab.tech1",
        "Repository/FileStorage/Projects", "../LornithData/Settings/TestSystems.xml",
        "../LornithData/Settings/partsdb-changelogs/changes_2024-03-10.xml"}) {
    ASSERT_GT(fs::remove_all(Install() + "/" + gone), 0u) << gone;
  }
  for (const char* edited : {"Execute/users.xml", "Execute/BrimoraParams_Lab2.xml", "Execute/PartDBConfig.xml",
                             "Execute/utilized_h.pkl", "Repository/FileStorage/Config/units.dat", "partsdb/extra.tmp",
                             "Repository/FileStorage/stray.txt", "Repository/FileStorage/Stray folder/inside.txt"}) {
    WriteFile(Install() + "/" + edited, "damaged");
  }
  WriteFile(Settings() + "/Brimora.xml", ReadFile(Settings() + "/Brimora.xml") + "<!-- damaged -->\n");
  fs::permissions(readOnlyDocument, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const long head = std::stol(RunProgram({"svn", "info", "--show-item", "revision", WorkingCopy() + "@HEAD"}));

  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (root_ / "path:" + path).c_str(), 1);
  const test::ToolResult result = RunRestoreFrom(backup, {"/includedb"});
  ::setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(result.exitCode, 0) << result.output << TraceLog();
  EXPECT_THAT(ErrorMessages(), IsEmpty());
  EXPECT_FALSE(fs::exists(strayCalls)) << ReadFile(strayCalls);

  // Whole again: only what the backup merged from two places, what the database copy leaves
  // alone, the names file and "ReportTemplates" are new; the stray files are gone.
  EXPECT_THAT(ChangesSince(original),
              ElementsAre("+ Brimora/Execute/ParameterManager/images/pump.png",
                          "+ Brimora/Execute/ParameterManager/images/sensor 2@2x.png",
                          "+ Brimora/Execute/ParameterManager/images/valve.png",
                          "+ Brimora/Repository/FileStorage/Config/names.pmp",
                          "+ Brimora/Repository/FileStorage/ReportTemplates", "+ Brimora/partsdb/extra.tmp",
                          "+ LornithData/Settings/partsdb-changelogs/changes_2024-01-15.xml"));
  EXPECT_EQ(ReadFile(WorkingCopy() + "/Config/names.pmp"), ReadFile(Execute() + "/names.pmp"));
  EXPECT_EQ(fs::status(readOnlyDocument).permissions(), readOnly);

  // A clean working copy, nothing newer in the repository, and the commits of the restore.
  EXPECT_EQ(RunProgram({"svn", "status", test::SvnTarget(WorkingCopy())}), "");
  EXPECT_THAT(RunProgram({"svn", "status", "--show-updates", test::SvnTarget(WorkingCopy())}),
              ::testing::MatchesRegex("Status against revision: +[0-9]+\n"));
  const std::string user = getpwuid(geteuid())->pw_name;
  const std::string by = " | username=" + user;
  EXPECT_THAT(
      CommitsAfter(WorkingCopy(), head),
      ElementsAre("Created ReportTemplates folder during restore of backup" + by,
                  "Created Config folder for Parameter Manager file" + by,
                  "Restored units.dat file from backup location: \"" + backup + "/Settings/units.dat\"" + by,
                  "Created Config folder for Parameter Manager file" + by,
                  "Restored Parameter Manager file from backup location: \"" + backup + "/PMP/names.pmp\"" + by));
  for (const auto& [versioned, version] :
       {std::pair{"/ReportTemplates", "1"}, {"/Config/units.dat", "2"}, {"/Config/names.pmp", "1"}}) {
    EXPECT_EQ(test::SvnProperties(WorkingCopy() + versioned), (State{{"username", user}, {"version", version}}));
  }
}

// Permission bits, owner and group, and the access list (getfacl's lines) of a path.
std::string Permissions(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  std::string lists = RunProgram({"getfacl", "--omit-header", "--numeric", "--absolute-names", path});
  std::replace(lists.begin(), lists.end(), '\n', ' ');
  return Format("%o %d:%d %s", info.st_mode & 07777, info.st_uid, info.st_gid, lists);
}

// Owners and permissions never come from the backup folder, where anyone who can write it could
// make installation files theirs, writable by all or set-user-id. A restored file keeps the owner,
// group, mode and access list of the file it replaces (folders there keep theirs); a new entry
// takes the owner and group of the folder it is made in (in the working copy, of the Repository
// folder the staged copy replaces), that folder's default access list, and the backup's
// permission bits without set-id, sticky and others-write bits.
TEST_F(RestoreRoundTrip, OwnersAndPermissionsComeFromTheInstallation) {
  if (geteuid() != 0) GTEST_SKIP() << "giving files to other accounts needs root";
  MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  Unchecked(Backup());
  for (const char* added : {"Settings/Users/u1/new.txt", "Settings/Users/u3/f.txt", "Repository/FileStorage/tool"}) {
    WriteFile(Backup() + "/" + added, "added");
  }
  RunProgram({"chown", "-R", "1234:1234", Backup()});
  RunProgram({"chmod", "-R", "7777", Backup()});
  RunProgram({"chown", "-R", "4321:4322", Install()});
  RunProgram({"chmod", "640", Execute() + "/users.dat"});
  RunProgram({"chmod", "750", Install() + "/Repository"});
  RunProgram({"setfacl", "-m", "u:4323:r", Execute() + "/users.dat"});
  RunProgram({"setfacl", "-d", "-m", "u:4323:rwx", Install() + "/Users/u1", Install() + "/Repository"});
  std::map<std::string, std::string> kept;
  for (const char* path : {"Execute/users.dat", "Users/u1", "Users", "Repository", "Execute/WebReports/r1.html"}) {
    kept[path] = Permissions(Install() + "/" + path);
  }
  ASSERT_EQ(RunRestore().exitCode, 0) << TraceLog();

  const std::string inherited = "775 4321:4322 user::rwx user:4323:rwx group::r-x mask::rwx other::r-x  ";
  const std::string plain = "775 4321:4322 user::rwx group::rwx other::r-x  ";
  const std::pair<std::string, std::string> rows[] = {
      {"Users/u1/new.txt", inherited},
      {"Users/u3", plain},
      {"Users/u3/f.txt", plain},
      {"Repository/FileStorage/tool", inherited},
  };
  for (const auto& [path, permissions] : rows) EXPECT_EQ(Permissions(Install() + "/" + path), permissions) << path;
  for (const auto& [path, permissions] : kept) EXPECT_EQ(Permissions(Install() + "/" + path), permissions) << path;
  EXPECT_EQ(ReadFile(Execute() + "/users.dat"), "contents of users.dat");
  EXPECT_EQ(ReadFile(Install() + "/Repository/FileStorage/tool"), "added");
}

class RestoreTest;
using Step = std::function<void(RestoreTest&)>;

struct Case {
  const char* name;
  Step prepare;  // after the backup, before the restore
  Step check;    // after the restore, besides the exit code and what lies outside
  int exitCode = 2;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

constexpr const char kOutside[] = "from outside";
const std::string kWc = "{I}/Repository/FileStorage";

class RestoreTest : public ::testing::TestWithParam<Case>, public RestoreSite {
 public:
  std::string Outside() const { return Root() + "/outside"; }
  // `text` with "{I}" made the install path and "{B}" the backup folder the restore is given.
  std::string Expand(std::string text) const {
    for (const auto& [mark, value] : {std::pair{"{I}", Install()}, std::pair{"{B}", from_}}) {
      for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 3, value);
    }
    return text;
  }

  std::string from_ = Backup();
  std::string runIn_ = Execute();  // the tool's working folder, whose parent holds its logs
  bool unprivileged_ = false;
  State before_;  // SiteState() right before the restore
  std::vector<std::function<void()>> undo_;

 protected:
  void TearDown() override {
    for (const auto& undo : undo_) undo();
  }
};

// Replaces `entry` by a link to `target`, both with "{I}" or "{B}"; a target without them lies
// in the outside folder.
Step Link(std::string entry, std::string target) {
  return [=](RestoreTest& t) {
    fs::remove_all(t.Expand(entry));
    fs::create_symlink(target.starts_with("{") ? t.Expand(target) : t.Outside() + "/" + target, t.Expand(entry));
  };
}

// The run's errors hold each of `lines` (with "{I}" or "{B}"); then `more` checks.
Step Errors(std::vector<std::string> lines, Step more = nullptr) {
  return [=](RestoreTest& t) {
    const std::vector<std::string> errors = t.ErrorMessages();
    for (const std::string& line : lines) EXPECT_THAT(errors, Contains(t.Expand(line)));
    if (more) more(t);
  };
}
// The line of an item restored to `to` below the install path from `from` below the backup folder.
std::string Item(const char* format, const std::string& to, const std::string& from, int error = ELOOP) {
  return Format(format, "{I}" + to, "{B}" + from, error);
}

// The installation's own client fails every call for which `refused`, a shell condition on its
// arguments (with "{I}"), holds.
Step Refuse(const std::string& refused) {
  return [=](RestoreTest& t) { t.OwnClient(t.Expand("if " + refused + "; then echo 'svn: E1: refused'; exit 1; fi")); };
}

// Another installation's working copy, reached through a link at `entry` of the backed-up one.
Step OtherWorkingCopy(const std::string& entry) {
  return [=](RestoreTest& t) {
    const std::string url = "file://" + t.Root() + "/other-repository";
    RunProgram({"svnadmin", "create", t.Root() + "/other-repository"});
    RunProgram({"svn", "mkdir", "--quiet", "--message", "theirs", url + "/Documents"});
    RunProgram({"svn", "checkout", "--quiet", url, t.Root() + "/other/FileStorage"});
    Link("{B}/Repository/FileStorage" + entry, "{I}/../other/FileStorage" + entry)(t);
  };
}
const Step kOtherUntouched =
    Errors({Format(kRestoreClientRefused, kWc, std::strerror(ELOOP)), Format(kRestoreUpgradeFailed, kWc),
            Format(kCheckinFolderFailed, kWc + "/Config")},
           [](RestoreTest& t) {
             EXPECT_THAT(RunProgram({"svn", "status", "--show-updates", t.Root() + "/other/FileStorage"}),
                         ::testing::MatchesRegex("Status against revision: +1\n"));
           });

const Case kCases[] = {
    // A link in the backup folder fails its item.
    {"UsersFolder", Link("{B}/Settings/Users", "folder"),
     Errors({Item(kRestoreFolderToFailed, "/Users", "/Settings/Users")})},
    {"SettingsFile", Link("{B}/Settings/reports.xml", "file.txt"),
     Errors({Item(kRestoreFileToFailed, "/Execute/reports.xml", "/Settings/reports.xml")})},
    {"UtilizationFile", Link("{B}/Settings/utilization_h.txt", "file.txt"),
     Errors({Item(kRestoreFileToFailed, "/Execute/utilization_h.txt", "/Settings/utilization_h.txt")})},
    {"SettingsFolder",
     [](RestoreTest& t) {
       WriteFile(t.Outside() + "/Settings/utilization_h.txt", "outside");
       Link("{B}/Settings", "Settings")(t);
     },
     Errors({Item(kRestoreFileToFailed, "/Execute/reports.xml", "/Settings/reports.xml"),
             Format(kRestoreFolderNotListed, "{B}/Settings", ELOOP)},
            [](RestoreTest& t) { EXPECT_NE(ReadFile(t.Execute() + "/utilization_h.txt"), "outside"); })},
    {"SecurityFile", Link("{B}/Security/users.dat", "file.txt"),
     Errors({Item(kRestoreFileFailed, "/Execute/users.dat", "/Security/users.dat")})},
    {"NamesFile", Link("{B}/PMP/names.pmp", "file.txt"),
     Errors({Item(kRestoreFileFailed, "/Repository/FileStorage/Config/names.pmp", "/PMP/names.pmp")})},
    {"ImagesFolder", Link("{B}/PMP Images", "folder"), Errors({kRestoreImagesFailed})},
    // A file where a folder belongs, a FIFO where a file belongs: never read, and the item fails.
    {"EntriesOfTheWrongKind",
     [](RestoreTest& t) {
       for (const char* folder : {"Settings/Users", "Settings/Execute/WebReports", "PMP Images", "PartsTracker/partsdb"}) {
         fs::remove_all(t.Backup() + "/" + folder);
         WriteFile(t.Backup() + "/" + folder, kOutside);
       }
       for (const char* file : {"Security/users.dat", "PartsTracker/PartDBConfig.xml"}) {
         fs::remove(t.Backup() + "/" + file);
         ASSERT_EQ(mkfifo((t.Backup() + "/" + file).c_str(), 0600), 0) << file;
       }
     },
     Errors({Item(kRestoreFolderToFailed, "/Users", "/Settings/Users", ENOTDIR),
             Item(kRestoreFolderToFailed, "/Execute/WebReports", "/Settings/Execute/WebReports", ENOTDIR),
             kRestoreImagesFailed, kRestorePartsDatabaseFailed,
             Item(kRestoreFileFailed, "/Execute/users.dat", "/Security/users.dat", ENXIO),
             Format(kRestorePartsTrackerFileFailed, "{I}/Execute/PartDBConfig.xml")})},
    {"PartsDatabase", Link("{B}/PartsTracker/partsdb", "folder"), Errors({kRestorePartsDatabaseFailed})},
    {"PartsChangeLogs", Link("{B}/PartsTracker/partsdb-changelogs", "folder"),
     Errors({kRestorePartsChangeFilesFailed})},
    {"PartsTrackerFile", Link("{B}/PartsTracker/PartDBConfig.xml", "file.txt"),
     Errors({Format(kRestorePartsTrackerFileFailed, "{I}/Execute/PartDBConfig.xml")})},
    {"PartsTrackerFolder", Link("{B}/PartsTracker", "PartsTracker"),
     Errors({Format(kRestorePartsTrackerFileFailed, "{I}/Execute/PartDBConfig.xml")})},
    {"RepositoryFolder", Link("{B}/Repository", "Repository"),
     Errors({Format(kRestoreDataFilesNotCopied, "{B}/Repository", "{I}",
                    "\"{B}/Repository\": " + std::string(std::strerror(ELOOP))),
             kRestoreFileStorageFailed})},
    // A link in the backed-up working copy is copied as a link; nothing goes through it.
    {"ConfigFolderInTheWorkingCopy", Link("{B}/Repository/FileStorage/Config", "folder"),
     Errors({Format(kRestoreClientRefused, kWc + "/Config/units.dat", std::strerror(ELOOP)),
             Format(kRestoreClientRefused, kWc + "/Config/names.pmp", std::strerror(ELOOP)),
             Format(kCheckinFolderFailed, kWc + "/Config")})},
    // The client, which follows links, is never run through one to another working copy.
    {"WorkingCopyLink", OtherWorkingCopy(""), kOtherUntouched},
    {"AdministrativeFolderLink", OtherWorkingCopy("/.svn"), kOtherUntouched},

    // The backed-up working copy names another repository (relocated to a copy of the
    // installation's), or the installation's repository was made anew since the backup: it does
    // not replace the installation's, and no client command reaches a repository, whose hooks
    // would run as root.
    {"WorkingCopyOfAnotherRepository",
     [](RestoreTest& t) {
       const std::string foreign = t.Root() + "/foreign";
       RunProgram({"svnadmin", "hotcopy", t.Install() + "/SubversionRepository", foreign});
       RunProgram({"svn", "relocate", "file://" + foreign, t.Backup() + "/Repository/FileStorage"});
       WriteFile(foreign + "/hooks/start-commit", "#!/bin/sh\ntouch '" + t.Root() + "/hook-ran'\n");
       fs::permissions(foreign + "/hooks/start-commit", fs::perms::owner_all);
     },
     [](RestoreTest& t) {
       const auto uuid = [](const std::string& repository) {
         return RunProgram({"svnlook", "uuid", repository}).substr(0, 36);
       };
       const std::string own = t.Install() + "/SubversionRepository", foreign = t.Root() + "/foreign";
       Errors({Format(kRestoreForeignRepository, kWc, "file://" + foreign, uuid(own), "file://" + own, uuid(own)),
               kRestoreFileStorageFailed, Format(kCheckinFolderFailed, kWc + "/Config"),
               Format(kCheckinFileFailed, kWc + "/Config/names.pmp", "{B}/PMP/names.pmp")})(t);
       for (const std::string& repository : {own, foreign}) {
         EXPECT_EQ(RunProgram({"svnlook", "youngest", repository}), "1\n") << repository;
       }
       EXPECT_FALSE(fs::exists(t.Root() + "/hook-ran"));
       EXPECT_THAT(t.ChangesSince(t.before_), ElementsAre("+ Brimora/Execute/ParameterManager/images/a.png",
                                                          "+ LornithData/Settings/partsdb-changelogs/c1.log"));
     }},
    {"RepositoryMadeAnew",
     [](RestoreTest& t) {
       fs::remove_all(t.Install() + "/SubversionRepository");
       RunProgram({"svnadmin", "create", t.Install() + "/SubversionRepository"});
     },
     [](RestoreTest& t) {
       const std::string url = "file://" + t.Install() + "/SubversionRepository";
       const auto uuid = [](const std::string& repository) {
         return RunProgram({"svnlook", "uuid", repository + "/SubversionRepository"}).substr(0, 36);
       };
       EXPECT_THAT(t.ErrorMessages(),
                   Contains(Format(kRestoreForeignRepository, t.WorkingCopy(), url, uuid(t.Backup()), url,
                                   uuid(t.Install()))));
       EXPECT_EQ(RunProgram({"svnlook", "youngest", t.Install() + "/SubversionRepository"}), "0\n");
     }},
    // An external definition set on Config in the backed-up working copy is neither fetched nor
    // committed: the Config folder's check-in fails, the files in it are committed alone.
    {"ExternalsOnConfig",
     [](RestoreTest& t) {
       const std::string theirs = "file://" + t.Root() + "/other-repository/Documents";
       RunProgram({"svnadmin", "create", t.Root() + "/other-repository"});
       RunProgram({"svn", "mkdir", "--quiet", "--message", "theirs", theirs});
       RunProgram(
           {"svn", "propset", "--quiet", "svn:externals", "ext " + theirs, t.Backup() + "/Repository/FileStorage/Config"});
     },
     Errors({Format(kRestoreForeignChange, kWc + "/Config", " M      " + kWc + "/Config"),
             Format(kCheckinFolderFailed, kWc + "/Config")},
            [](RestoreTest& t) {
              const std::string config = "file://" + t.Install() + "/SubversionRepository/Config";
              EXPECT_EQ(RunProgram({"svn", "proplist", config}), "");
              EXPECT_EQ(RunProgram({"svn", "cat", config + "/names.pmp"}), "contents of names.pmp");
              EXPECT_FALSE(fs::exists(t.WorkingCopy() + "/Config/ext"));
            })},

    // Links in the installation: a folder the restore fills is refused with its item's line, a
    // file it replaces is replaced, never written through; nothing goes through a link in place
    // of the Execute folder (the tool then runs from another folder, so its logs stay inside).
    {"LinksInTheInstallation",
     [](RestoreTest& t) {
       for (const char* entry : {"Repository", "Users", "partsdb"}) Link("{I}/" + std::string(entry), "folder")(t);
       Link("{I}/Execute/users.xml", "file.txt")(t);
     },
     Errors({Item(kRestoreFolderToFailed, "/Users", "/Settings/Users"), kRestorePartsDatabaseFailed},
            [](RestoreTest& t) { EXPECT_EQ(ReadFile(t.Execute() + "/users.xml"), "contents of users.xml"); })},
    {"ExecuteFolder",
     [](RestoreTest& t) {
       fs::rename(t.Execute(), t.Outside() + "/Execute");
       Link("{I}/Execute", "Execute")(t);
       WriteFile(t.Backup() + "/PartsTracker/PartDBConfig.xml", "backed-up configuration");
       WriteFile(t.Backup() + "/Settings/reports.xml", "backed-up reports");
       fs::create_directory(t.runIn_ = t.Install() + "/Bin");
     },
     Errors({Item(kRestoreFolderToFailed, "/Execute", "/Settings")},
            [](RestoreTest& t) { EXPECT_NE(ReadFile(t.Outside() + "/Execute/reports.xml"), "backed-up reports"); })},

    // The client refuses the upgrade, the check-in of the "ReportTemplates" folder the working
    // copy lacks, the first commit of the Config folder (the second area to restore a file into
    // it checks it in again), or the commit of the names file.
    {"UpgradeRefused", Refuse("[ \"$1\" = upgrade ]"), Errors({Format(kRestoreUpgradeFailed, kWc)})},
    {"ReportTemplatesCheckInRefused", Refuse("[ \"$1\" = add ] && [ \"${last%/ReportTemplates}\" != \"$last\" ]"),
     Errors({Format(kRestoreCheckinFolderFailed, kWc + "/ReportTemplates")})},
    {"FirstConfigCommitRefused",
     Refuse("[ \"$1\" = commit ] && [ \"${last%/Config}\" != \"$last\" ] && mkdir {I}/../refused 2>/dev/null"),
     Errors({Format(kCheckinFolderFailed, kWc + "/Config")})},
    {"NamesFileCommitRefused", Refuse("[ \"$1\" = commit ] && [ \"${last%/names.pmp}\" != \"$last\" ]"),
     Errors({Format(kCheckinFileFailed, kWc + "/Config/names.pmp", "{B}/PMP/names.pmp")})},
    // The client makes the working copy immutable before the restore makes its first change there.
    {"ReportTemplatesFolderNotMade",
     [](RestoreTest& t) {
       if (std::system(("chattr +i '" + t.Root() + "' 2>/dev/null && chattr -i '" + t.Root() + "'").c_str()) != 0) {
         GTEST_SKIP() << "this file system cannot make a folder immutable (chattr), or this account may not";
       }
       t.OwnClient("if [ \"$1\" = status ]; then chattr +i '" + t.WorkingCopy() + "'; fi");
       t.undo_.push_back([&t] { std::system(("chattr -i '" + t.WorkingCopy() + "'").c_str()); });
     },
     Errors({Format(kRestoreCreateFolderFailed, "ReportTemplates")})},

    // Only "Settings" in the backup: the FileStorage area fails and keeps the working copy, whose
    // missing Config folder is made for units.dat (its check-in updates names.pmp too); the
    // other areas still run.
    {"OnlySettings",
     [](RestoreTest& t) {
       for (const auto& entry : fs::directory_iterator(t.Backup())) {
         if (entry.path().filename() != "Settings") fs::remove_all(entry.path());
       }
       fs::remove(t.Execute() + "/reports.xml");
       fs::remove_all(t.WorkingCopy() + "/Config");
       WriteFile(t.Backup() + "/Settings/units.dat", "backed-up units");
     },
     Errors({Format(kRestoreSourceFolderMissing, "{B}/Repository"), kRestoreFileStorageFailed},
            [](RestoreTest& t) {
              EXPECT_THAT(t.ChangesSince(t.before_),
                          ElementsAre("+ Brimora/Execute/reports.xml", "+ Brimora/Repository/FileStorage/Config",
                                      "+ Brimora/Repository/FileStorage/Config/names.pmp",
                                      "+ Brimora/Repository/FileStorage/Config/units.dat"));
              EXPECT_EQ(ReadFile(t.WorkingCopy() + "/Config/units.dat"), "backed-up units");
            })},
    // A backup folder in the working copy, named through a link, would go with the
    // installation's Repository folder: it is not restored from, and the other areas are.
    {"BackupInTheWorkingCopy",
     [](RestoreTest& t) {
       fs::create_directories(t.WorkingCopy() + "/backups");
       ASSERT_EQ(t.RunBackupInto(t.WorkingCopy() + "/backups/first").exitCode, 0);
       t.Unchecked(t.WorkingCopy() + "/backups/first");
       fs::create_directory_symlink(t.WorkingCopy() + "/backups", t.from_ = t.Root() + "/backups");
       t.from_ += "/first";
       WriteFile(t.Execute() + "/users.xml", "damaged");
     },
     Errors({Format(kRestoreBackupInsideFileStorage, "{B}/Repository", "{I}/Repository"), kRestoreFileStorageFailed},
            [](RestoreTest& t) {
              EXPECT_THAT(t.ChangesSince(t.before_),
                          ElementsAre("+ Brimora/Execute/ParameterManager/images/a.png", "~ Brimora/Execute/users.xml",
                                      "+ LornithData/Settings/partsdb-changelogs/c1.log"));
            })},
    // No images, Parts Tracker, names file or settings: each is skipped with a notice, the names
    // file and units.dat, which the working copy does not hold either, with their check-ins.
    {"OptionalAreasMissing",
     [](RestoreTest& t) {
       const std::string config = t.WorkingCopy() + "/Config";
       RunProgram({"svn", "delete", "--quiet", config + "/units.dat", config + "/names.pmp"});
       RunProgram({"svn", "commit", "--quiet", "--message", "Gone", t.WorkingCopy()});
       fs::remove_all(t.Backup());
       ASSERT_EQ(t.RunBackup().exitCode, 0);
       t.Unchecked(t.Backup());
       for (const char* gone : {"PMP Images", "PartsTracker", "PMP/names.pmp", "Settings"}) {
         fs::remove_all(t.Backup() + "/" + gone);
       }
     },
     [](RestoreTest& t) {
       EXPECT_THAT(t.ErrorMessages(), ElementsAre(t.Expand(Format(kRestoreUnchecked, "{B}"))));
       EXPECT_THAT(t.ChangesSince(t.before_), ElementsAre("+ Brimora/Repository/FileStorage/ReportTemplates"));
       for (const char* skipped : {"{B}/PMP/names.pmp", "{B}/Settings/units.dat"}) {
         EXPECT_THAT(t.TraceMessages(), Contains(t.Expand("1 - " + Format(kRestoreCheckinSkipped, skipped))));
       }
       EXPECT_THAT(t.BackupLogMessages(),
                   Contains(t.Expand("Backup  - Source file \"{B}/PartsTracker/PartDBConfig.xml\" "
                                     "does not exist. Skipping...\n")));
     },
     0},
    // Backed-up entries that an account without special rights cannot read fail their items.
    {"UnreadableEntries",
     [](RestoreTest& t) {
       if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
       fs::permissions(t.Backup() + "/Security/users.xml", fs::perms::none);
       fs::permissions(t.Backup() + "/Settings/Users/u1", fs::perms::none);
       fs::permissions(t.Backup() + "/Settings/Execute/WebReports", fs::perms::none);
       t.unprivileged_ = true;
     },
     Errors({Item(kRestoreFileFailed, "/Execute/users.xml", "/Security/users.xml", EACCES),
             Item(kRestoreFolderToFailed, "/Users", "/Settings/Users", EACCES),
             Item(kRestoreFolderToFailed, "/Execute/WebReports", "/Settings/Execute/WebReports", EACCES)})},
    // A file system of its own mounted at the Repository folder: no copy can take its place in one
    // step, so none is made and the working copy stays as it is.
    {"RepositoryMounted",
     [](RestoreTest& t) {
       WriteFile(t.Backup() + "/Repository/FileStorage/big.bin", std::string(3 << 20, 'x'));
       const std::string repository = t.Install() + "/Repository";
       if (geteuid() != 0 || mount("tmpfs", repository.c_str(), "tmpfs", 0, "size=2m") != 0) {
         GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
       }
       t.undo_.push_back([repository] { umount2(repository.c_str(), MNT_DETACH); });
     },
     Errors({Format(kRestoreRepositoryMounted, "{I}/Repository"), kRestoreFileStorageFailed},
            [](RestoreTest& t) { EXPECT_FALSE(fs::exists(t.WorkingCopy() + "/big.bin")); })},
};

TEST_P(RestoreTest, WritesItsLinesAndNeverReachesOutside) {
  MakeInstallation();
  ASSERT_NO_FATAL_FAILURE(MakeWorkingCopy());
  ASSERT_EQ(RunBackup().exitCode, 0) << BackupLog();
  Unchecked(Backup());
  for (const char* name : {"file.txt", "folder/secret.txt", "Settings/reports.xml", "Settings/BrimoraParams_X.xml",
                           "Settings/units.dat", "Settings/utilization_h.txt", "Settings/Users/u9/secret.txt",
                           "Repository/FileStorage/secret.txt", "PartsTracker/PartDBConfig.xml"}) {
    WriteFile(Outside() + "/" + name, kOutside);
  }
  ASSERT_NO_FATAL_FAILURE(GetParam().prepare(*this));
  if (IsSkipped()) return;
  const State outside = test::Snapshot(Outside());
  before_ = SiteState();
  if (unprivileged_) test::GiveToUnprivileged(Root());
  const std::vector<std::string> restore = {"--restore", "--installpath", Install(), "--backuppath", from_};
  const test::ToolResult result =
      unprivileged_ ? test::RunToolUnprivileged(runIn_, restore) : test::RunTool(runIn_, restore);
  EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
  GetParam().check(*this);
  EXPECT_EQ(test::Snapshot(Outside()), outside);
  for (const auto& [path, contents] : SiteState()) {
    EXPECT_TRUE(path.starts_with("outside/") || path.starts_with("backup/") ||
                contents.find(kOutside) == std::string::npos)
        << path << " was read from outside";
  }
}

INSTANTIATE_TEST_SUITE_P(, RestoreTest, ::testing::ValuesIn(kCases), [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace brimora
