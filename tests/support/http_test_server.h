#pragma once
// A scripted HTTP server for tests: listens on a port of its own on 127.0.0.1, answers the
// requests in turn with the replies it was given (the last one again once they run out) and
// records them. One connection at a time, closed after its answer.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brimora::test {

struct HttpRequest {
  std::string method, target, body;
  std::string head;  // the request line and the header lines, as sent
};

// A status of 0 closes the connection without an answer; a negative one keeps it open without
// an answer until the client gives up (at most 5 seconds); `header` is one more header line.
struct HttpReply {
  HttpReply(int status = 200, std::string body = {}, std::string header = {})
      : status(status), body(std::move(body)), header(std::move(header)) {}
  int status;
  std::string body, header;
};

class CHttpTestServer {
 public:
  // Listens on `port`, or on a free one for 0.
  explicit CHttpTestServer(std::vector<HttpReply> replies, int port = 0);
  ~CHttpTestServer();  // stops listening and waits for the serving thread

  int Port() const { return port_; }
  std::vector<HttpRequest> Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }

 private:
  void Answer(int connection);

  const std::vector<HttpReply> replies_;
  int listener_ = -1, port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
inline int FreePort() { return CHttpTestServer(std::vector<HttpReply>(1)).Port(); }

}  // namespace brimora::test
