// The index service: answers clients of this user on a local socket from
// the engine of this process. One thread runs everything: accepting,
// reading requests, searching (the engine has one current query, so the
// searches of all clients take turns) and writing replies without ever
// blocking on a client. A reply is copied out of the engine whole before
// any of it is sent, so a slow client never holds the engine.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "IQvSearch.h"
#include "qvServiceProtocol.h"
#include "qvServiceSink.h"

class qvServiceServer {
 public:
  struct Limits {
    size_t maxClients = 128;          // connections at once; the idlest goes first
    int helloMs = 5000;               // to say who it is after connecting
    int messageMs = 5000;             // to finish a message once begun
    int idleMs = 60000;               // without a request (watchers excepted)
    int stallMs = 10000;              // to take any of a reply waiting for it
    size_t maxBuffered = 512u << 20;  // replies waiting in all, in bytes
  };
  struct Engine {
    IQvSearch* engine = nullptr;
    IQvSearchConfig* config = nullptr;
    IQvSearchResults* results = nullptr;
    qvServiceSink* sink = nullptr;
    // Puts the owner's own query back after the service searched (null
    // when the service is the engine's only user).
    std::function<void()> restoreOwner;
  };

  qvServiceServer(const Engine& engine, const Limits& limits);
  ~qvServiceServer();

  // Listens in `folder`; false with the reason, `busy` when another
  // process serves there already.
  bool Listen(const std::string& folder, bool* busy, std::string* error);
  void Start();
  // Ends the thread, closes every connection and removes the socket.
  void Stop();
  // Makes the thread look at the engine now (an answer arrived).
  void Wake();
  const std::string& Path() const { return path_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Client;

  void Run();
  void Accept();
  bool ReadFrom(Client& c);
  bool HandleFrame(Client& c, const std::string& payload);
  void Answer(Client& c, const qvService::SearchRequest& r, bool onlyIfChanged);
  void SendStatus(Client& c);
  void Send(Client& c, std::string bytes);
  bool WriteTo(Client& c);
  void Close(int fd);
  void CheckTimes();
  void ServeWaiting();
  void CheckWatchers();
  void BeginEngineUse();
  void EndEngineUse();

  Engine e_;
  Limits limits_;
  std::string path_;
  int listenFd_ = -1, lockFd_ = -1, wakeFd_ = -1;
  std::map<int, std::unique_ptr<Client>> clients_;
  size_t buffered_ = 0;
  uint64_t seenGeneration_ = 0, seenAnswers_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};
