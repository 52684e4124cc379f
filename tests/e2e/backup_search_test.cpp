// A backup with "/includedb" by the built tool, of the generated sample installation with the
// stand-in search server (scripts/search_standin) running from its control script.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "backup/backup_messages.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "search/solr_instance.h"
#include "support/http_test_server.h"

namespace brimora {
namespace {

using ::testing::HasSubstr;
using test::ReadFile;

// The five cores are saved byte for byte as they lie with the server stopped (a running server
// holds an index lock in each), and the server runs again afterwards. Without "SolrFolder" the
// server is the install path's "solr" folder; a server folder that is not there fails the run.
TEST(SearchBackupTest, TheSampleInstallationsCoresAreSavedWithTheServerStopped) {
  test::TempFolder root;
  const std::string install = root / "sample/Brimora", backup = root / "backup";
  const int port = test::FreePort();
  const std::string make = Format("python3 %s/scripts/make_sample_installation.py %s --documents 20 --total-bytes 200000",
                                  BRIMORA_SOURCE_DIR, root / "sample");
  ASSERT_EQ(std::system(Format("%s --solr-port %d", make, port).c_str()), 0);
  const auto control = [&](const char* command) {
    return std::system(Format("'%s/solr/bin/solr' %s -p %d >/dev/null 2>&1", install, command, port).c_str());
  };
  const std::string settings = root / "sample/LornithData/Settings/Brimora.xml", xml = ReadFile(settings);
  const std::size_t from = xml.find("  <SolrFolder>"), to = xml.find("\n", from) + 1;
  ASSERT_NE(from, std::string::npos);
  test::WriteFile(settings, xml.substr(0, from) + xml.substr(to));
  ASSERT_EQ(control("start"), 0);
  const std::shared_ptr<void> stopAtEnd(nullptr, [&](void*) { control("stop"); });  // whatever happens below

  const test::ToolResult result =
      test::RunTool(install + "/Execute", {"--installpath", install, "--backuppath", backup, "/includedb"});
  ASSERT_EQ(result.exitCode, 0) << result.output << ReadFile(install + "/Logs/BackupLog.log");

  EXPECT_EQ(control("stop"), 0) << "the server runs again after the tool";
  for (const char* core : {"Brimora", "Utilization", "lornithinbox", "lornithparttracker", "labscheduler"}) {
    EXPECT_EQ(test::Snapshot(backup + "/Database/" + core), test::Snapshot(install + "/solr/server/solr/" + core)) << core;
  }
  EXPECT_THAT(ReadFile(install + "/Logs/BackupLog.log"), HasSubstr(Format(messages::kDatabaseComplete, backup)));
  EXPECT_THAT(ReadFile(install + "/Logs/BrimoraUpgradeLog.txt"), HasSubstr(Format(kSolrWaiting, 120)));

  const std::string missing = root / "no server";
  test::WriteFile(settings, xml.substr(0, from) + "  <SolrFolder>" + missing + "</SolrFolder>\n" + xml.substr(to));
  const test::ToolResult without =
      test::RunTool(install + "/Execute", {"--installpath", install, "--backuppath", root / "backup2", "/includedb"});
  EXPECT_EQ(without.exitCode, 2);
  const std::string log = ReadFile(install + "/Logs/BackupLog.log");
  const std::size_t skipped = log.find(Format(messages::kSourceFolderMissing, root / "backup2", missing));
  EXPECT_NE(skipped, std::string::npos) << log;
  EXPECT_NE(log.find(Format(messages::kDatabaseFailed, root / "backup2"), skipped), std::string::npos) << log;
}

}  // namespace
}  // namespace brimora
