#include "qvServiceServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "qvAnswerCopy.h"
#include "qvNameCodec.h"
#include "qvServiceSocket.h"

using namespace qvService;

namespace {

// Replies beyond this wait before more requests of the client are read.
constexpr size_t kBackpressure = 1u << 20;
// Bytes read from one client per turn, so one cannot starve the others.
constexpr size_t kReadPerTurn = 256u << 10;
constexpr int kAcceptsPerTurn = 32;
constexpr int kTickMs = 200;

uint64_t Fnv(uint64_t h, const void* data, size_t n) {
  auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ULL;
  return h;
}

// What a watcher has seen, to tell whether a new answer differs.
uint64_t Fingerprint(const qvAnswer& a) {
  uint64_t h = 14695981039346656037ULL;
  h = Fnv(h, &a.folders, sizeof a.folders);
  h = Fnv(h, &a.files, sizeof a.files);
  for (const Row& r : a.rows) {
    h = Fnv(h, r.folder.data(), r.folder.size());
    h = Fnv(h, "/", 1);
    h = Fnv(h, r.name.data(), r.name.size());
    uint64_t facts[] = {r.isFolder, r.size, r.created, r.modified, r.accessed, r.attributes};
    h = Fnv(h, facts, sizeof facts);
  }
  return h;
}

}  // namespace

struct qvServiceServer::Client {
  int fd = -1;
  long uid = -1;
  FrameReader reader{kMaxRequestBytes};
  std::string out;
  size_t outPos = 0;
  bool hello = false;
  bool closing = false;  // close once the reply is out
  Clock::time_point connected, lastRequest, messageStart, lastWrite;
  bool waiting = false;  // a search that waits for the index
  SearchRequest pending;
  bool watching = false;
  SearchRequest watch;
  uint64_t watchPrint = 0;
  uint64_t answers = 0;

  size_t Pending() const { return out.size() - outPos; }
};

qvServiceServer::qvServiceServer(const Engine& engine, const Limits& limits) : e_(engine), limits_(limits) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

qvServiceServer::~qvServiceServer() { Stop(); }

bool qvServiceServer::Listen(const std::string& folder, bool* busy, std::string* error) {
  listenFd_ = ListenOn(folder, &lockFd_, busy, error);
  if (listenFd_ < 0) return false;
  path_ = folder + "qvsearch.sock";
  return true;
}

void qvServiceServer::Start() {
  if (listenFd_ >= 0 && !thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void qvServiceServer::Wake() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  ssize_t n = write(wakeFd_, &one, sizeof one);
  (void)n;
}

void qvServiceServer::Stop() {
  stop_.store(true);
  Wake();
  if (thread_.joinable()) thread_.join();
  for (auto& [fd, c] : clients_) close(fd);
  clients_.clear();
  if (listenFd_ >= 0) {
    // Removed before the lock is let go: a new service may take both.
    unlink(path_.c_str());
    close(listenFd_);
    listenFd_ = -1;
  }
  if (lockFd_ >= 0) close(lockFd_), lockFd_ = -1;
  if (wakeFd_ >= 0) close(wakeFd_), wakeFd_ = -1;
}

void qvServiceServer::Run() {
  std::vector<pollfd> fds;
  std::vector<Client*> order;
  while (!stop_.load()) {
    fds.clear();
    order.clear();
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({wakeFd_, POLLIN, 0});
    for (auto& [fd, c] : clients_) {
      short events = 0;
      if (!c->closing && c->Pending() < kBackpressure) events |= POLLIN;
      if (c->Pending() > 0) events |= POLLOUT;
      fds.push_back({fd, events, 0});
      order.push_back(c.get());
    }
    int ready = poll(fds.data(), fds.size(), clients_.empty() ? -1 : kTickMs);
    if (ready < 0 && errno != EINTR) break;
    if (stop_.load()) break;
    if (fds[1].revents & POLLIN) {
      uint64_t v;
      ssize_t n = read(wakeFd_, &v, sizeof v);
      (void)n;
    }
    std::vector<int> drop;
    for (size_t i = 0; i < order.size(); ++i) {
      Client& c = *order[i];
      short re = fds[i + 2].revents;
      bool ok = true;
      if (re & (POLLIN | POLLHUP | POLLERR)) ok = ReadFrom(c);
      if (ok && c.Pending() > 0) ok = WriteTo(c);
      if (ok && c.closing && c.Pending() == 0) ok = false;
      if (!ok) drop.push_back(c.fd);
    }
    for (int fd : drop) Close(fd);
    if (fds[0].revents & POLLIN) Accept();
    CheckTimes();
    ServeWaiting();
    CheckWatchers();
  }
}

void qvServiceServer::Close(int fd) {
  auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  buffered_ -= it->second->Pending();
  close(fd);
  clients_.erase(it);
}

void qvServiceServer::Accept() {
  for (int i = 0; i < kAcceptsPerTurn; ++i) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    long uid = PeerUid(fd);
    if (uid != static_cast<long>(geteuid())) {
      // Another user: the reason and nothing else.
      std::string refusal = EncodeError(kErrRefused, "refused: this service answers user " +
                                                         std::to_string(geteuid()) + " only, not user " +
                                                         std::to_string(uid));
      ssize_t n = send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      (void)n;
      close(fd);
      continue;
    }
    if (clients_.size() >= limits_.maxClients) {
      // Room for the newcomer: the client that has waited longest without
      // asking anything (one that never said who it is first), never a
      // watcher nor one whose reply is under way.
      Client* idlest = nullptr;
      for (auto& [cfd, c] : clients_) {
        if (c->watching || c->waiting || c->Pending() > 0) continue;
        if (!idlest || (!c->hello && idlest->hello) ||
            (c->hello == idlest->hello && c->lastRequest < idlest->lastRequest))
          idlest = c.get();
      }
      if (!idlest) {
        std::string busy = EncodeError(kErrBusy, "busy: too many clients at once");
        ssize_t n = send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)n;
        close(fd);
        continue;
      }
      Close(idlest->fd);
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->uid = uid;
    c->connected = c->lastRequest = c->lastWrite = Clock::now();
    clients_[fd] = std::move(c);
  }
}

