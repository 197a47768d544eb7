// A tiny HTTP server on 127.0.0.1 for the request tests, on its own thread:
// it records each request's target (path and query) and answers every one
// with the same status and body, never answers, or holds the answers until
// released.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace qvapptest {

class LocalHttpServer {
 public:
  enum class Mode { kAnswer, kSilent, kHold };

  explicit LocalHttpServer(QByteArray body = QByteArray(), Mode mode = Mode::kAnswer, int status = 200)
      : body_(std::move(body)), mode_(mode), status_(status) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;  // any free port
    socklen_t len = sizeof addr;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listen_, 8) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }

  ~LocalHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : pending_) close(fd);
    if (listen_ >= 0) close(listen_);
  }

  bool Ok() const { return port_ != 0; }
  QString Url(const char* path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(QLatin1String(path)); }
  QStringList Targets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
  }
  // Answers the held requests (and later ones) now.
  void Release() { released_ = true; }

  // A port on 127.0.0.1 where nothing listens: bound once, then closed.
  static int FreePort() {
    LocalHttpServer probe(QByteArray(), Mode::kSilent);
    return probe.port_;
  }

 private:
  // The loop checks its flags this often.
  static constexpr int kTickMs = 20;
  // A request head must arrive within this many ticks.
  static constexpr int kReadTicks = 250;

  void Run() {
    while (!stop_) {
      if (mode_ == Mode::kHold && released_) {
        for (int fd : pending_) Answer(fd);
        pending_.clear();
      }
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, kTickMs) <= 0) continue;
      int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      QByteArray head = ReadHead(fd);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        // "GET <target> HTTP/1.1"
        targets_ << QString::fromLatin1(head.left(head.indexOf("\r\n")).split(' ').value(1));
      }
      if (mode_ == Mode::kAnswer || (mode_ == Mode::kHold && released_)) Answer(fd);
      else pending_.push_back(fd);
    }
  }

  QByteArray ReadHead(int fd) {
    QByteArray head;
    for (int tick = 0; tick < kReadTicks && !stop_ && !head.contains("\r\n\r\n"); ++tick) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, kTickMs) <= 0) continue;
      char buf[4096];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      head.append(buf, static_cast<qsizetype>(n));
    }
    return head;
  }

  void Answer(int fd) {
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status_) + " X\r\nContent-Type: text/plain\r\nContent-Length: " +
                       QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
    qsizetype done = 0;
    while (done < reply.size()) {
      ssize_t n = write(fd, reply.constData() + done, static_cast<size_t>(reply.size() - done));
      if (n <= 0) break;
      done += n;
    }
    close(fd);
  }

  QByteArray body_;
  Mode mode_;
  int status_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};
  std::vector<int> pending_;  // the server thread's, until it is joined
  mutable std::mutex mutex_;
  QStringList targets_;
  std::thread thread_;
};

}  // namespace qvapptest
