// The search server control and its cores, with a recording fake of the control script and
// scripted HTTP servers in place of the server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "common/command_runner.h"
#include "common/format.h"
#include "common/trace_log.h"
#include "search/dump_page.h"
#include "search/solr_core.h"
#include "support/fake_command_runner.h"
#include "support/http_test_server.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using test::CHttpTestServer;
using test::HttpReply;
using test::ReadFile;
using test::WriteFile;

// A temporary folder with "Execute" as the working folder and the trace log in its "Logs", and a
// server object for "../solr home" whose clock moves a second with a pause of a second (any
// other pause ends every wait at once) and stands still while a request runs.
class SolrInstanceTest : public ::testing::Test {
 protected:
  SolrInstanceTest() {
    fs::create_directories(dir_ / "Execute");
    fs::current_path(dir_ / "Execute");
    InitTraceLog("SolrTest", false);
    server_.SetLocation("../solr home", 8983);
    server_.timing.nowMilliseconds = [this] { return now_; };
    server_.timing.sleep = [this](std::uint32_t milliseconds) { now_ += milliseconds == 1000 ? 1000 : 1000000; };
    server_.timing.startLimitSeconds = 7;
  }
  ~SolrInstanceTest() override {
    ShutdownTraceLog();
    fs::current_path(saved_);
    SetSearchServerAvailable(true);
  }
  // Everything the trace log received so far; the log goes on afterwards.
  std::string TraceLog() {
    ShutdownTraceLog();
    InitTraceLog("SolrTest", false);
    return ReadFile(dir_ / "Logs/SolrTestLog.txt");
  }
  std::string Line(const std::string& command, int port) const {
    return Format("\"%s/bin/solr\" %s -p %d", dir_ / "Execute/../solr home", command, port);
  }

  const fs::path saved_ = fs::current_path();
  test::TempFolder dir_;
  test::CFakeCommandRunner fake_;
  CScopedCommandRunner use_{fake_};
  CSolrInstance server_;
  std::int64_t now_ = 1000000;
};

// A script ended at its limit has not run to its end and has no exit code.
TEST_F(SolrInstanceTest, AScriptEndedAtItsLimitHasNoExitCode) {
  fake_.AnswerTimeOut();
  std::string output;
  int exitCode = -1;
  EXPECT_FALSE(server_.RunSolrCommand("stop", output, exitCode));
  EXPECT_EQ(exitCode, -1);
}

