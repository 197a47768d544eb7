#include "qvInotifyMonitor.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "qvFileBaseApp.h"
#include "qvNameCodec.h"

namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_EXCL_UNLINK;

uint64_t FolderId(uint32_t slot, uint32_t number) { return (static_cast<uint64_t>(slot) << 32) | number; }

// Our share of the watches this user may hold, leaving room for others.
size_t WatchBudget() {
  std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
  size_t limit = 8192;
  in >> limit;
  return limit / 10 * 8;
}

}  // namespace

qvInotifyMonitor::qvInotifyMonitor(qvKearchImpl& engine) : qvMonitorCore(engine) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  watchBudget_ = WatchBudget();
}

qvInotifyMonitor::~qvInotifyMonitor() {
  Stop();
  if (inotify_ >= 0) close(inotify_);
}

size_t qvInotifyMonitor::ReadEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    ssize_t n = read(inotify_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      auto* e = reinterpret_cast<inotify_event*>(buffer + off);
      size_t size = sizeof(inotify_event) + e->len;
      if (off + static_cast<ssize_t>(size) > n) break;  // never split by the kernel
      events_.push_back({e->wd, e->mask, e->cookie, e->len ? std::string(e->name, strnlen(e->name, e->len)) : ""});
      off += static_cast<ssize_t>(size);
    }
  }
  return events_.size();
}

// Inotify events need nothing from the disk: the whole batch is applied
// under one hold of the engine lock.
void qvInotifyMonitor::ProcessEvents(bool rescan[QV_VOLUME_SLOTS]) {
  std::vector<Event> events;
  events.swap(events_);
  qvMutexLock guard(engine_.lock);
  std::vector<bool> consumed(events.size(), false);
  bool due = false;
  bool touched[QV_VOLUME_SLOTS] = {};
  for (size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    if (e.mask & IN_Q_OVERFLOW) {
      // One queue serves every volume.
      for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
        if (!Index().volumes.indexed[slot]) continue;
        rescan[slot] = true;
        ReportOnce(slot, kEventsLost);
      }
      continue;
    }
    if (e.mask & IN_IGNORED) {
      qvMutexLock watches(watchLock_);
      auto it = byWd_.find(e.wd);
      if (it != byWd_.end()) {
        auto f = byFolder_.find(FolderId(it->second.slot, it->second.number));
        if (f != byFolder_.end() && f->second == e.wd) byFolder_.erase(f);
        byWd_.erase(it);
      }
      continue;
    }
    Watch w;
    if (consumed[i] || e.name.empty() || !LookUp(e.wd, &w)) continue;
    qvString name = qvNameCodec::DecodeToString(e.name);
    bool folder = (e.mask & IN_ISDIR) != 0;
    touched[w.slot] = true;
    if (e.mask & IN_CREATE) {
      due |= Added(w.slot, w.number, name, folder);
    } else if (e.mask & IN_DELETE) {
      due |= Deleted(w.slot, w.number, name, folder);
    } else if (e.mask & IN_MOVED_FROM) {
      size_t j = i + 1;
      while (j < events.size() && !((events[j].mask & IN_MOVED_TO) && events[j].cookie == e.cookie)) ++j;
      Watch to;
      if (j < events.size() && LookUp(events[j].wd, &to)) {
        consumed[j] = true;
        touched[to.slot] = true;
        due |= Moved(w.slot, w.number, name, to.slot, to.number, qvNameCodec::DecodeToString(events[j].name), folder);
      } else {
        // Moved out of every watched folder: it left the index.
        due |= Deleted(w.slot, w.number, name, folder);
      }
    } else if (e.mask & IN_MOVED_TO) {
      due |= Added(w.slot, w.number, name, folder);  // moved in from outside
    }
  }
  FinishBatch(due, touched);
}

void qvInotifyMonitor::WatchFolder(uint32_t slot, uint32_t number, int dirFd, const std::string& path) {
  std::string target = dirFd >= 0 ? "/proc/self/fd/" + std::to_string(dirFd) : path;
  uint32_t mask = kWatchMask | (dirFd >= 0 ? 0 : IN_DONT_FOLLOW);
  qvMutexLock guard(watchLock_);
  if (byWd_.size() >= watchBudget_) {
    SetOverBudget(slot);
    return;
  }
  int wd = inotify_add_watch(inotify_, target.c_str(), mask);
  if (wd < 0) {
    if (errno == ENOSPC || errno == ENOMEM) SetOverBudget(slot);
    return;
  }
  byWd_[wd] = {slot, number};
  byFolder_[FolderId(slot, number)] = wd;
}

void qvInotifyMonitor::RenumberFolder(uint32_t slot, uint32_t from, uint32_t to) {
  qvMutexLock guard(watchLock_);
  auto f = byFolder_.find(FolderId(slot, from));
  if (f == byFolder_.end()) return;
  int wd = f->second;
  byFolder_.erase(f);
  byWd_[wd] = {slot, to};
  byFolder_[FolderId(slot, to)] = wd;
}

void qvInotifyMonitor::ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) {
  qvMutexLock guard(watchLock_);
  for (uint32_t number : numbers) {
    auto f = byFolder_.find(FolderId(slot, number));
    if (f == byFolder_.end()) continue;
    auto w = byWd_.find(f->second);
    if (w != byWd_.end() && w->second.slot == slot && w->second.number == number) {
      inotify_rm_watch(inotify_, f->second);
      byWd_.erase(w);
    }
    byFolder_.erase(f);
  }
}

// Before a rescan: the walk gives the volume's folders new numbers and
// watches them again (the kernel hands back the same watch for a folder
// that is still watched).
void qvInotifyMonitor::ForgetSlot(uint32_t slot) {
  qvMutexLock guard(watchLock_);
  for (auto it = byWd_.begin(); it != byWd_.end();) {
    if (it->second.slot == slot) it = byWd_.erase(it);
    else ++it;
  }
  for (auto it = byFolder_.begin(); it != byFolder_.end();) {
    if ((it->first >> 32) == slot) it = byFolder_.erase(it);
    else ++it;
  }
}

bool qvInotifyMonitor::LookUp(int wd, Watch* out) {
  qvMutexLock guard(watchLock_);
  auto it = byWd_.find(wd);
  if (it == byWd_.end()) return false;
  *out = it->second;
  return true;
}
