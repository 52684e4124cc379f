#include "search/solr_core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "common/command_runner.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "search/dump_page.h"
#include "search/search_fixture.h"
#include "support/fake_command_runner.h"
#include "support/http_test_server.h"
#include "support/search_standin.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using test::CHttpTestServer;
using test::HttpReply;
using test::HttpRequest;
using test::ReadFile;
using test::WriteFile;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Page(const std::string& documents) { return "{\"response\":{\"docs\":" + documents + "}}"; }

std::string SelectTarget(const std::string& core, int start) {
  return Format("/solr/%s/select?q=*&start=%d&rows=100&wt=json", core, start);
}

class SolrCoreTest : public test::SearchTest {
 protected:
  // A server object for a server folder in the test's folder on `port`.
  void Use(int port) { server_.SetLocation(dir_ / "solr", port); }
  std::string Dump() const { return dir_ / "dump"; }
  // Writes page n of a dump as the dump writes it.
  void WritePage(int page, const std::string& text) { WriteFile(DumpFileName(Dump(), page), EncodeUtf16Le(text)); }

  CSolrInstance server_;
};

// A core of 250 documents dumps into pages of 100, 100 and 50 documents (UTF-16LE, the
// version field renamed), and the pages load into another core, which then holds them all.
TEST_F(SolrCoreTest, ACoreDumpsIntoPagesAndTheyLoadBackIntoACore) {
  test::CSearchStandIn standIn(dir_ / "solr", test::FreePort());
  standIn.AddCore("Brimora");
  standIn.AddCore("Copy");
  ASSERT_TRUE(standIn.Start());
  ASSERT_TRUE(standIn.AddDocuments("Brimora", test::SampleDocuments("doc", 250)));
  Use(standIn.Port());

  ASSERT_TRUE(CSolrCore(server_, "Brimora", 0).DumpIndex(Dump()));
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(Dump())) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_THAT(files, ElementsAre("solr0000001.idx", "solr0000002.idx", "solr0000003.idx"));
  const std::size_t expected[] = {100, 100, 50};
  for (int page = 1; page <= 3; ++page) {
    SCOPED_TRACE(page);
    const std::string bytes = ReadFile(DumpFileName(Dump(), page));
    EXPECT_EQ(bytes.substr(0, 2), std::string("[\0", 2)) << "no byte-order mark, little-endian";
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("]\0", 2)) << "nothing after the array";
    std::string text;
    ASSERT_TRUE(DecodeUtf16Le(bytes, text));
    EXPECT_EQ(bytes.size(), EncodeUtf16Le(text).size());
    EXPECT_EQ(Count(text, "\"id\":"), expected[page - 1]);
    EXPECT_EQ(Count(text, "\"xqxrver_l\":"), expected[page - 1]);
    EXPECT_EQ(Count(text, "_version_"), 0u);
    EXPECT_THAT(text, HasSubstr("Prüfbericht"));
    EXPECT_THAT(text, HasSubstr("\xF0\x9F\x98\x80"));
  }

  EXPECT_TRUE(CSolrCore(server_, "Copy", 0).RestoreDump(Dump()));
  EXPECT_FALSE(fs::exists(Dump()));
  EXPECT_EQ(standIn.DocumentCount("Copy"), 250);
  std::string reply;
  ASSERT_TRUE(CSolrCore(server_, "Copy", 0).HttpGet("select?q=*&start=249&rows=1&wt=json", reply));
  EXPECT_THAT(reply, HasSubstr("\"id\":\"doc-0249\",\"title\":\"Prüfbericht 249 – 試験 \xF0\x9F\x98\x80\""));
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kCoreRestoring, "Copy")));
}

