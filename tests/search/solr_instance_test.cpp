#include "search/solr_instance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/command_runner.h"
#include "common/format.h"
#include "search/search_fixture.h"
#include "support/fake_command_runner.h"
#include "support/http_test_server.h"
#include "support/search_standin.h"

namespace brimora {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using test::CFakeCommandRunner;
using test::CHttpTestServer;
using test::HttpReply;
using test::HttpRequest;

constexpr const char kSystemInfo[] =
    "<?xml version=\"1.0\"?><response><lst name=\"lucene\">"
    "<str name=\"solr-spec-version\">9.4.1</str></lst></response>";

// A server whose "/solr" answers `pingStatus` and whose system information is `info`.
CHttpTestServer::Handler Answering(int pingStatus, std::string info) {
  return [pingStatus, info](const HttpRequest& request) {
    if (request.target == "/solr") return HttpReply{pingStatus, "page"};
    if (request.target == "/solr/admin/info/system?wt=xml") return HttpReply{200, info, "application/xml"};
    return HttpReply{404, "unknown"};
  };
}

class SolrInstanceTest : public test::SearchTest {
 protected:
  std::string Folder() const { return dir_ / "solr home"; }
  std::string Line(const std::string& command, int port) const {
    return "\"" + Folder() + "/bin/solr\" " + command + " -p " + std::to_string(port);
  }

  CFakeCommandRunner fake_;
};

TEST_F(SolrInstanceTest, TheScriptRunsDirectlyWithCommandAndPort) {
  CScopedCommandRunner use(fake_);
  CSolrInstance server;
  server.SetLocation("../solr home", 8983);  // relative to the working folder, Execute
  EXPECT_EQ(server.folder, dir_ / "Execute/../solr home");

  fake_.AnswerExit(1, "No Solr found running on port 8983\n");
  std::string output;
  int exitCode = -1;
  EXPECT_TRUE(server.RunSolrCommand("stop", output, exitCode));
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(output, "No Solr found running on port 8983\n");
  ASSERT_EQ(fake_.Commands().size(), 1u);
  EXPECT_EQ(fake_.Commands()[0].commandLine, "\"" + dir_ / "Execute/../solr home" + "/bin/solr\" stop -p 8983");
  EXPECT_EQ(fake_.Commands()[0].options.timeoutSeconds, 600u);
  EXPECT_TRUE(fake_.Commands()[0].options.captureOutput);
  EXPECT_TRUE(fake_.Commands()[0].options.stderrToo);

  // Ended at the time-out: not run to its end, and no exit code to report.
  fake_.AnswerTimeOut();
  exitCode = -1;
  EXPECT_FALSE(server.RunSolrCommand("stop", output, exitCode));
  EXPECT_EQ(exitCode, -1);
}

// Any answer shows that the server is up, a 404 included; the version comes from the system
// information.
TEST_F(SolrInstanceTest, StartStopsStartsAndTakesAnyAnswerAsResponsive) {
  CHttpTestServer http(Answering(404, kSystemInfo));
  CScopedCommandRunner use(fake_);
  CSolrInstance server;
  std::string version;
  ASSERT_TRUE(server.Start(Folder(), http.Port(), version, 30));
  EXPECT_EQ(version, "9.4.1");
  EXPECT_EQ(server.port, http.Port());
  EXPECT_THAT(fake_.CommandLines(), ElementsAre(Line("stop", http.Port()), Line("start", http.Port())));
  const CommandOptions& start = fake_.Commands()[1].options;
  EXPECT_EQ(start.timeoutSeconds, 600u);
  EXPECT_FALSE(start.captureOutput);
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr(Format(kSolrWaiting, 30)));
  EXPECT_THAT(log, HasSubstr(kSolrResponded));
}

TEST_F(SolrInstanceTest, SystemInformationWithoutAVersionStillStarts) {
  CHttpTestServer http(Answering(200, "<response><str name=\"other\">1</str></response>"));
  CScopedCommandRunner use(fake_);
  CSolrInstance server;
  std::string version = "unchanged";
  EXPECT_TRUE(server.Start(Folder(), http.Port(), version, 30));
  EXPECT_EQ(version, "unchanged");
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kSolrNoVersion, "<response><str name=\"other\">1</str></response>")));
}

