// Backups that prove themselves: the completion record and manifest, the verify mode, the checks
// a restore makes before it changes anything, the staged replacement of the working copy, kills
// and stop signals, and one run at a time.

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include <gmock/gmock.h>

#include "backup/record_messages.h"
#include "common/run_process.h"
#include "e2e/installation.h"
#include "platform/run_lock.h"
#include "support/http_test_server.h"

namespace brimora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Edited(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A tool run in the background, to be stopped or killed while it works.
class BackgroundRun {
 public:
  BackgroundRun(const std::string& folder, const std::vector<std::string>& arguments) {
    pid_ = fork();
    if (pid_ != 0) return;
    std::vector<char*> argv = {const_cast<char*>(BRIMORA_EXECUTABLE)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(folder.c_str()) == 0) execv(argv[0], argv.data());
    _exit(127);
  }
  ~BackgroundRun() {
    if (pid_ > 0 && exit_ < 0) Signal(SIGKILL);
  }
  // Waits until `path` exists (true) or the run has ended (false).
  bool WaitFor(const std::string& path) {
    return WaitUntil([&] { return fs::exists(fs::symlink_status(path)); });
  }
  bool WaitUntil(const std::function<bool()>& condition) {
    while (!condition()) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        exit_ = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128;
        return false;
      }
      std::this_thread::yield();
    }
    return true;
  }
  // Sends the signal and answers the exit code (128 and more: ended by a signal).
  int Signal(int number) {
    kill(pid_, number);
    waitpid(pid_, &status_, 0);
    return exit_ = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  int exit_ = -1;
};

class ProofTest : public BackupTest {
 protected:
  void SetUp() override { MakeSampleInstallation("site", {"--documents", "12"}); }
  // Makes the working copy and the repository large enough that a run can be caught while it
  // copies each of them.
  void AddBulk() {
    for (const char* folder : {"Repository/FileStorage/Archive/big", "SubversionRepository/db/big"}) {
      for (int i = 0; i < 8; ++i) WriteFile(Install() + "/" + folder + "/" + std::to_string(i), std::string(8 << 20, 'a' + i));
    }
  }
  ToolResult Verify(const std::string& backup) { return RunTool(Execute(), {"--verify", "--backuppath", backup}); }
  std::string In(const std::string& entry) const { return Backup() + "/" + entry; }
  // The site as a restore may change it, without the logs every run writes.
  std::map<std::string, std::string> SiteState() const {
    auto state = Snapshot(Site());
    std::erase_if(state, [](const auto& entry) { return entry.first.starts_with("Brimora/Logs"); });
    return state;
  }
  std::string Lines(std::size_t from) const {
    std::string lines;
    for (const std::string& line : TraceMessages(from)) lines += line;
    return lines;
  }
};

TEST_F(ProofTest, ACompleteBackupProvesItselfWithoutThisToolAndTakesNoSecondRun) {
  // Names a manifest line or a JSON text could not hold as they are.
  for (const char* name : {"line\nbreak", "back\\slash", "bad\xff\xfe", "cr\rname"}) {
    WriteFile(Install() + "/Users/" + name, name);
  }
  ASSERT_EQ(RunBackup().exitCode, 0);
  const std::string record = ReadFile(In("BackupInfo.json"));
  for (const char* field : {"\"finished\": true", "\"complete\": true", "\"answer\": \"skipped\"",
                            "\"repositoryEntry\": \"SubversionRepository\"", "\"errorLines\": 0"}) {
    EXPECT_THAT(record, HasSubstr(field));
  }
  std::string output;
  int exitCode = -1;
  ASSERT_TRUE(RunProcess("sha256sum --check --quiet SHA256SUMS", output, &exitCode, Backup(), 60, true, true));
  EXPECT_EQ(exitCode, 0) << output;
  EXPECT_THAT(ReadFile(In("BackupEntries.txt")), HasSubstr("Settings/Users/bad\\xff\\xfe\n"));
  const ToolResult verified = Verify(Backup());
  EXPECT_EQ(verified.exitCode, 0) << verified.output;
  EXPECT_THAT(verified.output, HasSubstr("svnadmin verify \"" + In("SubversionRepository") + "\": passed in "));

  const auto before = Snapshot(Backup());
  EXPECT_EQ(RunBackup().exitCode, 2);
  EXPECT_EQ(Snapshot(Backup()), before);
  EXPECT_THAT(BackupLog(), HasSubstr(Format(messages::kBackupFolderHoldsARun, Backup(), "BackupInfo.json")));

  // A run whose area fails finishes, but its record says what failed.
  const std::string failing = Root() + "/failing";
  WriteFile(failing + "/Logs", "a file where the area's folder goes");
  EXPECT_EQ(RunBackupInto(failing).exitCode, 2);
  const std::string failed = ReadFile(failing + "/BackupInfo.json");
  EXPECT_THAT(failed, HasSubstr("\"name\": \"Logs\",\n      \"answer\": false"));
  EXPECT_THAT(failed, HasSubstr("\"finished\": true,\n  \"complete\": false"));
}

