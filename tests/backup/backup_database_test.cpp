// The database step on its own: the order of the server's stop, the core copies and the
// restart, and what each failure makes of the step's answer. The control script is a recording
// fake; a scripted HTTP server stands in for the started server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/command_runner.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "search/solr_instance.h"
#include "support/fake_command_runner.h"
#include "support/http_test_server.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using test::HttpReply;
using test::HttpRequest;
using test::WriteFile;

const std::vector<std::string> kCores = {"Brimora", "Utilization", "lornithinbox", "lornithparttracker", "labscheduler"};

// What the step had done when a command of the control script ran.
struct Moment {
  std::string commandLine;
  bool available;
  std::set<std::string> savedCores;
};

class CObservingRunner : public test::CFakeCommandRunner {
 public:
  std::function<void(const std::string&)> onRun;
  CommandResult Run(const std::string& commandLine, const CommandOptions& options) override {
    if (onRun) onRun(commandLine);
    return CFakeCommandRunner::Run(commandLine, options);
  }
};

class BackupDatabaseTest : public test::BackupTest {
 protected:
  void SetUp() override {
    runner_.onRun = [this](const std::string& line) {
      std::set<std::string> saved;
      if (fs::is_directory(Database())) {
        for (const auto& entry : fs::directory_iterator(Database())) saved.insert(entry.path().filename().string());
      }
      moments_.push_back({line, IsSearchServerAvailable(), saved});
    };
  }
  void TearDown() override { SetSearchServerAvailable(true); }

  std::string Solr() const { return root_ / "search server"; }
  std::string Database() const { return Backup() + "/Database"; }
  std::string Script(const std::string& command) const {
    return "\"" + Solr() + "/bin/solr\" " + command + " -p " + std::to_string(http_.Port());
  }

  // An installation whose search server has the five cores, on the scripted server's port.
  std::unique_ptr<CBackup> Prepare() {
    MakeInstallation("<SolrFolder>" + Solr() + "</SolrFolder><SolrPort>" + std::to_string(http_.Port()) +
                     "</SolrPort>\n");
    for (const std::string& core : kCores) {
      WriteFile(Solr() + "/server/solr/" + core + "/core.properties", "name=" + core + "\n");
      WriteFile(Solr() + "/server/solr/" + core + "/data/documents.json", "[{\"id\":\"" + core + "\"}]");
    }
    fs::create_directories(Backup());
    return LoadConfiguration(Install(), Backup());
  }

  test::CHttpTestServer http_{[](const HttpRequest& request) {
    if (request.target == "/solr/admin/info/system?wt=xml") {
      return HttpReply{200, "<response><str name=\"solr-spec-version\">9.4.1</str></response>"};
    }
    return HttpReply{200, "up"};
  }};
  CObservingRunner runner_;
  std::vector<Moment> moments_;
};

// Stopped before the first core is copied, started again after the last, and the cores
// refuse their requests in between.
TEST_F(BackupDatabaseTest, TheServerIsStoppedWhileTheFiveCoresAreCopied) {
  const std::unique_ptr<CBackup> backup = Prepare();
  ASSERT_NE(backup, nullptr);
  CScopedCommandRunner use(runner_);
  EXPECT_TRUE(backup->BackupSearchDatabase(Backup()));
  EXPECT_TRUE(IsSearchServerAvailable());

  ASSERT_EQ(moments_.size(), 3u);
  EXPECT_EQ(moments_[0].commandLine, Script("stop"));
  EXPECT_TRUE(moments_[0].savedCores.empty());
  EXPECT_EQ(moments_[2].commandLine, Script("start"));
  EXPECT_EQ(moments_[2].savedCores, std::set<std::string>(kCores.begin(), kCores.end()));
  for (const Moment& moment : moments_) EXPECT_FALSE(moment.available) << moment.commandLine;
  for (const std::string& core : kCores) {
    EXPECT_EQ(test::Snapshot(Database() + "/" + core), test::Snapshot(Solr() + "/server/solr/" + core)) << core;
  }
  EXPECT_THAT(BackupLogMessages(),
              ElementsAre(Line(messages::kDatabaseStart),
                          Format(messages::kDatabaseAccessNotGranted, Backup(), "Network Service", Database()),
                          Line(messages::kDatabaseComplete)));
}

