#include "qvInotifyMonitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "platform/qvDirWalker.h"
#include "platform/qvLinuxVolumeSource.h"
#include "qvErrorBox.h"
#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"
#include "qvRecordPath.h"
#include "qvSearchDriver.h"
#include "qvStreamScan.h"

namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_EXCL_UNLINK;
// A burst of events settles for this long before it is applied, so that
// the two halves of a rename arrive together.
constexpr auto kSettle = std::chrono::milliseconds(30);
constexpr size_t kMaxBatch = 4096;
// Where watches ran out, the volume is scanned again this often.
constexpr int kPollFallbackMs = 30000;

uint64_t FolderId(uint32_t slot, uint32_t number) { return (static_cast<uint64_t>(slot) << 32) | number; }

// Our share of the watches this user may hold, leaving room for others.
size_t WatchBudget() {
  std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
  size_t limit = 8192;
  in >> limit;
  return limit / 10 * 8;
}

// Entries copied out of a walk: the walk's own buffers are reused.
struct EntryBuffer {
  std::vector<ScanEntry> entries;
  std::vector<size_t> offsets;
  std::vector<qvChar> names;

  void Add(const ScanEntry* e, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      offsets.push_back(names.size());
      names.insert(names.end(), e[i].name, e[i].name + e[i].nameLength);
      entries.push_back(e[i]);
    }
  }
  // Points every entry at its copied name; call once all are in.
  void Seal() {
    for (size_t i = 0; i < entries.size(); ++i) entries[i].name = names.data() + offsets[i];
  }
};

}  // namespace

qvInotifyMonitor::qvInotifyMonitor(qvKearchImpl& engine) : engine_(engine) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  watchBudget_ = WatchBudget();
}

qvInotifyMonitor::~qvInotifyMonitor() {
  Stop();
  if (inotify_ >= 0) close(inotify_);
  if (wake_ >= 0) close(wake_);
}

qvVolumeSource::FolderHook qvInotifyMonitor::Hook() {
  return [this](size_t volume, uint64_t ref, int fd) {
    qvFileBaseApp* app = qvFileBaseApp::Instance();
    if (!app || ref > QV_MAX_RECORD_NUMBER) return;
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
      if (app->volumes.indexed[slot] && app->volumes.sourceIndex[slot] == static_cast<int>(volume)) {
        AddWatch(slot, static_cast<uint32_t>(ref), fd, std::string());
        return;
      }
    }
  };
}

void qvInotifyMonitor::Start(bool catchUp) {
  if (!Ready() || thread_.joinable()) return;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  {
    std::lock_guard<std::mutex> guard(engine_.lock);
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
      if (app->volumes.indexed[slot]) nextNumber_[slot] = MaxRecordNumber(*app, slot) + 1;
  }
  thread_ = std::thread([this, catchUp] { Run(catchUp); });
}

void qvInotifyMonitor::Stop() {
  stop_ = true;
  if (wake_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(wake_, &one, sizeof one);
  }
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    if (walker_) walker_->Stop();
  }
  if (thread_.joinable()) thread_.join();
}

void qvInotifyMonitor::Run(bool catchUp) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (catchUp) {
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
      if (app->volumes.indexed[slot]) Rescan(slot);
  }
  following_ = 1;
  std::vector<Event> events;
  while (!stop_) {
    bool over[QV_VOLUME_SLOTS];
    bool polling = false;
    {
      std::lock_guard<std::mutex> guard(watchLock_);
      for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) polling |= (over[slot] = overBudget_[slot]);
    }
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int n = poll(fds, 2, polling ? kPollFallbackMs : -1);
    if (stop_) break;
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
        if (over[slot]) Rescan(slot);
      continue;
    }
    events.clear();
    ReadEvents(&events);
    auto until = std::chrono::steady_clock::now() + kSettle;
    while (events.size() < kMaxBatch && !stop_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd more = {inotify_, POLLIN, 0};
      if (poll(&more, 1, static_cast<int>(left.count())) <= 0) break;
      ReadEvents(&events);
    }
    bool overflow = false;
    {
      std::lock_guard<std::mutex> guard(engine_.lock);
      Process(events, &overflow);
    }
    if (overflow) {
      for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
        if (app->volumes.indexed[slot]) Rescan(slot);
    }
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
      bool hit;
      {
        std::lock_guard<std::mutex> guard(watchLock_);
        hit = overBudget_[slot];
      }
      if (hit) ReportLimitOnce(slot);
    }
  }
}

bool qvInotifyMonitor::ReadEvents(std::vector<Event>* events) {
  alignas(inotify_event) char buffer[64 * 1024];
  bool any = false;
  for (;;) {
    ssize_t n = read(inotify_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      auto* e = reinterpret_cast<inotify_event*>(buffer + off);
      size_t size = sizeof(inotify_event) + e->len;
      if (off + static_cast<ssize_t>(size) > n) break;  // never split by the kernel
      events->push_back({e->wd, e->mask, e->cookie, e->len ? std::string(e->name, strnlen(e->name, e->len)) : ""});
      off += static_cast<ssize_t>(size);
    }
  }
  return any;
}

