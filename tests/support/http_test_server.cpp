#include "support/http_test_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace brimora::test {

CHttpTestServer::CHttpTestServer(std::vector<HttpReply> replies, int port) : replies_(std::move(replies)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int reuse = 1;  // the port of a server just ended can be taken again at once
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no listening socket on the loopback address");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] {
    while (!stopping_) {
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      const timeval limit{5, 0};  // a client that stops sending must not hold the server
      setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      Answer(connection);
      close(connection);
    }
  });
}

CHttpTestServer::~CHttpTestServer() {
  stopping_ = true;
  shutdown(listener_, SHUT_RDWR);  // wakes the waiting accept
  thread_.join();
  close(listener_);
}

void CHttpTestServer::Answer(int connection) {
  // Reads until the head and as many body bytes as its Content-Length are in.
  std::string data;
  std::size_t end = std::string::npos, length = 0;
  for (char buffer[4096]; end == std::string::npos || data.size() < end + 4 + length;) {
    const ssize_t count = recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0) return;
    data.append(buffer, static_cast<std::size_t>(count));
    if (end == std::string::npos && (end = data.find("\r\n\r\n")) != std::string::npos) {
      const std::size_t at = data.substr(0, end).find("Content-Length: ");
      length = at == std::string::npos ? 0 : std::stoul(data.substr(at + 16));
    }
  }
  const std::size_t space = data.find(' ');
  const HttpRequest request{data.substr(0, space), data.substr(space + 1, data.find(' ', space + 1) - space - 1),
                            data.substr(end + 4), data.substr(0, end)};
  std::unique_lock<std::mutex> guard(mutex_);
  const HttpReply& reply = replies_[std::min(requests_.size(), replies_.size() - 1)];
  requests_.push_back(request);
  guard.unlock();
  char byte = 0;
  if (reply.status < 0) recv(connection, &byte, 1, 0);  // until the client closes, or the time-out
  if (reply.status <= 0) return;
  const std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\nContent-Length: " +
                             std::to_string(reply.body.size()) + "\r\n" +
                             (reply.header.empty() ? "" : reply.header + "\r\n") + "Connection: close\r\n\r\n" +
                             reply.body;
  send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
}

}  // namespace brimora::test
