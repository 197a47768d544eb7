#include "UpdateHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qvupdatetest {

namespace {
constexpr int kTickMs = 20;
}

UpdateHttpServer::UpdateHttpServer() {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listen_, 16) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return;
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

UpdateHttpServer::~UpdateHttpServer() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& t : connections_) t.join();
  if (listen_ >= 0) close(listen_);
}

int UpdateHttpServer::UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);  // bound, never listening: connections are refused
  return ntohs(addr.sin_port);
}

std::string UpdateHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void UpdateHttpServer::Set(const std::string& path, Answer answer) {
  std::lock_guard<std::mutex> hold(mutex_);
  answers_[path] = std::move(answer);
}

std::vector<std::string> UpdateHttpServer::Heads() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return heads_;
}

void UpdateHttpServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, kTickMs) <= 0) continue;
    int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

bool UpdateHttpServer::SendAll(int fd, const char* data, size_t size) {
  while (size > 0 && !stop_) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, kTickMs) <= 0) continue;
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return size == 0;
}

void UpdateHttpServer::Serve(int fd) {
  std::string head;
  while (!stop_ && head.find("\r\n\r\n") == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kTickMs) <= 0) continue;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    head.append(buf, static_cast<size_t>(n));
  }
  size_t space = head.find(' ');
  std::string path = space == std::string::npos ? std::string() : head.substr(space + 1, head.find(' ', space + 1) - space - 1);
  Answer answer{404, "not here"};
  {
    std::lock_guard<std::mutex> hold(mutex_);
    heads_.push_back(head);
    auto it = answers_.find(path);
    if (it != answers_.end()) answer = it->second;
  }
  std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " X\r\nConnection: close\r\n";
  if (!answer.endless) reply += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  reply += "\r\n";
  if (SendAll(fd, reply.data(), reply.size())) {
    if (answer.endless) {
      while (!stop_ && SendAll(fd, answer.body.data(), answer.body.size())) endlessSent_ += answer.body.size();
    } else if (answer.holdAfter > 0 && answer.holdAfter < answer.body.size()) {
      SendAll(fd, answer.body.data(), answer.holdAfter);
      while (!stop_ && !released_) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kTickMs) > 0) {
          char buf[64];
          if (read(fd, buf, sizeof buf) <= 0) break;  // the client went away
        }
      }
      if (released_) SendAll(fd, answer.body.data() + answer.holdAfter, answer.body.size() - answer.holdAfter);
    } else {
      SendAll(fd, answer.body.data(), answer.body.size());
    }
  }
  close(fd);
}

}  // namespace qvupdatetest