// Only a reply with an empty list ends a dump with success; any other ending loses documents.
TEST_F(SolrCoreTest, DumpSucceedsOnlyAtAnEmptyList) {
  const struct {
    HttpReply reply;
    bool result;
  } cases[] = {
      {{200, Page("[]")}, true},
      {{200, Page("[\n  ]")}, true},
      {{200, "{\"error\":\"no list here\"}"}, false},
      {{200, "] ["}, false},
      {{200, ""}, false},
      {{500, Page("[]")}, false},
      {{404, "no such core"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.body + " " + std::to_string(c.reply.status));
    CHttpTestServer http([&](const HttpRequest&) { return c.reply; });
    Use(http.Port());
    EXPECT_EQ(CSolrCore(server_, "Brimora", 0).DumpIndex(Dump()), c.result);
    EXPECT_FALSE(fs::exists(DumpFileName(Dump(), 1)));
    EXPECT_THAT(http.Requests().at(0).target, SelectTarget("Brimora", 0));
  }
}

TEST_F(SolrCoreTest, AQueryFailingInTheMiddleFailsTheDumpAndKeepsItsPages) {
  CHttpTestServer http([](const HttpRequest& request) {
    if (request.target == SelectTarget("Brimora", 0)) return HttpReply{200, Page("[{\"id\":\"1\",\"_version_\":7}]")};
    return HttpReply{500, "{\"error\":\"index broken\"}"};
  });
  Use(http.Port());
  EXPECT_FALSE(CSolrCore(server_, "Brimora", 0).DumpIndex(Dump()));
  std::string first;
  ASSERT_TRUE(DecodeUtf16Le(ReadFile(DumpFileName(Dump(), 1)), first));
  EXPECT_EQ(first, "[{\"id\":\"1\",\"xqxrver_l\":7}]");
  EXPECT_FALSE(fs::exists(DumpFileName(Dump(), 2)));
  EXPECT_EQ(http.Requests().size(), 2u);
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kCoreQueryFailed, "select?q=*&start=100&rows=100&wt=json", "Brimora", 500)));
}

TEST_F(SolrCoreTest, AQueryThatGetsNoAnswerFailsTheDump) {
  Use(test::FreePort());
  std::string reply;
  EXPECT_FALSE(CSolrCore(server_, "Brimora", 0).HttpGet("select?q=*", reply));
  EXPECT_FALSE(CSolrCore(server_, "Brimora", 0).DumpIndex(Dump()));
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr(Format(kCoreRequestFailed, Format("http://localhost:%d/solr/Brimora/select?q=*&start=0&rows=100&wt=json", server_.port))));
  EXPECT_THAT(log, HasSubstr(Format(kCoreQueryFailed, "select?q=*&start=0&rows=100&wt=json", "Brimora", 0)));
}

TEST_F(SolrCoreTest, APageThatCannotBeWrittenFailsTheDump) {
  CHttpTestServer http([](const HttpRequest&) { return HttpReply{200, Page("[{\"id\":\"1\"}]")}; });
  Use(http.Port());
  WriteFile(Dump(), "a file in the dump folder's place");
  EXPECT_FALSE(CSolrCore(server_, "Brimora", 0).DumpIndex(Dump()));
  EXPECT_EQ(http.Requests().size(), 1u);
  EXPECT_EQ(ReadFile(Dump()), "a file in the dump folder's place");
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kCoreDumpNotWritten, DumpFileName(Dump(), 1), ENOTDIR, "Not a directory")));
}

// A dump folder that is there but cannot be listed is not an empty one.
TEST_F(SolrCoreTest, ADumpFolderThatCannotBeListedFailsTheLoad) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  WritePage(1, "[{\"id\":\"1\"}]");
  ASSERT_EQ(chmod(dir_.Path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(Dump().c_str(), 0311), 0);
  Use(test::FreePort());
  const int code = test::RunForkedUnprivileged([this] {
    return CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()) ? 0 : 1;
  });
  EXPECT_EQ(code, 1);
  // Nor is one that cannot even be examined a missing one.
  ASSERT_EQ(chmod(dir_.Path().c_str(), 0700), 0);
  EXPECT_EQ(test::RunForkedUnprivileged([this] { return CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()) ? 0 : 1; }), 1);
  chmod(Dump().c_str(), 0755);
  EXPECT_TRUE(fs::exists(DumpFileName(Dump(), 1)));
}