// The first core that fails ends the copies; the server is started again all the same.
TEST_F(BackupDatabaseTest, AFailingCoreStopsTheLaterOnesButNotTheRestart) {
  for (std::size_t failing = 0; failing < kCores.size(); ++failing) {
    SCOPED_TRACE(kCores[failing]);
    fs::remove_all(root_.Path());
    fs::create_directories(root_.Path());
    const std::unique_ptr<CBackup> backup = Prepare();
    ASSERT_NE(backup, nullptr);
    WriteFile(Database() + "/" + kCores[failing], "a file where the core's copy goes");
    test::CFakeCommandRunner runner;
    CScopedCommandRunner use(runner);
    EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
    for (std::size_t core = 0; core < kCores.size(); ++core) {
      if (core == failing) continue;
      EXPECT_EQ(fs::is_directory(Database() + "/" + kCores[core]), core < failing) << kCores[core];
    }
    ASSERT_FALSE(runner.Commands().empty());
    EXPECT_EQ(runner.CommandLines().back(), Script("start"));
    EXPECT_TRUE(IsSearchServerAvailable());
    EXPECT_THAT(BackupLogMessages(), Contains(Line(messages::kDatabaseFailed)));
  }
}

// Saved cores do not make up for a search server left down.
TEST_F(BackupDatabaseTest, AServerThatDoesNotStartAgainFailsTheStep) {
  const std::unique_ptr<CBackup> backup = Prepare();
  ASSERT_NE(backup, nullptr);
  runner_.AnswerExit(0);  // stop
  runner_.AnswerExit(0);  // the restart's stop
  runner_.AnswerExit(1);  // start
  CScopedCommandRunner use(runner_);
  EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
  EXPECT_TRUE(IsSearchServerAvailable());
  const std::vector<std::string> lines = BackupLogMessages();
  EXPECT_THAT(lines, Contains(Format(messages::kSearchServerNotRestarted, Backup(), Solr(), http_.Port())));
  EXPECT_THAT(lines, Contains(Line(messages::kDatabaseComplete)));
}

TEST_F(BackupDatabaseTest, ADatabaseFolderThatCannotBeMadeEndsTheStepBeforeTheServerIsTouched) {
  const std::unique_ptr<CBackup> backup = Prepare();
  ASSERT_NE(backup, nullptr);
  WriteFile(Database(), "a file in the folder's place");
  CScopedCommandRunner use(runner_);
  EXPECT_FALSE(backup->BackupSearchDatabase(Backup()));
  EXPECT_TRUE(runner_.Commands().empty());
  EXPECT_THAT(BackupLogMessages(), Contains(Format(messages::kDatabaseFolderNotCreated, Backup(), Database())));
}

TEST_F(BackupDatabaseTest, WithoutASearchServerFolderThereIsNothingToSave) {
  const std::unique_ptr<CBackup> backup = Prepare();
  ASSERT_NE(backup, nullptr);
  fs::remove_all(Solr());
  CScopedCommandRunner use(runner_);
  EXPECT_TRUE(backup->BackupSearchDatabase(Backup()));
  EXPECT_TRUE(runner_.Commands().empty());
  EXPECT_THAT(BackupLogMessages(), Contains(Format(messages::kSourceFolderMissing, Backup(), Solr())));
  EXPECT_THAT(BackupLogMessages(), Not(Contains(Line(messages::kDatabaseFailed))));
}

TEST(SolrSettingsTest, PortAndRestartWaitComeFromTheSettingsWithTheirDefaults) {
  test::TempFolder folder;
  const struct {
    std::string settings;  // empty: no file
    int port;
    int timeout;
  } cases[] = {
      {"", 8983, 30},
      {"<S/>", 8983, 30},
      {"<S><SolrPort>8984</SolrPort><SolrTimeoutSecs>10</SolrTimeoutSecs></S>", 8984, 30},
      {"<S><SolrTimeoutSecs>120</SolrTimeoutSecs></S>", 8983, 120},
      {"<S><SolrTimeoutSecs>90s</SolrTimeoutSecs></S>", 8983, 30},
      {"<S><SolrTimeoutSecs>45.9</SolrTimeoutSecs></S>", 8983, 45},
      {"<S><SolrTimeoutSecs>-100</SolrTimeoutSecs></S>", 8983, 30},
      {"<S><SolrTimeoutSecs>99999999999</SolrTimeoutSecs></S>", 8983, 2147483647},
      {"not xml", 8983, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    const std::string path = folder / "Brimora.xml";
    fs::remove(path);
    if (!c.settings.empty()) WriteFile(path, c.settings);
    EXPECT_EQ(ReadSolrPort(path), c.port);
    EXPECT_EQ(ReadSolrTimeoutSeconds(path), c.timeout);
  }
}

}  // namespace
}  // namespace brimora
