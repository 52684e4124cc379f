#include "search/curl_comm.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "support/http_test_server.h"

namespace brimora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using test::CHttpTestServer;
using test::HttpReply;

// Any HTTP answer is a response, whatever its status, and its body comes back decoded. A
// proxy named in the environment is for other hosts: the local server is asked directly.
TEST(CURLCommTest, AnyHttpAnswerIsAResponseAndItsBodyIsDecoded) {
  const struct {
    std::vector<HttpReply> replies;
    std::string answer;  // status and text
  } cases[] = {
      {{{200, "plain"}}, "200 plain"},
      {{{404, "<html>not here</html>"}}, "404 <html>not here</html>"},
      {{{200, "\xEF\xBB\xBF"}}, "200 \xEF\xBB\xBF"},  // the mark alone is a character, not a mark
      {{{200, "\xEF\xBB\xBF\xEF\xBB\xBFx"}}, "200 \xEF\xBB\xBFx"},
      {{{200, "caf\xC3\xA9 \xF0\x9F\x98\x80"}}, "200 caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {{{200, "latin-1 caf\xE9"}}, "200 "},  // not UTF-8: nothing usable
      {{{200, std::string("before\0after", 12)}}, "200 before"},
      {{{302, "", "Location: /moved"}, {200, "arrived"}}, "200 arrived"},
  };
  const std::string deadProxy = Format("http://127.0.0.1:%d", test::FreePort());
  setenv("http_proxy", deadProxy.c_str(), 1);
  const std::shared_ptr<void> unset(nullptr, [](void*) { unsetenv("http_proxy"); });  // however the test ends
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    CHttpTestServer server(c.replies);
    CURLComm comm;
    EXPECT_EQ(comm.Init(), 0);
    std::string response = "left over";
    EXPECT_EQ(comm.Get(Format("http://localhost:%d/solr", server.Port()), response), 0);
    EXPECT_EQ(std::to_string(comm.Status()) + " " + response, c.answer);
    EXPECT_EQ(server.Requests().at(0).method + " " + server.Requests()[0].target, "GET /solr");
  }
}

// A failed transfer has no status and leaves a Get's reply alone; nothing is sent without a
// handle, nor posted without an address. A reply beyond the cap fails the request with a line.
TEST(CURLCommTest, FailedRequestsHaveNoResponse) {
  const std::string url = Format("http://localhost:%d/solr", test::FreePort());
  CURLComm comm;
  std::string response = "before";
  EXPECT_EQ(comm.Get(url, response), -1);
  EXPECT_EQ(comm.Post(url, "x", 1, "Content-type: text/plain"), -1);
  ASSERT_EQ(comm.Init(), 0);
  ASSERT_EQ(comm.Init(), 0);  // a second Init keeps the handle
  EXPECT_EQ(comm.Get(url, response), CURLE_COULDNT_CONNECT);
  EXPECT_EQ(response + std::to_string(comm.Status()), "before0");
  EXPECT_EQ(comm.PostText(url, "[]", "Content-type: application/json", response), -2);
  EXPECT_EQ(response + std::to_string(comm.Status()), "0");
  EXPECT_EQ(comm.PostText("", "x", "Content-type: text/plain", response), -1);

  CHttpTestServer large({{200, std::string(kMaxReplyBytes + 1, 'x')}});
  const std::string largeUrl = Format("http://localhost:%d/solr", large.Port());
  ::testing::internal::CaptureStderr();  // the trace log is not open: its lines go there
  EXPECT_EQ(comm.Get(largeUrl, response), CURLE_WRITE_ERROR);
  EXPECT_EQ(comm.PostText(largeUrl, "[]", "Content-type: application/json", response), -2);
  const std::string lines = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::to_string(response.size()) + " " + std::to_string(comm.Status()), "0 0");
  const std::string line = Format(kCurlReplyTooLarge, largeUrl, 64);
  EXPECT_NE(lines.find(line, lines.find(line) + 1), std::string::npos) << "a line for each: " << lines;
}

// A Get on the object that posted before is a plain GET again, without the post's body or header.
TEST(CURLCommTest, AGetAfterAPostIsAPlainGet) {
  CHttpTestServer server({{200, "\xEF\xBB\xBF{\"status\":0}"}, {404, "nothing"}});
  const std::string url = Format("http://localhost:%d/solr", server.Port());
  CURLComm comm;
  std::string response;
  ASSERT_EQ(comm.Init(), 0);
  ASSERT_EQ(comm.PostText(url + "/update", "[]", "Content-type: application/json", response), 0);
  EXPECT_EQ(response + " " + std::to_string(comm.Status()), "{\"status\":0} 200");
  ASSERT_EQ(comm.Get(url, response), 0);
  EXPECT_EQ(response + " " + std::to_string(comm.Status()), "nothing 404");
  const test::HttpRequest get = server.Requests().at(1);
  EXPECT_EQ(get.method + get.body, "GET");
  EXPECT_THAT(get.head, Not(HasSubstr("application/json")));
}

}  // namespace
}  // namespace brimora