// A server that answers but gives no readable system information has not started well.
TEST_F(SolrInstanceTest, SystemInformationThatIsMissingOrNotXmlFailsTheStart) {
  const struct {
    HttpReply info;
    const char* line;
    const char* reply;
  } cases[] = {{{200, "<html>oops"}, kSolrReplyNotXml, "<html>oops"}, {{0}, kSolrRequestFailed, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    CHttpTestServer http([&c](const HttpRequest& request) {
      return request.target == "/solr" ? HttpReply{200, "up"} : c.info;
    });
    CScopedCommandRunner use(fake_);
    CSolrInstance server;
    std::string version;
    EXPECT_FALSE(server.Start(Folder(), http.Port(), version, 30));
    const std::string url = Format("http://localhost:%d/solr/admin/info/system?wt=xml", http.Port());
    ShutdownTraceLog();
    EXPECT_THAT(test::ReadFile(dir_ / "Logs/SearchTestLog.txt"), HasSubstr(Format(c.line, url, c.reply)));
    InitTraceLog("SearchTest", false);
  }
}

TEST_F(SolrInstanceTest, AStartScriptThatFailsLeavesThePortAtMinusOne) {
  CHttpTestServer http(Answering(200, kSystemInfo));
  CScopedCommandRunner use(fake_);
  fake_.AnswerExit(0, "stopped");
  fake_.AnswerExit(1);
  CSolrInstance server;
  std::string version;
  EXPECT_FALSE(server.Start(Folder(), http.Port(), version, 30));
  EXPECT_EQ(server.port, -1);
  EXPECT_TRUE(http.Requests().empty()) << "no server is waited for after a failed start";
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kSolrStartFailed, http.Port(), "stopped", 1)));
}

// Polled once a second until the time-out has passed: about time-out + 1 requests.
TEST_F(SolrInstanceTest, AServerThatNeverAnswersTimesOut) {
  CScopedCommandRunner use(fake_);
  CSolrInstance server;
  std::int64_t now = 1000;
  int pauses = 0;
  server.timing.nowSeconds = [&now] { return now; };
  server.timing.sleep = [&](std::uint32_t milliseconds) {
    EXPECT_EQ(milliseconds, 1000u);
    ++pauses;
    ++now;
  };
  std::string version;
  EXPECT_FALSE(server.Start(Folder(), test::FreePort(), version, 30));
  EXPECT_EQ(pauses, 31);
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kSolrTimedOut, 30)));
}

// A start script that never returns is ended at the limit, with everything it started.
TEST_F(SolrInstanceTest, AStartScriptThatNeverReturnsIsEndedAtTheLimit) {
  test::WriteFile(Folder() + "/bin/solr", "#!/bin/sh\nif [ \"$1\" = start ]; then exec sleep 300; fi\nexit 0\n");
  std::filesystem::permissions(Folder() + "/bin/solr", std::filesystem::perms(0755));
  CSolrInstance server;
  server.timing.startLimitSeconds = 1;
  const int port = test::FreePort();
  std::string version;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(server.Start(Folder(), port, version, 30));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ(server.port, -1);
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kSolrStartFailed, port, "", -1)));
}

// The stand-in through its real control script: the server comes up, and it keeps running
// when the object that started it is gone; a second start stops it first and starts it again.
TEST_F(SolrInstanceTest, TheStartedServerOutlivesTheObjectThatStartedIt) {
  test::CSearchStandIn standIn(Folder(), test::FreePort());
  std::string version;
  {
    CSolrInstance server;
    ASSERT_TRUE(server.Start(Folder(), standIn.Port(), version, 30)) << TraceLog();
  }
  EXPECT_EQ(version, "9.4.1");
  EXPECT_TRUE(standIn.Answers());
  {
    CSolrInstance server;
    EXPECT_TRUE(server.Start(Folder(), standIn.Port(), version, 30));
  }
  EXPECT_TRUE(standIn.Answers());
  EXPECT_TRUE(standIn.Stop());
  EXPECT_FALSE(standIn.Answers());
}

}  // namespace
}  // namespace brimora