// A page the server does not take stays, with every page after it; the ones taken are gone.
TEST_F(SolrCoreTest, AnUpdateThatIsRefusedKeepsItsPageAndStopsTheLoad) {
  int posts = 0;
  CHttpTestServer http([&posts](const HttpRequest&) {
    return ++posts == 1 ? HttpReply{200, "{\"status\":0}"} : HttpReply{500, "{\"error\":\"disk full\"}"};
  });
  Use(http.Port());
  WritePage(1, "[{\"id\":\"1\",\"t\":\"Pr\xC3\xBC" "f\"}]");
  WritePage(2, "[{\"id\":\"2\"}]");
  WritePage(3, "[{\"id\":\"3\"}]");
  EXPECT_FALSE(CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()));
  EXPECT_FALSE(fs::exists(DumpFileName(Dump(), 1)));
  EXPECT_TRUE(fs::exists(DumpFileName(Dump(), 2)));
  EXPECT_TRUE(fs::exists(DumpFileName(Dump(), 3)));

  const std::vector<HttpRequest> requests = http.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/solr/Brimora/update?commit=true");
  EXPECT_EQ(requests[0].body, "[{\"id\":\"1\",\"t\":\"Pr\xC3\xBC" "f\"}]");
  EXPECT_THAT(requests[0].headers, HasSubstr("Content-type: application/json"));
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr(Format(kCoreUpdateFailed, 500, "{\"error\":\"disk full\"}")));
  EXPECT_THAT(log, HasSubstr(Format(kCoreRestoreFailed, DumpFileName(Dump(), 2))));
}

TEST_F(SolrCoreTest, PagesThatCannotBeReadStopTheLoadBeforeAnythingIsPosted) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"odd length", std::string("[\0]", 3)},
      {"lone surrogate", std::string("[\0\x00\xD8]\0", 6)},
      {"lone low surrogate", std::string("[\0\x00\xDC]\0", 6)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CHttpTestServer http([](const HttpRequest&) { return HttpReply{200, "{}"}; });
    Use(http.Port());
    fs::remove_all(Dump());
    WriteFile(DumpFileName(Dump(), 1), c.bytes);
    WritePage(2, "[{\"id\":\"2\"}]");
    EXPECT_FALSE(CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()));
    EXPECT_TRUE(fs::exists(DumpFileName(Dump(), 1)));
    EXPECT_TRUE(fs::exists(DumpFileName(Dump(), 2)));
    EXPECT_TRUE(http.Requests().empty());
  }
  EXPECT_THAT(TraceLog(), HasSubstr(Format(kCoreRestoreFailed, DumpFileName(Dump(), 1))));
}

TEST_F(SolrCoreTest, ALoadWithNothingToLoadSucceeds) {
  EXPECT_TRUE(CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()));  // no folder
  fs::create_directories(Dump());
  WriteFile(Dump() + "/notes.txt", "kept");
  EXPECT_TRUE(CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()));
  EXPECT_TRUE(fs::exists(Dump() + "/notes.txt")) << "a folder that is not empty stays";
  fs::remove(Dump() + "/notes.txt");
  EXPECT_TRUE(CSolrCore(server_, "Brimora", 0).RestoreDump(Dump()));
  EXPECT_FALSE(fs::exists(Dump()));
}

