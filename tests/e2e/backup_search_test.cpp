// Backups with "/includedb" by the built tool, with the stand-in search server and its real
// control script.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/backup_messages.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "search/solr_instance.h"
#include "support/http_test_server.h"
#include "support/search_standin.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using test::ReadFile;
using test::Snapshot;

const std::vector<std::string> kCores = {"Brimora", "Utilization", "lornithinbox", "lornithparttracker", "labscheduler"};

class SearchBackupTest : public test::BackupTest {
 protected:
  std::string Solr() const { return root_ / "solr"; }
  std::string Database() const { return Backup() + "/Database"; }

  // An installation whose running search server holds the five cores with a few documents.
  void MakeInstallationWithSearchServer() {
    MakeInstallation("<SolrFolder>" + Solr() + "</SolrFolder><SolrPort>" + std::to_string(standIn_.Port()) +
                     "</SolrPort><SolrTimeoutSecs>60</SolrTimeoutSecs>\n");
    for (const std::string& core : kCores) standIn_.AddCore(core);
    ASSERT_TRUE(standIn_.Start());
    for (const std::string& core : kCores) ASSERT_TRUE(standIn_.AddDocuments(core, test::SampleDocuments(core, 3)));
  }

  test::CSearchStandIn standIn_{root_ / "solr", test::FreePort()};
};

// The generated sample installation, its search server running as in production: the server
// is stopped for the copies (no index lock in them), the five cores are saved byte for byte,
// and the server runs again afterwards and answers queries.
TEST_F(SearchBackupTest, TheSampleInstallationsCoresAreSavedWithTheServerStopped) {
  const std::string sample = root_ / "sample";
  const int port = test::FreePort();
  const std::string command = "python3 " + std::string(BRIMORA_SOURCE_DIR) + "/scripts/make_sample_installation.py " +
                              sample + " --documents 20 --total-bytes 200000 --solr-port " + std::to_string(port);
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string install = sample + "/Brimora";
  test::CSearchStandIn server(install + "/solr", port, /*installScripts=*/false);
  ASSERT_TRUE(server.Start());
  const long documents = server.DocumentCount("Brimora");
  ASSERT_GT(documents, 0);

  const test::ToolResult result =
      test::RunTool(install + "/Execute", {"--installpath", install, "--backuppath", Backup(), "/includedb"});
  ASSERT_EQ(result.exitCode, 0) << result.output << ReadFile(install + "/Logs/BackupLog.log");

  EXPECT_TRUE(server.Answers()) << "the server outlives the tool";
  EXPECT_EQ(server.DocumentCount("Brimora"), documents);
  EXPECT_TRUE(server.Stop());
  for (const std::string& core : kCores) {
    SCOPED_TRACE(core);
    EXPECT_FALSE(fs::exists(Backup() + "/Database/" + core + "/data/write.lock")) << "copied while running";
    EXPECT_EQ(Snapshot(Backup() + "/Database/" + core), Snapshot(install + "/solr/server/solr/" + core));
  }
  const std::string log = ReadFile(install + "/Logs/BackupLog.log");
  EXPECT_THAT(log, HasSubstr(Format(messages::kDatabaseComplete, Backup())));
  EXPECT_THAT(ReadFile(install + "/Logs/BrimoraUpgradeLog.txt"), HasSubstr(Format(kSolrWaiting, 120)));
}

// The inbox core cannot be saved: the later cores are not tried, the server runs again, and
// the run fails.
TEST_F(SearchBackupTest, AFailingCoreFailsTheRunAndTheServerRunsAgain) {
  MakeInstallationWithSearchServer();
  test::WriteFile(Database() + "/lornithinbox", "a file where the core's copy goes");
  const test::ToolResult result = RunBackup({"/includedb"});
  EXPECT_EQ(result.exitCode, 2) << result.output;
  EXPECT_TRUE(fs::is_directory(Database() + "/Brimora"));
  EXPECT_TRUE(fs::is_directory(Database() + "/Utilization"));
  EXPECT_FALSE(fs::exists(Database() + "/lornithparttracker"));
  EXPECT_FALSE(fs::exists(Database() + "/labscheduler"));
  EXPECT_THAT(BackupLogMessages(), Contains(Line(messages::kDatabaseFailed)));
  EXPECT_THAT(TraceLog(), HasSubstr("ERROR: BackupDatabase() - Unable to copy Solr core from '" + Solr() +
                                    "/server/solr/lornithinbox' to '" + Database() + "/lornithinbox'."));
  EXPECT_TRUE(standIn_.Answers());
  EXPECT_EQ(standIn_.DocumentCount("lornithinbox"), 3);
  // The other areas were still saved.
  EXPECT_TRUE(fs::exists(Backup() + "/Repository/FileStorage/doc.txt"));
}

TEST_F(SearchBackupTest, WithoutASearchServerFolderTheRunSucceeds) {
  MakeInstallation("<SolrFolder>" + (root_ / "no such folder") + "</SolrFolder>\n");
  const test::ToolResult result = RunBackup({"/includedb"});
  EXPECT_EQ(result.exitCode, 0) << result.output << BackupLog();
  EXPECT_THAT(BackupLogMessages(), Contains(Format(messages::kSourceFolderMissing, Backup(), root_ / "no such folder")));
  EXPECT_THAT(BackupLogMessages(), Not(Contains(Line(messages::kDatabaseFailed))));
}

}  // namespace
}  // namespace brimora