// Any answer shows that the server is up, a 404 included; it has started when its system
// information can be read, with a version or without one. A server that takes the connection
// and never answers holds no request past the end of the wait (the system information gets at
// least a second).
TEST_F(SolrInstanceTest, StartWaitsForAnAnswerAndReadsTheSystemInformation) {
  const std::string other = "<response><str name=\"other\">1</str></response>";
  const struct {
    int pingStatus;
    HttpReply info;
    bool started;
    std::string version;
    const char* line;  // with the address and the reply, or the reply alone
  } cases[] = {
      {404, {200, "<r><lst><str name=\"solr-spec-version\">9.4.1</str></lst></r>"}, true, "9.4.1", kSolrResponded},
      {200, {200, other}, true, "unchanged", kSolrNoVersion},
      {200, {200, "<html>oops"}, false, "unchanged", kSolrReplyNotXml},
      {200, {0}, false, "unchanged", kSolrRequestFailed},
      {200, {-1}, false, "unchanged", kSolrRequestFailed},
      {-1, {-1}, false, "unchanged", kSolrTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    CHttpTestServer http({{c.pingStatus, "page"}, c.info});
    fake_ = {};
    std::string version = "unchanged";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(server_.Start("../solr home", http.Port(), version, 1), c.started);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
    EXPECT_EQ(version, c.version);
    const std::string url = Format("http://localhost:%d/solr/admin/info/system?wt=xml", http.Port());
    EXPECT_THAT(TraceLog(), HasSubstr(c.line == kSolrNoVersion ? Format(c.line, other)
                                      : c.line == kSolrTimedOut ? Format(c.line, 1) : Format(c.line, url, c.info.body)));
    EXPECT_THAT(fake_.CommandLines(), ElementsAre(Line("stop", http.Port()), Line("start", http.Port())));
    const CommandOptions& stop = fake_.Commands()[0].options;
    const CommandOptions& start = fake_.Commands()[1].options;  // no capture: the server keeps it open
    EXPECT_EQ(std::tie(stop.timeoutSeconds, stop.stderrToo, start.timeoutSeconds, start.captureOutput),
              std::make_tuple(600u, true, 7u, false));
  }
}

// A start script that fails or is ended at its limit: no server is waited for.
TEST_F(SolrInstanceTest, AStartScriptThatFailsLeavesThePortAtMinusOne) {
  const int port = test::FreePort();
  for (const int exitCode : {1, -1}) {
    fake_.AnswerExit(0, "stopped");
    exitCode < 0 ? fake_.AnswerTimeOut() : fake_.AnswerExit(exitCode);
    std::string version;
    EXPECT_FALSE(server_.Start("../solr home", port, version, 30));
    EXPECT_EQ(server_.port, -1);
    EXPECT_EQ(now_, 1000000) << "no server is waited for";
    EXPECT_THAT(TraceLog(), HasSubstr(Format(kSolrStartFailed, port, "stopped", exitCode)));
  }
}

// Polled once a second until the time-out has passed: time-out + 1 pauses.
TEST_F(SolrInstanceTest, AServerThatNeverAnswersTimesOut) {
  std::string version;
  EXPECT_FALSE(server_.Start("../solr home", test::FreePort(), version, 30));
  EXPECT_EQ(now_, 1031000);
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kSolrTimedOut, 30)));
}

// A stop counts once the port refuses connections; a server that answers, or takes the
// connection and never answers, still runs when the wait is over. The script's exit code and
// output are logged either way.
TEST_F(SolrInstanceTest, StopWaitsUntilThePortRefusesConnections) {
  const struct { bool running; HttpReply reply; } cases[] = {{false, {}}, {true, {404}}, {true, {-1}}};
  for (const auto& c : cases) {
    std::unique_ptr<CHttpTestServer> http;
    if (c.running) http = std::make_unique<CHttpTestServer>(std::vector<HttpReply>{c.reply});
    const int port = c.running ? http->Port() : test::FreePort();
    server_.SetLocation("../solr home", port);
    fake_ = {};
    fake_.AnswerExit(c.running ? 0 : 1, "no server");
    now_ = 1000000;
    EXPECT_EQ(server_.Stop(1), !c.running) << c.reply.status;
    EXPECT_EQ(now_, c.running ? 2000000 : 1000000) << "waited only while the port takes connections";
    EXPECT_THAT(fake_.CommandLines(), ElementsAre(Line("stop", port)));
    const std::string log = TraceLog();
    EXPECT_THAT(log, HasSubstr(Format(kSolrStopExitCode, c.running ? 0 : 1, "no server")));
    EXPECT_EQ(log.find(Format(kSolrStillRunning, port, 1)) != std::string::npos, c.running);
  }
}

