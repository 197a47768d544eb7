#include "qvServiceHost.h"

#include <memory>
#include <mutex>
#include <vector>

#include "qvServiceServer.h"
#include "qvServiceSink.h"
#include "qvServiceSocket.h"

namespace {

struct Running {
  std::unique_ptr<qvServiceServer> server;
};

std::mutex gLock;
// The engine keeps the listener until it is released, which may be after
// Stop: listeners live as long as the process.
std::unique_ptr<Running> gRunning;
std::vector<std::unique_ptr<qvServiceSink>> gSinks;

}  // namespace

namespace qvServiceHost {

bool Start(IQvSearch* engine, IQvSearchNotify* ownerSink, IQvListWindow* ownerList,
           std::function<void()> restoreOwner, std::string* error, bool* busy) {
  std::string ignored;
  bool notBusy = false;
  if (!error) error = &ignored;
  if (!busy) busy = &notBusy;
  std::lock_guard<std::mutex> g(gLock);
  auto sink = std::make_unique<qvServiceSink>(ownerSink, ownerList);
  qvServiceSink* listener = sink.get();
  gSinks.push_back(std::move(sink));
  qvServiceServer::Engine e;
  e.engine = engine;
  e.config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  e.results = static_cast<IQvSearchResults*>(engine->QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION));
  e.sink = listener;
  e.restoreOwner = std::move(restoreOwner);
  auto server = std::make_unique<qvServiceServer>(e, qvServiceServer::Limits());
  qvServiceServer* s = server.get();
  // Set before the engine may call: answers wake the service's thread.
  listener->SetOnAnswer([s] { s->Wake(); });
  engine->Initialize(listener);
  engine->SetListWindow(ownerList ? listener : nullptr);
  if (!e.config || !e.results) {
    listener->SetOnAnswer({});
    *error = "the engine lacks the interfaces of this version";
    return false;
  }
  if (gRunning || !server->Listen(qvService::SocketFolder(), busy, error)) {
    if (gRunning) *error = "the service runs already in this process";
    listener->SetOnAnswer({});
    return false;
  }
  server->Start();
  gRunning = std::make_unique<Running>();
  gRunning->server = std::move(server);
  return true;
}

void Stop() {
  std::unique_ptr<Running> running;
  {
    std::lock_guard<std::mutex> g(gLock);
    running = std::move(gRunning);
  }
  if (!running) return;
  running->server->Stop();
  // The engine keeps calling its listener: it no longer wakes anyone.
  for (auto& sink : gSinks) sink->SetOnAnswer({});
}

std::string Path() {
  std::lock_guard<std::mutex> g(gLock);
  return gRunning ? gRunning->server->Path() : std::string();
}

}  // namespace qvServiceHost
