// The database step on its own, with a recording fake of the control script and a scripted HTTP
// server in place of the started search server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/command_runner.h"
#include "common/format.h"
#include "common/run_process.h"
#include "e2e/installation.h"
#include "search/solr_instance.h"
#include "support/fake_command_runner.h"
#include "support/http_test_server.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::IsSupersetOf;

const std::vector<std::string> kCores = {"Brimora", "Utilization", "lornithinbox", "lornithparttracker",
                                         "labscheduler"};

// Notes with each command line whether the cores took requests and which the backup held. The
// scripted server in place of the search server (any answer shows it is up; the system
// information names a version) ends with the stop command, unless `stopIgnored`, and comes
// back on the same port with the start command.
class CObservingRunner : public test::CFakeCommandRunner {
 public:
  CommandResult Run(const std::string& commandLine, const CommandOptions& options) override {
    std::string saved;
    for (const std::string& core : kCores) saved += fs::is_directory(database + "/" + core) ? " " + core : "";
    moments.push_back(commandLine + (IsSearchServerAvailable() ? " available" : "") + " |" + saved);
    if (commandLine.find(" stop -p ") != std::string::npos && !stopIgnored) http.reset();
    if (commandLine.find(" start -p ") != std::string::npos && !http) http = Server(port);
    return CFakeCommandRunner::Run(commandLine, options);
  }
  static std::unique_ptr<test::CHttpTestServer> Server(int port) {
    return std::make_unique<test::CHttpTestServer>(
        std::vector<test::HttpReply>{{200, "<r><str name=\"solr-spec-version\">9</str></r>"}}, port);
  }
  std::string database;
  std::vector<std::string> moments;
  std::unique_ptr<test::CHttpTestServer> http = Server(0);
  const int port = http->Port();
  bool stopIgnored = false;
};

class BackupDatabaseTest : public test::BackupTest {
 protected:
  void TearDown() override { SetSearchServerAvailable(true); }
  std::string Solr() const { return root_ / "search server"; }
  std::string Database() const { return Backup() + "/Database"; }
  std::string Script(const std::string& command) const {
    return Format("\"%s/bin/solr\" %s -p %d", Solr(), command, runner_.port);
  }
  // An installation whose search server, on the scripted server's port, has the cores.
  std::unique_ptr<CBackup> Prepare() {
    MakeInstallation(Format("<SolrFolder>%s</SolrFolder><SolrPort>%d</SolrPort>\n", Solr(), runner_.port));
    for (const std::string& core : kCores) {
      test::WriteFile(Solr() + "/server/solr/" + core + "/data/documents.json", "[{\"id\":\"" + core + "\"}]");
    }
    fs::create_directories(Backup());
    runner_.database = Database();
    return LoadConfiguration(Install(), Backup());
  }

  CObservingRunner runner_;
  CScopedCommandRunner use_{runner_};
};

// Stopped before the first core is copied and started again after the last, with the cores
// refusing requests in between; a core that is not there is skipped. The account that runs the
// search server, the owner of its folder, gets access to the saved cores; root needs no grant.
TEST_F(BackupDatabaseTest, TheServerIsStoppedWhileTheCoresAreCopied) {
  const std::unique_ptr<CBackup> backup = Prepare();
  fs::remove_all(Solr() + "/server/solr/lornithparttracker");
  EXPECT_TRUE(backup->BackupSearchDatabase(Backup()));
  EXPECT_TRUE(IsSearchServerAvailable());
  const std::string saved = " | Brimora Utilization lornithinbox labscheduler";
  EXPECT_THAT(runner_.moments, ElementsAre(Script("stop") + " |", Script("stop") + saved, Script("start") + saved));
  EXPECT_THAT(BackupLogMessages(), ElementsAre(Line(messages::kDatabaseStart), Line(messages::kDatabaseComplete)));

  if (geteuid() != 0) GTEST_SKIP() << "handing the server's folder to another account needs root";
  std::string list;
  RunProcess("getfacl -p --omit-header " + QuoteArgument(Database()), list);
  EXPECT_THAT(list, Not(HasSubstr("user:root:"))) << "no grant for root";
  fs::remove_all(Database());
  ASSERT_EQ(chown(Solr().c_str(), getpwnam("nobody")->pw_uid, 0), 0);
  EXPECT_TRUE(backup->BackupSearchDatabase(Backup()));
  RunProcess("getfacl -p --omit-header " + QuoteArgument(Database()), list);
  EXPECT_THAT(list, HasSubstr("\nuser:nobody:rwx\n"));
  EXPECT_THAT(list, HasSubstr("\ndefault:user:nobody:rwx\n"));
}

