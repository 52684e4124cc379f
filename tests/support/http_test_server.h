#pragma once
// A scripted HTTP server for tests: listens on 127.0.0.1 at a port of its own, answers every
// request with what the test's handler returns, and records the requests. One connection at a
// time, each closed after its answer.
//
//   test::CHttpTestServer server([](const test::HttpRequest& request) {
//     return test::HttpReply{404, "not here"};
//   });
//   ... request http://localhost:<server.Port()>/... ...
//   EXPECT_EQ(server.Requests().size(), 1u);

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brimora::test {

struct HttpRequest {
  std::string method;
  std::string target;   // path and query, as sent
  std::string headers;  // the header lines, as sent
  std::string body;
};

// A status of 0 or below closes the connection without any answer.
struct HttpReply {
  HttpReply(int status = 200, std::string body = {}, std::string contentType = "text/plain; charset=utf-8",
            std::vector<std::string> extraHeaders = {})
      : status(status), body(std::move(body)), contentType(std::move(contentType)),
        extraHeaders(std::move(extraHeaders)) {}

  int status;
  std::string body;
  std::string contentType;
  std::vector<std::string> extraHeaders;  // whole lines without their line end
};

class CHttpTestServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  explicit CHttpTestServer(Handler handler);
  // Stops listening and waits for the serving thread.
  ~CHttpTestServer();
  CHttpTestServer(const CHttpTestServer&) = delete;
  CHttpTestServer& operator=(const CHttpTestServer&) = delete;

  int Port() const { return port_; }
  std::vector<HttpRequest> Requests() const;

 private:
  void Serve();
  void Answer(int connection);

  Handler handler_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreePort();

}  // namespace brimora::test
