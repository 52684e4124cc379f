#include "search/curl_comm.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/format.h"
#include "support/http_test_server.h"

namespace brimora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using test::CHttpTestServer;
using test::HttpReply;
using test::HttpRequest;

std::string Url(const CHttpTestServer& server, const std::string& path) {
  return Format("http://localhost:%d%s", server.Port(), path);
}

TEST(CURLCommTest, AnyHttpAnswerIsAResponseAndItsBodyIsDecoded) {
  const struct {
    int status;
    std::string body;
    std::string text;
  } cases[] = {
      {200, "plain", "plain"},
      {404, "<html>not here</html>", "<html>not here</html>"},
      {500, "", ""},
      {200, "\xEF\xBB\xBF", "\xEF\xBB\xBF"},  // the mark alone is a character, not a mark
      {200, "\xEF\xBB\xBF{}", "{}"},
      {200, "\xEF\xBB\xBF\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
      {200, "caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {200, "latin-1 caf\xE9", ""},  // not UTF-8: nothing usable
      {200, std::string("before\0after", 12), "before"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    CHttpTestServer server([&](const HttpRequest&) { return HttpReply{c.status, c.body}; });
    CURLComm comm;
    ASSERT_EQ(comm.Init(), 0);
    std::string response = "left over";
    EXPECT_EQ(comm.Get(Url(server, "/solr"), response), 0);
    EXPECT_EQ(comm.Status(), c.status);
    EXPECT_EQ(response, c.text);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].method, "GET");
    EXPECT_EQ(server.Requests()[0].target, "/solr");
  }
}

TEST(CURLCommTest, NothingListeningIsATransportErrorWithoutAResponse) {
  const std::string url = Format("http://localhost:%d/solr", test::FreePort());
  CURLComm comm;
  ASSERT_EQ(comm.Init(), 0);
  std::string response = "before";
  EXPECT_EQ(comm.Get(url, response), CURLE_COULDNT_CONNECT);
  EXPECT_EQ(response, "before");
  EXPECT_EQ(comm.Status(), 0);
  EXPECT_EQ(comm.PostText(url, "[]", "Content-type: application/json", response), -2);
  EXPECT_EQ(response, "");
  EXPECT_EQ(comm.Status(), 0);
}

TEST(CURLCommTest, RequestsNeedAHandleAndPostTextAUrl) {
  CURLComm comm;
  std::string response = "before";
  EXPECT_EQ(comm.Get("http://localhost:1/", response), -1);
  EXPECT_EQ(comm.Post("http://localhost:1/", "x", 1, "Content-type: text/plain"), -1);
  ASSERT_EQ(comm.Init(), 0);
  ASSERT_EQ(comm.Init(), 0);  // a second Init keeps the handle
  EXPECT_EQ(comm.PostText("", "x", "Content-type: text/plain", response), -1);
  EXPECT_EQ(response, "");
}

// The body goes out byte for byte with its content type; a Get on the same object afterwards
// is a plain GET again, without the body or the header of the post.
TEST(CURLCommTest, PostSendsTheBodyAndALaterGetIsAPlainGet) {
  CHttpTestServer server([](const HttpRequest& request) {
    return request.method == "POST" ? HttpReply{200, "\xEF\xBB\xBF{\"status\":0}"} : HttpReply{404, "nothing"};
  });
  const std::string body = "[{\"id\":\"1\",\"t\":\"Pr\xC3\xBC" "f\"}]";
  CURLComm comm;
  ASSERT_EQ(comm.Init(), 0);
  std::string response;
  ASSERT_EQ(comm.PostText(Url(server, "/solr/c/update?commit=true"), body, "Content-type: application/json", response), 0);
  EXPECT_EQ(comm.Status(), 200);
  EXPECT_EQ(response, "{\"status\":0}");
  ASSERT_EQ(comm.Get(Url(server, "/solr"), response), 0);
  EXPECT_EQ(comm.Status(), 404);

  const std::vector<HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/solr/c/update?commit=true");
  EXPECT_EQ(requests[0].body, body);
  EXPECT_THAT(requests[0].headers, HasSubstr("Content-type: application/json"));
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].body, "");
  EXPECT_THAT(requests[1].headers, Not(HasSubstr("application/json")));
}

TEST(CURLCommTest, RedirectsAreFollowed) {
  int port = 0;
  CHttpTestServer server([&port](const HttpRequest& request) {
    if (request.target == "/solr") return HttpReply{302, "", "text/plain", {Format("Location: http://localhost:%d/solr/", port)}};
    return HttpReply{200, "arrived"};
  });
  port = server.Port();
  CURLComm comm;
  ASSERT_EQ(comm.Init(), 0);
  std::string response;
  ASSERT_EQ(comm.Get(Url(server, "/solr"), response), 0);
  EXPECT_EQ(comm.Status(), 200);
  EXPECT_EQ(response, "arrived");
}

// A proxy named in the environment is for other hosts: the local server is asked directly.
TEST(CURLCommTest, ProxiesOfTheEnvironmentAreNotUsedForTheLoopbackHost) {
  CHttpTestServer server([](const HttpRequest&) { return HttpReply{200, "direct"}; });
  const std::string deadProxy = Format("http://127.0.0.1:%d", test::FreePort());
  setenv("http_proxy", deadProxy.c_str(), 1);
  setenv("ALL_PROXY", deadProxy.c_str(), 1);
  CURLComm comm;
  std::string response;
  const int rc = comm.Init() == 0 ? comm.Get(Url(server, "/solr"), response) : -99;
  unsetenv("http_proxy");
  unsetenv("ALL_PROXY");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(response, "direct");
}

}  // namespace
}  // namespace brimora
