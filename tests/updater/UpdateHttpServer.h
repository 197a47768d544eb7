// An HTTP server on 127.0.0.1 for the updater's tests, one thread per
// connection. Each path has its answer: a status and a body, optionally a
// body that never ends, or one that stops after some bytes until released.
// It records the head of every request.
#pragma once

#include <string>
#include <vector>
#include <map>
#include <mutex>
#include <thread>
#include <atomic>

namespace qvupdatetest {

struct Answer {
  int status = 200;
  std::string body;
  bool endless = false;      // sends body again and again, without a length
  size_t holdAfter = 0;      // > 0: sends this many bytes, then waits for Release
};

class UpdateHttpServer {
 public:
  UpdateHttpServer();
  ~UpdateHttpServer();

  bool Ok() const { return port_ != 0; }
  int Port() const { return port_; }
  std::string Url(const std::string& path) const;
  void Set(const std::string& path, Answer answer);
  void Set(const std::string& path, std::string body) { Set(path, Answer{200, std::move(body)}); }
  void Release() { released_ = true; }
  std::vector<std::string> Heads() const;
  // How many bytes the endless answers have sent so far.
  size_t EndlessSent() const { return endlessSent_; }

  // A port on 127.0.0.1 where nothing listens.
  static int UnusedPort();

 private:
  void AcceptLoop();
  void Serve(int fd);
  bool SendAll(int fd, const char* data, size_t size);

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};
  std::atomic<size_t> endlessSent_{0};
  mutable std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> heads_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace qvupdatetest