bool qvServiceServer::ReadFrom(Client& c) {
  char buffer[65536];
  size_t total = 0;
  while (total < kReadPerTurn && c.Pending() < kBackpressure && !c.closing) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    total += static_cast<size_t>(n);
    if (!c.reader.Partial()) c.messageStart = Clock::now();
    c.reader.Append(buffer, static_cast<size_t>(n));
    std::string payload;
    for (;;) {
      if (c.Pending() >= kBackpressure || c.closing) break;
      FrameReader::Result r = c.reader.Next(&payload);
      if (r == FrameReader::kNeedMore) break;
      if (r != FrameReader::kFrame) {
        Send(c, EncodeError(kErrMalformed, r == FrameReader::kTooLarge ? "a message longer than 64 KiB"
                                                                       : "a message of no bytes"));
        c.closing = true;
        break;
      }
      c.lastRequest = Clock::now();
      if (!HandleFrame(c, payload)) c.closing = true;
      if (c.reader.Partial()) c.messageStart = Clock::now();
    }
  }
  return true;
}

bool qvServiceServer::HandleFrame(Client& c, const std::string& payload) {
  Message m;
  std::string error;
  bool decoded = Decode(payload, &m, &error);
  if (!c.hello) {
    if (!decoded || m.type != kHello) {
      Send(c, EncodeError(kErrOrder, "the first message must be the greeting"));
      return false;
    }
    if (m.magic != kMagic || m.version != kVersion) {
      Send(c, EncodeError(kErrVersion, "this service speaks version " + std::to_string(kVersion) + " only"));
      return false;
    }
    c.hello = true;
    Send(c, EncodeHelloOk(static_cast<uint32_t>(getpid())));
    return true;
  }
  if (!decoded) {
    // A message of a type unknown here is answered and the client goes on;
    // a known one that cannot be read leaves nothing to trust after it.
    bool unknown = error.rfind("unknown", 0) == 0;
    Send(c, EncodeError(unknown ? kErrUnknown : kErrMalformed, error));
    return unknown;
  }
  switch (m.type) {
    case kSearch: {
      const SearchRequest& r = m.search;
      if (r.sort > kSortAttributes || (r.match & ~kKnownMatchBits) != 0 ||
          qvNameCodec::DecodeToString(r.query).size() >= QV_QUERY_MAX ||
          qvNameCodec::DecodeToString(r.extFilter).size() >= QV_QUERY_MAX) {
        Send(c, EncodeError(kErrArgument, "a query or filter of 1024 characters or more, an unknown sort or match"));
        return true;
      }
      c.watching = false;
      c.waiting = true;
      c.pending = r;
      ServeWaiting();
      return true;
    }
    case kStatus: SendStatus(c); return true;
    case kUnwatch: c.watching = false; return true;
    default:
      Send(c, EncodeError(kErrUnknown, "the service takes no message of type " + std::to_string(m.type)));
      return true;
  }
}

void qvServiceServer::BeginEngineUse() { e_.sink->Hold(true); }

void qvServiceServer::EndEngineUse() {
  e_.sink->Hold(false);
  if (e_.restoreOwner) e_.restoreOwner();
}

// Searches wait until the index is ready (the engine would not answer).
void qvServiceServer::ServeWaiting() {
  if (e_.config->QueryValue("ready") != 1) return;
  bool used = false;
  for (auto& [fd, c] : clients_) {
    if (!c->waiting || c->closing) continue;
    if (!used) BeginEngineUse();
    used = true;
    c->waiting = false;
    Answer(*c, c->pending, false);
    if (c->pending.watch) {
      c->watching = true;
      c->watch = c->pending;
    }
  }
  if (used) {
    EndEngineUse();
    // What the watchers have seen is current as of now.
    int32_t f, n;
    seenGeneration_ = e_.results->GetAnswer(&f, &n);
    seenAnswers_ = e_.sink->Answers();
  }
}