// A server that still takes connections after its stop command is neither copied nor started
// a second time.
TEST_F(BackupDatabaseTest, AServerThatDoesNotStopIsNotCopied) {
  const std::unique_ptr<CBackup> backup = Prepare();
  std::int64_t now = 0;
  backup->searchServerTiming.nowMilliseconds = [&now] { return now; };
  backup->searchServerTiming.sleep = [&now](std::uint32_t milliseconds) { now += milliseconds; };
  runner_.stopIgnored = true;
  EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
  EXPECT_EQ(now, 30250) << "polled until the time-out had passed";
  EXPECT_THAT(runner_.CommandLines(), ElementsAre(Script("stop")));
  EXPECT_TRUE(fs::is_empty(Database()));
  EXPECT_THAT(BackupLogMessages(),
              ElementsAre(Line(messages::kDatabaseStart),
                          Format(messages::kSearchServerNotStopped, Backup(), Solr(), runner_.port),
                          Line(messages::kDatabaseFailed)));
  EXPECT_TRUE(IsSearchServerAvailable());
}

// The first core that fails ends the copies; the server is started again all the same.
TEST_F(BackupDatabaseTest, AFailingCoreStopsTheLaterOnesButNotTheRestart) {
  for (std::size_t failing = 0; failing < kCores.size(); ++failing) {
    SCOPED_TRACE(kCores[failing]);
    fs::remove_all(root_.Path());
    const std::unique_ptr<CBackup> backup = Prepare();
    test::WriteFile(Database() + "/" + kCores[failing], "a file where the core's copy goes");
    EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
    for (std::size_t core = 0; core < kCores.size(); ++core) {
      EXPECT_EQ(fs::is_directory(Database() + "/" + kCores[core]), core < failing) << kCores[core];
    }
    EXPECT_EQ(runner_.CommandLines().back(), Script("start"));
    EXPECT_THAT(BackupLogMessages(), Contains(Line(messages::kDatabaseFailed)));
  }
}

// Saved cores do not make up for a search server left down.
TEST_F(BackupDatabaseTest, AServerThatDoesNotStartAgainFailsTheStep) {
  const std::unique_ptr<CBackup> backup = Prepare();
  for (const int exitCode : {0, 0, 1}) runner_.AnswerExit(exitCode);  // stop; the restart's stop and start
  EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
  const std::string notRestarted = Format(messages::kSearchServerNotRestarted, Backup(), Solr(), runner_.port);
  EXPECT_THAT(BackupLogMessages(), IsSupersetOf({notRestarted, Line(messages::kDatabaseComplete)}));
}

// Nothing is stopped when there is nothing to save, or nowhere to save it; both fail the step,
// as the database was asked for.
TEST_F(BackupDatabaseTest, WithoutAServerFolderOrADatabaseFolderTheServerIsLeftAlone) {
  const std::unique_ptr<CBackup> backup = Prepare();
  fs::remove_all(Solr());
  EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
  EXPECT_THAT(BackupLogMessages(), ElementsAre(Line(messages::kDatabaseStart),
                                               Format(messages::kSourceFolderMissing, Backup(), Solr()),
                                               Line(messages::kDatabaseFailed)));
  fs::remove_all(Database());
  test::WriteFile(Database(), "a file in the folder's place");
  EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
  EXPECT_THAT(BackupLogMessages(), Contains(Format(messages::kDatabaseFolderNotCreated, Backup(), Database())));
  EXPECT_TRUE(runner_.Commands().empty());
}

TEST(SolrSettingsTest, PortAndRestartWaitComeFromTheSettingsWithTheirDefaults) {
  test::TempFolder folder;
  const struct {
    std::string settings;
    int port;
    int timeout;
  } cases[] = {
      {"<S/>", 8983, 30},
      {"<S><SolrPort>8984</SolrPort><SolrTimeoutSecs>10</SolrTimeoutSecs></S>", 8984, 30},
      {"<S><SolrTimeoutSecs>120</SolrTimeoutSecs></S>", 8983, 120},
      {"<S><SolrTimeoutSecs>90s</SolrTimeoutSecs></S>", 8983, 30},
      {"<S><SolrTimeoutSecs>-100</SolrTimeoutSecs></S>", 8983, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    const std::string path = folder / "Brimora.xml";
    test::WriteFile(path, c.settings);
    EXPECT_EQ(ReadSolrPort(path), c.port);
    EXPECT_EQ(ReadSolrTimeoutSeconds(path), c.timeout);
  }
}

}  // namespace
}  // namespace brimora