TEST_F(ProofTest, VerifyNamesEveryDamageAndOnlyAnAdditionBesideTheAreasPasses) {
  ASSERT_EQ(RunBackup().exitCode, 0);
  const struct {
    const char* name;
    std::function<void(const std::string&)> damage;
    std::string line;  // empty: the backup still passes
  } cases[] = {
      {"one changed byte", [](const std::string& b) { WriteFile(b + "/Settings/Brimora.xml", Edited(ReadFile(b + "/Settings/Brimora.xml"), "<", "{")); },
       "\"Settings/Brimora.xml\" has other contents"},
      {"a deleted file", [](const std::string& b) { fs::remove(b + "/Security/users.xml"); }, "\"Security/users.xml\" is missing"},
      {"a file replaced by a link", [](const std::string& b) { fs::remove(b + "/PMP/names.pmp"); fs::create_symlink("/etc/passwd", b + "/PMP/names.pmp"); },
       "\"PMP/names.pmp\" is a link, not a file"},
      {"a file planted in the working copy", [](const std::string& b) { WriteFile(b + "/Repository/FileStorage/planted", "x"); },
       "\"Repository/FileStorage/planted\" was added"},
      {"a truncated record", [](const std::string& b) { WriteFile(b + "/BackupInfo.json", ReadFile(b + "/BackupInfo.json").substr(0, 40)); },
       "the completion record of \"BACKUP\" is not JSON"},
      {"a record saying incomplete", [](const std::string& b) { WriteFile(b + "/BackupInfo.json", Edited(ReadFile(b + "/BackupInfo.json"), "\"complete\": true", "\"complete\": false")); },
       "the backup run of \"BACKUP\" finished, but it did not save everything"},
      {"an edited checksum list", [](const std::string& b) {
         const std::string sums = ReadFile(b + "/SHA256SUMS");
         WriteFile(b + "/SHA256SUMS", std::string(64, 'f') + "  planted\n" + sums);
         EXPECT_NE(ReadFile(b + "/SHA256SUMS"), sums);
       },
       "SHA256SUMS does not match the entries list (line 1)"},
      {"a damaged revision of the repository", [](const std::string& b) { WriteFile(b + "/SubversionRepository/db/revs/0/1", "garbage"); },
       "svnadmin verify \"BACKUP/SubversionRepository\": failed"},
      {"a deleted record", [](const std::string& b) { fs::remove(b + "/BackupInfo.json"); }, "\"BACKUP\" has no completion record"},
      {"a file beside the areas", [](const std::string& b) { WriteFile(b + "/notes.txt", "x"); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copy = Root() + "/copy";
    fs::remove_all(copy);
    fs::copy(Backup(), copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    c.damage(copy);
    const ToolResult result = Verify(copy);
    EXPECT_EQ(result.exitCode, c.line.empty() ? 0 : 2) << result.output;
    EXPECT_THAT(result.output, HasSubstr(Edited(c.line, "BACKUP", copy)));
  }
}

TEST_F(ProofTest, ARestoreChecksTheBackupFirstAndChangesNothingItRefuses) {
  ASSERT_EQ(RunBackup().exitCode, 0);
  const std::string pristine = Root() + "/pristine";
  fs::copy(Backup(), pristine, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  const std::string record = ReadFile(In("BackupInfo.json"));
  const struct {
    const char* name;
    std::function<void()> damage;
    std::vector<std::string> extra;
    std::string line;             // empty: no refusal
    bool settingsBack, securityBack;
  } cases[] = {
      {"a manifest without a record", [&] { fs::remove(In("BackupInfo.json")); }, {},
       "has a manifest but no completion record; nothing is restored. Run again with --force", false, false},
      {"an unreadable record", [&] { WriteFile(In("BackupInfo.json"), "{"); }, {}, "has a completion record that is not JSON", false, false},
      {"an unfinished run", [&] { WriteFile(In("BackupInfo.json"), Edited(record, "\"finished\": true", "\"finished\": false")); }, {},
       "is from a backup run that did not finish; nothing is restored", false, false},
      {"an unfinished run, forced", [&] { WriteFile(In("BackupInfo.json"), Edited(record, "\"finished\": true", "\"finished\": false")); },
       {"--force"}, "is from a backup run that did not finish", true, true},
      {"a failed area", [&] { WriteFile(In("BackupInfo.json"), Edited(record, "\"Configuration\",\n      \"answer\": true", "\"Configuration\",\n      \"answer\": false")); }, {},
       "the backup's Configuration area failed when it was made; it is not restored", false, true},
      {"a changed file", [&] { WriteFile(In("Security/users.xml"), "<users/>"); }, {"--force"},
       "\"Security/users.xml\" in the backup has other contents; the area is not restored", true, false},
      {"a complete record without its manifest", [&] { fs::remove(In("BackupEntries.txt")); fs::remove(In("SHA256SUMS")); }, {},
       "\"BackupEntries.txt\" in the backup cannot be read", false, false},
      {"a file planted in the working copy", [&] { WriteFile(In("Repository/FileStorage/planted"), "x"); }, {},
       "\"Repository/FileStorage/planted\" in the backup was added; the area is not restored", true, true},
      {"another tool's backup", [&] { for (const char* own : {"BackupInfo.json", "SHA256SUMS", "BackupEntries.txt"}) fs::remove(In(own)); }, {},
       "has no completion record and no manifest, so it cannot be checked", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Backup());
    fs::copy(pristine, Backup(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    c.damage();
    fs::remove(Execute() + "/reports.xml");
    fs::remove(Execute() + "/users.xml");
    const auto before = SiteState();
    const std::size_t from = TraceLog().size();
    const ToolResult result = RunRestore(c.extra);
    EXPECT_THAT(Lines(from), HasSubstr(c.line));
    EXPECT_EQ(fs::exists(Execute() + "/reports.xml"), c.settingsBack);
    EXPECT_EQ(fs::exists(Execute() + "/users.xml"), c.securityBack);
    EXPECT_FALSE(fs::exists(Install() + "/Repository/FileStorage/planted"));
    if (!c.settingsBack && !c.securityBack) {
      EXPECT_EQ(result.exitCode, 2);
      EXPECT_EQ(SiteState(), before);
    }
  }
}

// Killed at each stage, a backup says it did not finish, a restore from it changes nothing, and
// --force restores what it holds.
TEST_F(ProofTest, AKilledBackupIsRefusedUnlessForced) {
  AddBulk();
  const std::string users = ReadFile(Execute() + "/users.xml");
  for (const char* stage : {"BackupInfo.json", "Repository/FileStorage/Archive/big/3", "SubversionRepository/db/big/3"}) {
    SCOPED_TRACE(stage);
    fs::remove_all(Backup());
    {
      BackgroundRun run(Execute(), {"--installpath", Install(), "--backuppath", Backup()});
      ASSERT_TRUE(run.WaitFor(In(stage)));
      EXPECT_EQ(run.Signal(SIGKILL), 128 + SIGKILL);
    }
    EXPECT_THAT(ReadFile(In("BackupInfo.json")), HasSubstr("\"finished\": false"));
    fs::remove(Execute() + "/users.xml");
    const auto before = SiteState();
    EXPECT_EQ(RunRestore().exitCode, 2);
    EXPECT_EQ(SiteState(), before);
    EXPECT_EQ(Verify(Backup()).exitCode, 2);
    WriteFile(Execute() + "/users.xml", users);
  }
  fs::remove(Execute() + "/users.xml");
  RunRestore({"--force"});
  EXPECT_EQ(ReadFile(Execute() + "/users.xml"), users);
}

TEST_F(ProofTest, AStoppedBackupEndsInOrderAndSaysWhy) {
  AddBulk();
  BackgroundRun run(Execute(), {"--installpath", Install(), "--backuppath", Backup()});
  ASSERT_TRUE(run.WaitFor(In("Repository/FileStorage/Archive/big/2")));
  EXPECT_EQ(run.Signal(SIGTERM), 2);
  const std::string record = ReadFile(In("BackupInfo.json"));
  EXPECT_THAT(record, HasSubstr("\"finished\": false"));
  EXPECT_THAT(record, HasSubstr("\"stopReason\": \"stopped by SIGTERM\""));
  EXPECT_THAT(TraceLog(), HasSubstr("The run was stopped by SIGTERM before it finished."));
  for (const auto& [name, contents] : Snapshot(Backup())) EXPECT_FALSE(name.find(".brimora-") != std::string::npos) << name;
}

// Stopped while it copies the search cores, the backup starts the search server again.
TEST(StoppedSearchBackup, TheServerRunsAgainAndTheRecordSaysWhy) {
  TestInstallation site;
  const int port = FreePort();
  site.MakeSampleInstallation("site", {"--solr-port", std::to_string(port)});
  const std::string cores = site.Install() + "/solr/server/solr/";
  for (int i = 0; i < 8; ++i) WriteFile(cores + "Brimora/bulk/" + std::to_string(i), std::string(8 << 20, 'a' + i));
  const auto control = [&](const char* command) {
    return std::system(Format("'%s/solr/bin/solr' %s -p %d >/dev/null 2>&1", site.Install(), command, port).c_str());
  };
  ASSERT_EQ(control("start"), 0);
  const std::shared_ptr<void> stopAtEnd(nullptr, [&](void*) { control("stop"); });
  {
    BackgroundRun run(site.Execute(), {"--installpath", site.Install(), "--backuppath", site.Backup(), "/includedb"});
    ASSERT_TRUE(run.WaitFor(site.Backup() + "/Database/Brimora/bulk/2"));
    EXPECT_EQ(run.Signal(SIGTERM), 2);
  }
  EXPECT_EQ(control("stop"), 0) << "the server runs again after the stopped backup";
  EXPECT_THAT(ReadFile(site.Backup() + "/BackupInfo.json"), HasSubstr("\"stopReason\": \"stopped by SIGTERM\""));
}

TEST_F(ProofTest, TheWorkingCopyIsReplacedOnlyByAWholeCopy) {
  AddBulk();
  ASSERT_EQ(RunBackup().exitCode, 0);
  const auto before = SiteState();
  {
    BackgroundRun run(Execute(), {"--restore", "--installpath", Install(), "--backuppath", Backup()});
    ASSERT_TRUE(run.WaitUntil([&] {
      for (const auto& entry : fs::directory_iterator(Install())) {
        if (entry.path().filename().string().starts_with(".brimora-staging-") &&
            fs::exists(entry.path() / "FileStorage/Archive/big/1")) {
          return true;
        }
      }
      return false;
    }));
    run.Signal(SIGKILL);
  }
  auto after = SiteState();
  std::erase_if(after, [](const auto& entry) { return entry.first.starts_with("Brimora/.brimora-staging-"); });
  EXPECT_EQ(after, before);

  const ToolResult rerun = RunRestore();
  EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
  for (const auto& entry : fs::directory_iterator(Install())) EXPECT_THAT(entry.path().string(), Not(HasSubstr(".brimora-")));
}

TEST_F(ProofTest, ARestoreThatCannotFitChangesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  AddBulk();
  ASSERT_EQ(RunBackup().exitCode, 0);
  // The installation moves onto a file system with room for it, but not for a second working copy.
  const auto bytes = [](const std::string& folder) {
    std::uintmax_t sum = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) sum += entry.is_regular_file() ? entry.file_size() : 4096;
    return sum;
  };
  const std::string size = "size=" + std::to_string((bytes(Site()) + bytes(Install() + "/Repository") / 2) >> 20) + "m";
  const std::string moved = Root() + "/small";
  fs::create_directories(moved);
  if (mount("tmpfs", moved.c_str(), "tmpfs", 0, size.c_str()) != 0) GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  fs::copy(Site(), moved, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  // A replaced working copy would lose this file.
  WriteFile(moved + "/Brimora/Repository/FileStorage/stray.txt", "stays");
  const ToolResult result = RunTool(moved + "/Brimora/Execute", {"--restore", "--installpath", moved + "/Brimora", "--backuppath", Backup()});
  EXPECT_EQ(result.exitCode, 2) << result.output;
  EXPECT_THAT(result.output, HasSubstr("bytes are free on the file system of \"" + moved + "/Brimora\"; it is not restored."));
  EXPECT_EQ(ReadFile(moved + "/Brimora/Repository/FileStorage/stray.txt"), "stays");
  for (const auto& entry : fs::directory_iterator(moved + "/Brimora")) EXPECT_THAT(entry.path().string(), Not(HasSubstr(".brimora-")));
  umount2(moved.c_str(), MNT_DETACH);
}

TEST_F(ProofTest, ASecondRunOnTheInstallationWaitsThenNamesTheFirst) {
  platform::RunLock held;
  long holder = 0;
  ASSERT_EQ(held.Take(Install(), 0, &holder), 0);
  const ToolResult result = RunBackup();
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.output, HasSubstr(Format("Another backup or restore of %s is running (process %ld)", Install(), static_cast<long>(getpid()))));
  EXPECT_FALSE(fs::exists(Backup()));
}

}  // namespace
}  // namespace brimora::test