void qvServiceServer::Answer(Client& c, const SearchRequest& r, bool onlyIfChanged) {
  qvAnswer a;
  if (!CopyAnswer(e_.engine, e_.results, r, &a)) {
    Send(c, EncodeError(kErrEngine, "the index kept changing while it was read; ask again"));
    return;
  }
  if (e_.config->QueryValue("query_error") == 1) {
    Send(c, EncodeError(kErrArgument, "the regular expression is not valid"));
    return;
  }
  uint64_t print = Fingerprint(a);
  if (onlyIfChanged && print == c.watchPrint) return;
  c.watchPrint = print;
  std::string reply = EncodeAnswer({++c.answers, a.folders, a.files, a.rows.size()});
  RowsFrame frame;
  for (const Row& row : a.rows) {
    if (frame.Add(row)) continue;
    reply += frame.Take();
    frame.Add(row);
  }
  if (!frame.Empty()) reply += frame.Take();
  reply += EncodeAnswerEnd(a.rows.size());
  if (buffered_ + reply.size() > limits_.maxBuffered) {
    Send(c, EncodeError(kErrBusy, "busy: too many replies wait to be read; ask again later"));
    return;
  }
  Send(c, std::move(reply));
}

void qvServiceServer::SendStatus(Client& c) {
  Status s;
  s.ready = e_.config->QueryValue("ready") == 1;
  s.following = e_.config->QueryValue("following") == 1;
  s.folders = static_cast<uint64_t>(std::max<int64_t>(0, e_.config->QueryValue("folders")));
  s.files = static_cast<uint64_t>(std::max<int64_t>(0, e_.config->QueryValue("files")));
  s.pid = static_cast<uint32_t>(getpid());
  if (!s.ready) s.progress = e_.sink->Progress();
  s.roots = e_.sink->Roots();
  Send(c, EncodeStatus(s));
}

void qvServiceServer::Send(Client& c, std::string bytes) {
  buffered_ += bytes.size();
  if (c.Pending() == 0) {
    c.out = std::move(bytes);
    c.outPos = 0;
    c.lastWrite = Clock::now();
  } else {
    c.out += bytes;
  }
}

bool qvServiceServer::WriteTo(Client& c) {
  while (c.Pending() > 0) {
    ssize_t n = send(c.fd, c.out.data() + c.outPos, c.Pending(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    c.outPos += static_cast<size_t>(n);
    buffered_ -= static_cast<size_t>(n);
    c.lastWrite = Clock::now();
  }
  c.out.clear();
  c.outPos = 0;
  return true;
}

void qvServiceServer::CheckTimes() {
  auto now = Clock::now();
  auto over = [&](Clock::time_point since, int ms) { return now - since > std::chrono::milliseconds(ms); };
  std::vector<int> drop;
  for (auto& [fd, c] : clients_) {
    if ((!c->hello && over(c->connected, limits_.helloMs)) ||
        (c->reader.Partial() && over(c->messageStart, limits_.messageMs)) ||
        (c->Pending() > 0 && over(c->lastWrite, limits_.stallMs)) ||
        (!c->watching && !c->waiting && c->Pending() == 0 && over(c->lastRequest, limits_.idleMs)))
      drop.push_back(fd);
  }
  for (int fd : drop) Close(fd);
}

// Any change of the index sends every watcher its answer again when that
// answer differs (the engine itself re-runs only its current query). The
// answer's id moves with every edit and every search. Alone with the
// engine, the service knows every search is its own: any move is a
// change. Beside an owner that searches too, each search of the owner
// moves the id once and reports once: only an id that moved further than
// the reports tells of an edit.
void qvServiceServer::CheckWatchers() {
  bool any = false;
  for (auto& [fd, c] : clients_) any = any || (c->watching && !c->closing);
  if (!any || e_.config->QueryValue("ready") != 1) return;
  int32_t f, n;
  uint64_t generation = e_.results->GetAnswer(&f, &n);
  uint64_t answers = e_.sink->Answers();
  bool changed = e_.restoreOwner ? generation - seenGeneration_ > answers - seenAnswers_
                                 : generation != seenGeneration_ || answers != seenAnswers_;
  if (!changed) {
    seenGeneration_ = generation;
    seenAnswers_ = answers;
    return;
  }
  BeginEngineUse();
  for (auto& [fd, c] : clients_)
    if (c->watching && !c->closing) Answer(*c, c->watch, true);
  EndEngineUse();
  seenGeneration_ = e_.results->GetAnswer(&f, &n);
  seenAnswers_ = e_.sink->Answers();
}
