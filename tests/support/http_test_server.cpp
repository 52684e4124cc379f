#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "common/strings.h"

namespace brimora::test {
namespace {

int ListenOnLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("bind");
  }
  *port = ntohs(address.sin_port);
  return fd;
}

const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

// The value of a header (name without case), or empty.
std::string HeaderValue(const std::string& headers, const std::string& name) {
  std::vector<std::string> lines;
  SplitText(headers, lines, "\r\n");
  for (const std::string& line : lines) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsIgnoringAsciiCase(line.substr(0, colon), name)) {
      return std::string(Trim(line.substr(colon + 1)));
    }
  }
  return {};
}

}  // namespace

CHttpTestServer::CHttpTestServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = ListenOnLoopback(&port_);
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  thread_ = std::thread([this] { Serve(); });
}

CHttpTestServer::~CHttpTestServer() {
  [[maybe_unused]] const ssize_t written = write(stopPipe_[1], "x", 1);
  thread_.join();
  close(listener_);
  close(stopPipe_[0]);
  close(stopPipe_[1]);
}

std::vector<HttpRequest> CHttpTestServer::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

void CHttpTestServer::Serve() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    // A client that stops sending must not hold the server for ever.
    timeval limit{5, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    Answer(connection);
    close(connection);
  }
}

void CHttpTestServer::Answer(int connection) {
  std::string received;
  char buffer[4096];
  std::size_t headerEnd = std::string::npos;
  while ((headerEnd = received.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t count = recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0) return;
    received.append(buffer, static_cast<std::size_t>(count));
  }
  HttpRequest request;
  const std::string head = received.substr(0, headerEnd);
  const std::size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  request.headers = lineEnd == std::string::npos ? "" : head.substr(lineEnd + 2);
  const std::size_t space1 = requestLine.find(' ');
  const std::size_t space2 = requestLine.find(' ', space1 + 1);
  request.method = requestLine.substr(0, space1);
  request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
  const std::size_t length = std::strtoul(HeaderValue(request.headers, "Content-Length").c_str(), nullptr, 10);
  request.body = received.substr(headerEnd + 4);
  while (request.body.size() < length) {
    const ssize_t count = recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    request.body.append(buffer, static_cast<std::size_t>(count));
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.push_back(request);
  }

  const HttpReply reply = handler_(request);
  if (reply.status <= 0) return;
  std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonOf(reply.status) + "\r\n";
  answer += "Content-Type: " + reply.contentType + "\r\n";
  answer += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  for (const std::string& line : reply.extraHeaders) answer += line + "\r\n";
  answer += "Connection: close\r\n\r\n" + reply.body;
  for (std::size_t sent = 0; sent < answer.size();) {
    const ssize_t count = send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<std::size_t>(count);
  }
}

int FreePort() {
  int port = 0;
  close(ListenOnLoopback(&port));
  return port;
}

}  // namespace brimora::test