std::string Page(const std::string& documents) { return "{\"response\":{\"docs\":" + documents + "}}"; }
std::string Select(int start) { return Format("select?q=*&start=%d&rows=100&wt=json", start); }
std::string Utf16(const std::string& ascii) {
  std::string bytes;
  for (const char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

// Documents with characters of two, three and four UTF-8 bytes: as the server gives them, as a
// dump page holds them, and the page file's bytes.
const std::string kText = "\xC3\xBC\xE2\x80\x93\xF0\x9F\x98\x80";
const std::string kReply = Page("[{\"id\":\"1\",\"t\":\"" + kText + "\",\"_version_\":7},{\"_version_\":8}]");
const std::string kPage = "[{\"id\":\"1\",\"t\":\"" + kText + "\",\"xqxrver_l\":7},{\"xqxrver_l\":8}]";
const std::string kPageBytes = Utf16("[{\"id\":\"1\",\"t\":\"") + std::string("\xFC\0\x13\x20\x3D\xD8\x00\xDE", 8) +
                               Utf16("\",\"xqxrver_l\":7},{\"xqxrver_l\":8}]");

// The core "Brimora" of the server, and its dump folder.
class SolrCoreTest : public SolrInstanceTest {
 protected:
  std::string Dump() const { return dir_ / "dump"; }
  std::string PageFile(int page) const { return DumpFileName(Dump(), page); }
  // Which of the pages 1 and 2 are there: "12", "2", "".
  std::string Pages() const {
    return std::string(fs::exists(PageFile(1)) ? "1" : "") + (fs::exists(PageFile(2)) ? "2" : "");
  }

  CSolrCore core_{server_, "Brimora", 0};
};

// Only an empty list ends a dump with success: any other reply would lose documents. The pages
// written until then stay.
TEST_F(SolrCoreTest, ADumpSucceedsOnlyAtAnEmptyList) {
  const struct {
    HttpReply first;  // the reply to the first query; later ones fail with 500
    std::string pages;
    std::string line;  // empty for a dump that succeeds
    bool blocked;  // a file where the dump folder goes
  } cases[] = {
      {{200, Page("[]")}, "", "", false},
      {{200, Page("[\n  ]")}, "", "", false},
      {{200, "{\"docs\":0}"}, "", Format(kCoreReplyNotAList, Select(0), "Brimora", "{\"docs\":0}"), false},
      {{200, "] ["}, "", Format(kCoreReplyNotAList, Select(0), "Brimora", "] ["), false},
      {{200, ""}, "", Format(kCoreReplyNotAList, Select(0), "Brimora", ""), false},
      {{500, Page("[]")}, "", Format(kCoreQueryFailed, Select(0), "Brimora", 500), false},
      {{404, "no such core"}, "", Format(kCoreQueryFailed, Select(0), "Brimora", 404), false},
      {{0}, "", Format(kCoreQueryFailed, Select(0), "Brimora", 0), false},  // no answer at all
      {{200, kReply}, "", Format(kCoreDumpNotWritten, PageFile(1), ENOTDIR, "Not a directory"), true},
      {{200, kReply}, "1", Format(kCoreQueryFailed, Select(100), "Brimora", 500), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fs::remove_all(Dump());
    if (c.blocked) WriteFile(Dump(), "a file in the dump folder's place");
    CHttpTestServer http({c.first, {c.first.status == 0 ? 0 : 500, "{\"error\":\"broken\"}"}});
    server_.port = http.Port();
    EXPECT_EQ(core_.DumpIndex(Dump()), c.line.empty());
    EXPECT_EQ(Pages(), c.pages);
    const std::string log = TraceLog();
    EXPECT_THAT(log, HasSubstr(c.line));
    if (c.first.status == 0) {
      const std::string url = Format("http://localhost:%d/solr/Brimora/%s", http.Port(), Select(0));
      EXPECT_THAT(log, HasSubstr(Format(kCoreRequestFailed, url)));
      std::string reply;
      EXPECT_FALSE(core_.HttpGet(Select(0), reply)) << "no answer is not an answer";
    }
  }
  EXPECT_EQ(ReadFile(Dump() + "/solr0000001.idx"), kPageBytes);
}

// Pages load in order, each deleted once the server has taken it. The first page that cannot be
// read, is empty or is refused stops the load, and stays with the pages after it.
TEST_F(SolrCoreTest, ALoadStopsAtThePageThatIsNotTaken) {
  const struct {
    std::string first;  // page 1; page 2 is good
    std::vector<HttpReply> replies;
    std::string left;  // the pages left
  } cases[] = {
      {kPageBytes, {{200, "{}"}}, ""},
      {kPageBytes, {{200, "{}"}, {500, "{\"error\":\"disk full\"}"}}, "2"},
      {"", {{200}}, "12"},
      {std::string("[\0]", 3), {{200}}, "12"},             // odd length
      {std::string("[\0\x00\xD8]\0", 6), {{200}}, "12"},  // high surrogate alone
      {std::string("[\0\x00\xDC]\0", 6), {{200}}, "12"},  // low surrogate alone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.size());
    fs::remove_all(Dump());
    WriteFile(PageFile(1), c.first);
    WriteFile(PageFile(2), kPageBytes);
    CHttpTestServer http(c.replies);
    server_.port = http.Port();
    EXPECT_EQ(core_.RestoreDump(Dump()), c.left.empty());
    EXPECT_EQ(Pages(), c.left);
    EXPECT_EQ(fs::exists(Dump()), !c.left.empty());
    const std::vector<test::HttpRequest> requests = http.Requests();
    EXPECT_EQ(requests.size(), c.left.size() == 2 ? 0u : 2u);
    for (const test::HttpRequest& request : requests) {
      EXPECT_EQ(request.method + " " + request.target, "POST /solr/Brimora/update?commit=true");
      EXPECT_EQ(request.body, kPage);
      EXPECT_THAT(request.head, HasSubstr("\r\nContent-type: application/json"));
    }
    EXPECT_THAT(TraceLog(), HasSubstr(c.left.empty() ? "" : Format(kCoreRestoreFailed, PageFile(c.left[0] - '0'))));
  }
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kCoreUpdateFailed, 500, "{\"error\":\"disk full\"}")));

  fs::remove_all(Dump());
  EXPECT_TRUE(core_.RestoreDump(Dump()));  // nothing to load
  WriteFile(Dump() + "/notes.txt", "kept");
  EXPECT_TRUE(core_.RestoreDump(Dump()));
  EXPECT_TRUE(fs::exists(Dump() + "/notes.txt")) << "a folder that is not empty stays";
  // A folder that cannot be examined, here for a name too long, is not a missing one.
  EXPECT_FALSE(core_.RestoreDump(dir_ / std::string(300, 'x')));
}