void qvInotifyMonitor::Process(std::vector<Event>& events, bool* overflow) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::vector<bool> consumed(events.size(), false);
  bool due = false;
  bool touched[QV_VOLUME_SLOTS] = {};
  for (size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    if (e.mask & IN_Q_OVERFLOW) {
      *overflow = true;
      continue;
    }
    if (e.mask & IN_IGNORED) {
      std::lock_guard<std::mutex> guard(watchLock_);
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
  if (due) RunSearch(engine_);
  for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
    if (touched[slot]) ++app->volumes.nextUsn[slot];
}

bool qvInotifyMonitor::Apply(uint32_t slot, uint32_t reason, bool isFolder, uint32_t number, uint32_t parent,
                             const qvString& name) {
  JournalRecord r{reason, isFolder ? QV_ATTR_DIRECTORY : QV_ATTR_NORMAL, number, parent, name.data(),
                  static_cast<uint32_t>(name.size())};
  return ApplyJournalRecord(engine_, slot, r);
}

bool qvInotifyMonitor::Added(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  // The scan, or an earlier event, may hold it already.
  if (FindChildNumber(*app, slot, parent, name.data(), name.size(), isFolder) != 0) return false;
  if (nextNumber_[slot] > QV_MAX_RECORD_NUMBER) return false;
  uint32_t number = nextNumber_[slot]++;
  bool due = Apply(slot, USN_REASON_FILE_CREATE | USN_REASON_CLOSE, isFolder, number, parent, name);
  if (isFolder && app->dirMap.FindRecord(MakeDirKey(slot, number)) != kNullRef) {
    std::string path = FolderPath(slot, number);
    AddWatch(slot, number, -1, path);
    AddSubtree(slot, number, path);
    due |= !app->patternSet.Empty();
  }
  return due;
}

bool qvInotifyMonitor::Deleted(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  uint32_t number = FindChildNumber(*app, slot, parent, name.data(), name.size(), isFolder);
  if (number == 0) return false;
  if (!isFolder) return Apply(slot, USN_REASON_FILE_DELETE | USN_REASON_CLOSE, false, number, parent, name);
  std::vector<uint32_t> removed;
  RemoveFolderTree(*app, slot, number, &removed);
  ForgetFolders(slot, removed);
  return !app->patternSet.Empty();
}

bool qvInotifyMonitor::Moved(uint32_t slot, uint32_t parent, const qvString& name, uint32_t toSlot, uint32_t toParent,
                             const qvString& toName, bool isFolder) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  uint32_t number = FindChildNumber(*app, slot, parent, name.data(), name.size(), isFolder);
  if (number == 0) return Added(toSlot, toParent, toName, isFolder);
  if (toSlot != slot) {
    bool removed = Deleted(slot, parent, name, isFolder);
    return Added(toSlot, toParent, toName, isFolder) || removed;
  }
  bool due = false;
  // A name taken at the target is replaced by the moved entry.
  uint32_t target = FindChildNumber(*app, slot, toParent, toName.data(), toName.size(), isFolder);
  if (target != 0 && target != number) due |= Deleted(slot, toParent, toName, isFolder);
  due |= Apply(slot, USN_REASON_RENAME_OLD_NAME, isFolder, number, parent, name);
  due |= Apply(slot, USN_REASON_RENAME_NEW_NAME | USN_REASON_CLOSE, isFolder, number, toParent, toName);
  return due;
}

// A folder that appeared with contents (moved in, or filled before its
// watch was set): its whole subtree is walked and added, watching each
// folder before it is read.
void qvInotifyMonitor::AddSubtree(uint32_t slot, uint32_t folder, const std::string& path) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  qvDirWalker::Options options;
  options.threads = 1;  // parents come before their children
  options.rootRef = folder;
  options.firstRef = nextNumber_[slot];
  options.onFolderOpened = [&](uint64_t ref, int fd) {
    if (ref != folder && ref <= QV_MAX_RECORD_NUMBER) AddWatch(slot, static_cast<uint32_t>(ref), fd, std::string());
  };
  qvDirWalker walker(options);
  EntryBuffer buffer;
  walker.Walk(path, [&](const ScanEntry* e, size_t n) { buffer.Add(e, n); });
  buffer.Seal();
  nextNumber_[slot] = static_cast<uint32_t>(std::min<uint64_t>(walker.EndRef(), QV_MAX_RECORD_NUMBER + 1ull));
  // Entries the index holds already keep their numbers; their children
  // follow them.
  std::unordered_map<uint64_t, uint32_t> renumbered;
  for (const ScanEntry& e : buffer.entries) {
    if (e.fileRef > QV_MAX_RECORD_NUMBER) continue;
    auto p = renumbered.find(e.parentRef);
    uint32_t parent = p != renumbered.end() ? p->second : static_cast<uint32_t>(e.parentRef);
    bool isFolder = (e.attributes & QV_ATTR_DIRECTORY) != 0;
    uint32_t existing = FindChildNumber(*app, slot, parent, e.name, e.nameLength, isFolder);
    if (existing != 0) {
      if (isFolder) {
        renumbered[e.fileRef] = existing;
        std::lock_guard<std::mutex> guard(watchLock_);
        auto f = byFolder_.find(FolderId(slot, static_cast<uint32_t>(e.fileRef)));
        if (f != byFolder_.end()) {
          byWd_[f->second] = {slot, existing};
          byFolder_[FolderId(slot, existing)] = f->second;
          byFolder_.erase(f);
        }
      }
      continue;
    }
    JournalRecord r{USN_REASON_FILE_CREATE | USN_REASON_CLOSE, e.attributes, e.fileRef, parent, e.name, e.nameLength};
    ApplyJournalRecord(engine_, slot, r);
  }
}