// While the server is stopped for a backup, the core requests fail at once, without a request.
TEST_F(SolrCoreTest, RequestsFailAtOnceWhileTheServerIsNotAvailable) {
  CHttpTestServer http([](const HttpRequest&) { return HttpReply{200, Page("[]")}; });
  Use(http.Port());
  WritePage(1, "[{\"id\":\"1\"}]");
  SetSearchServerAvailable(false);
  CSolrCore core(server_, "Brimora", 0);
  std::string reply = "untouched";
  EXPECT_FALSE(core.HttpGet("select?q=*", reply));
  EXPECT_EQ(reply, "untouched");
  EXPECT_FALSE(core.DumpIndex(dir_ / "second dump"));
  EXPECT_FALSE(core.RestoreDump(Dump()));
  EXPECT_TRUE(fs::exists(DumpFileName(Dump(), 1)));
  EXPECT_TRUE(http.Requests().empty());

  SetSearchServerAvailable(true);
  EXPECT_TRUE(core.HttpGet("select?q=*", reply));
  EXPECT_EQ(http.Requests().size(), 1u);
}

TEST_F(SolrCoreTest, BackupCopiesTheCoreFolderAsItLies) {
  Use(8983);
  CSolrCore core(server_, "Brimora", 0);
  EXPECT_EQ(core.CoreFolder(), dir_ / "solr/server/solr/Brimora");

  EXPECT_TRUE(core.BackupDatabase(dir_ / "backup"));  // no core folder: nothing to save
  EXPECT_FALSE(fs::exists(dir_ / "backup/Brimora"));

  WriteFile(core.CoreFolder() + "/core.properties", "name=Brimora\n");
  WriteFile(core.CoreFolder() + "/data/index/segments_1", std::string("\0\1\2", 3));
  EXPECT_TRUE(core.BackupDatabase(dir_ / "backup"));
  EXPECT_EQ(test::Snapshot(dir_ / "backup/Brimora"), test::Snapshot(core.CoreFolder()));

  WriteFile(dir_ / "blocked/Brimora", "a file where the copy goes");
  EXPECT_FALSE(core.BackupDatabase(dir_ / "blocked"));
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr(kCoreNotThere));
  EXPECT_THAT(log, HasSubstr(Format(kCoreNotCopied, core.CoreFolder(), dir_ / "blocked/Brimora")));
}

TEST_F(SolrCoreTest, RestoreCorePutsAMissingCoreBackAndRestartsTheServer) {
  test::CFakeCommandRunner fake;
  CScopedCommandRunner use(fake);
  Use(8983);
  CSolrCore core(server_, "Brimora", 0);
  const std::string saved = dir_ / "saved/Brimora";
  WriteFile(saved + "/core.properties", "name=Brimora\n");

  EXPECT_TRUE(core.RestoreCore(saved));
  EXPECT_EQ(test::Snapshot(core.CoreFolder()), test::Snapshot(saved));
  const std::string script = dir_ / "solr/bin/solr";
  EXPECT_THAT(fake.CommandLines(), ElementsAre(script + " stop -p 8983", script + " start -p 8983"));

  // There now: nothing to do, the server is left alone.
  EXPECT_TRUE(core.RestoreCore(dir_ / "elsewhere"));
  EXPECT_EQ(fake.Commands().size(), 2u);
}

TEST_F(SolrCoreTest, RestoreCoreFailsWhenTheCopyOrTheRestartFails) {
  test::CFakeCommandRunner fake;
  CScopedCommandRunner use(fake);
  Use(8983);
  CSolrCore core(server_, "Brimora", 0);

  // No saved core: the restart succeeds, the answer is still false.
  EXPECT_FALSE(core.RestoreCore(dir_ / "missing"));
  EXPECT_FALSE(fs::exists(core.CoreFolder()));
  EXPECT_EQ(fake.Commands().size(), 2u);

  WriteFile(dir_ / "saved/Brimora/core.properties", "name=Brimora\n");
  fake.AnswerExit(0);
  fake.AnswerExit(1, "port in use");
  EXPECT_FALSE(core.RestoreCore(dir_ / "saved/Brimora"));
  EXPECT_TRUE(fs::exists(core.CoreFolder() + "/core.properties"));
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr(Format(kCoreNotCopied, dir_ / "missing", core.CoreFolder())));
  EXPECT_THAT(log, HasSubstr(Format(kCoreRestartFailed, 1, "port in use")));
}

}  // namespace
}  // namespace brimora