// While the backup has the server stopped, the core requests fail at once, without a request.
TEST_F(SolrCoreTest, RequestsFailAtOnceWhileTheServerIsNotAvailable) {
  CHttpTestServer http({{200, Page("[]")}});
  server_.port = http.Port();
  WriteFile(PageFile(1), kPageBytes);
  SetSearchServerAvailable(false);
  EXPECT_FALSE(core_.DumpIndex(dir_ / "second dump"));
  EXPECT_FALSE(core_.RestoreDump(Dump()));
  EXPECT_EQ(Pages() + " " + std::to_string(http.Requests().size()), "1 0");
}

// A missing core is copied back between a stop and a start of the server, and only both make
// a success; a core that is there is left alone, and so is the server.
TEST_F(SolrCoreTest, RestoreCorePutsAMissingCoreBack) {
  WriteFile(dir_ / "saved/core.properties", "name=Brimora\n");
  const std::vector<std::string> stopAndStart = {Line("stop", 8983), Line("start", 8983)};
  const struct {
    std::string saved;
    bool there;  // the core is there already
    int startExitCode;
    bool result;
  } cases[] = {
      {dir_ / "saved", false, 0, true},
      {dir_ / "missing", false, 0, false},
      {dir_ / "saved", false, 1, false},
      {dir_ / "missing", true, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saved + (c.there ? " there" : ""));
    if (!c.there) fs::remove_all(core_.CoreFolder());
    fake_ = {};
    for (const int exitCode : {0, c.startExitCode}) fake_.AnswerExit(exitCode, "port in use");  // stop, start
    EXPECT_EQ(core_.RestoreCore(c.saved), c.result);
    EXPECT_EQ(fs::exists(core_.CoreFolder() + "/core.properties"), c.there || c.saved == dir_ / "saved");
    EXPECT_EQ(fake_.CommandLines(), c.there ? std::vector<std::string>() : stopAndStart);
  }
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr(Format(kCoreNotCopied, dir_ / "missing", core_.CoreFolder())));
  EXPECT_THAT(log, HasSubstr(Format(kCoreRestartFailed, 1, "port in use")));
}

}  // namespace
}  // namespace brimora