// Scans a volume again and puts the fresh records in place of its old
// ones. Events that arrive meanwhile wait in the queue and are applied
// afterwards.
void qvInotifyMonitor::Rescan(uint32_t slot) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::string root = qvNameCodec::EncodeToString(app->volumes.root[slot]);
  ForgetSlot(slot);
  qvDirWalker::Options options;
  options.onFolderOpened = [this, slot](uint64_t ref, int fd) {
    if (ref <= QV_MAX_RECORD_NUMBER) AddWatch(slot, static_cast<uint32_t>(ref), fd, std::string());
  };
  qvDirWalker walker(options);
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    if (stop_) return;
    walker_ = &walker;
  }
  EntryBuffer buffer;
  bool complete = walker.Walk(root, [&](const ScanEntry* e, size_t n) { buffer.Add(e, n); });
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    walker_ = nullptr;
  }
  if (!complete || stop_) return;
  buffer.Seal();
  std::lock_guard<std::mutex> guard(engine_.lock);
  qvStreamScan::RemoveVolume(*app, slot);
  qvStreamScan scan(*app, nullptr);
  if (scan.BeginVolume(slot, app->volumes.root[slot])) {
    scan.AddEntries(buffer.entries.data(), buffer.entries.size());
    scan.EndVolume();
    scan.Finish();
  }
  nextNumber_[slot] = static_cast<uint32_t>(std::min<uint64_t>(walker.EndRef(), QV_MAX_RECORD_NUMBER + 1ull));
  ++app->volumes.nextUsn[slot];
  ++rescans_;
  RunSearch(engine_);
}

std::string qvInotifyMonitor::FolderPath(uint32_t slot, uint32_t number) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::vector<qvChar> path(QV_MAX_PATH);
  size_t n = qvBuildFolderPath(*app, app->dirMap.FindRecord(MakeDirKey(slot, number)), path.data(), path.size());
  return qvNameCodec::EncodeToString(std::u16string_view(path.data(), n));
}

void qvInotifyMonitor::AddWatch(uint32_t slot, uint32_t number, int dirFd, const std::string& path) {
  std::string target = dirFd >= 0 ? "/proc/self/fd/" + std::to_string(dirFd) : path;
  uint32_t mask = kWatchMask | (dirFd >= 0 ? 0 : IN_DONT_FOLLOW);
  std::lock_guard<std::mutex> guard(watchLock_);
  if (byWd_.size() >= watchBudget_) {
    overBudget_[slot] = true;
    return;
  }
  int wd = inotify_add_watch(inotify_, target.c_str(), mask);
  if (wd < 0) {
    if (errno == ENOSPC || errno == ENOMEM) overBudget_[slot] = true;
    return;
  }
  byWd_[wd] = {slot, number};
  byFolder_[FolderId(slot, number)] = wd;
}

void qvInotifyMonitor::ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) {
  std::lock_guard<std::mutex> guard(watchLock_);
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
  std::lock_guard<std::mutex> guard(watchLock_);
  for (auto it = byWd_.begin(); it != byWd_.end();) {
    if (it->second.slot == slot) it = byWd_.erase(it);
    else ++it;
  }
  for (auto it = byFolder_.begin(); it != byFolder_.end();) {
    if ((it->first >> 32) == slot) it = byFolder_.erase(it);
    else ++it;
  }
  overBudget_[slot] = false;
}

bool qvInotifyMonitor::LookUp(int wd, Watch* out) {
  std::lock_guard<std::mutex> guard(watchLock_);
  auto it = byWd_.find(wd);
  if (it == byWd_.end()) return false;
  *out = it->second;
  return true;
}

void qvInotifyMonitor::ReportLimitOnce(uint32_t slot) {
  if (limitReported_[slot]) return;
  limitReported_[slot] = true;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  ShowErrorBox("卷%s的文件夹太多，无法全部监视；改为每%d秒重新扫描一次",
               qvNameCodec::EncodeToString(app->volumes.root[slot]).c_str(), kPollFallbackMs / 1000);
}

std::unique_ptr<qvVolumeMonitor> qvMakeDefaultMonitor(qvKearchImpl& engine, qvVolumeSource& source,
                                                      const char* tier) {
  std::string kind = tier ? tier : "";
  if (kind == "off") return nullptr;
  if (!dynamic_cast<qvLinuxVolumeSource*>(&source)) return nullptr;
  auto monitor = std::make_unique<qvInotifyMonitor>(engine);
  if (!monitor->Ready()) return nullptr;
  return monitor;
}
