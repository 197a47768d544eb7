#include "qvMonitorCore.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <unordered_map>

#include "qvDirWalker.h"
#include "qvErrorBox.h"
#include "qvExclusionPrune.h"
#include "qvFileBaseApp.h"
#include "qvIndexEdit.h"
#include "qvLinuxVolumeSource.h"
#include "qvNameCodec.h"
#include "qvNtfsVolumeSource.h"
#include "qvRecordPath.h"
#include "qvStreamScan.h"

namespace {

// A burst of events settles for this long before it is applied, so that
// the two halves of a rename arrive together.
constexpr auto kSettle = std::chrono::milliseconds(30);
constexpr size_t kMaxBatch = 4096;
// Where watches ran out, the volume is scanned again this often.
constexpr int kPollFallbackMs = 30000;
// Events held in memory while a rescan walks, at most.
constexpr size_t kDrainLimit = size_t{1} << 18;
// A folder added by an event that could not be opened where the index has
// it (moved on again) is tried after this many more batches, then its
// volume is scanned again.
constexpr int kWalkAttempts = 3;

}  // namespace

// Entries copied out of a walk: the walk's own buffers are reused.
struct qvMonitorCore::EntryBuffer {
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

namespace {

uint32_t EndNumber(const qvDirWalker& walker) {
  return static_cast<uint32_t>(std::min<uint64_t>(walker.EndRef(), QV_MAX_RECORD_NUMBER + 1ull));
}

}  // namespace

qvMonitorCore::qvMonitorCore(qvKearchImpl& engine) : engine_(engine) {
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

qvMonitorCore::~qvMonitorCore() {
  Stop();
  if (wake_ >= 0) close(wake_);
}

int qvMonitorCore::SlotOfVolume(size_t volume) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app) return -1;
  for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
    if (app->volumes.indexed[slot] && app->volumes.sourceIndex[slot] == static_cast<int>(volume))
      return static_cast<int>(slot);
  return -1;
}

qvVolumeSource::FolderHook qvMonitorCore::Hook() {
  return [this](size_t volume, uint64_t ref, int fd) {
    int slot = SlotOfVolume(volume);
    if (slot >= 0 && ref <= QV_MAX_RECORD_NUMBER)
      WatchFolder(static_cast<uint32_t>(slot), static_cast<uint32_t>(ref), fd, std::string());
  };
}

void qvMonitorCore::Start(bool catchUp) {
  if (wake_ < 0 || thread_.joinable()) return;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  {
    qvMutexLock guard(engine_.lock);
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
      if (app->volumes.indexed[slot]) nextNumber_[slot] = MaxRecordNumber(Index(), slot) + 1;
  }
  thread_ = std::thread([this, catchUp] { Run(catchUp); });
}

void qvMonitorCore::Stop() {
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

bool qvMonitorCore::Followed(uint32_t slot) const {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  return !app || app->volumes.sourceIndex[slot] < 0 ||
         !qvNtfsIsRawVolume(engine_.VolumeSource(), static_cast<size_t>(app->volumes.sourceIndex[slot]));
}

void qvMonitorCore::Run(bool catchUp) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (catchUp) {
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
      if (app->volumes.indexed[slot]) Rescan(slot);
  }
  // The mount table wakes us when it changes (POLLPRI), while there are
  // raw NTFS volumes a mount could take over.
  int mounts = qvNtfsHasRawVolumes(engine_.VolumeSource()) ? open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC) : -1;
  if (mounts >= 0) HandOverMounted(mounts);  // mounted since discovery
  following_ = 1;
  std::vector<pollfd> fds;
  size_t sources = 0;
  auto pollSet = [&] {
    fds.clear();
    for (int fd : EventFds()) fds.push_back({fd, POLLIN, 0});
    sources = fds.size();
    fds.push_back({wake_, POLLIN, 0});
    if (mounts >= 0) fds.push_back({mounts, POLLPRI, 0});
  };
  pollSet();
  while (!stop_) {
    bool comeBack[QV_VOLUME_SLOTS] = {};
    if (TakeReinclusions(comeBack)) {
      WalkAddedFolders(comeBack);
      for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
        if (comeBack[slot] && app->volumes.indexed[slot]) Rescan(slot);
      continue;
    }
    // Events read while a rescan walked wait in the queue already.
    size_t queued = ReadEvents();
    if (queued == 0) {
      bool over[QV_VOLUME_SLOTS];
      bool polling = false;
      for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) polling |= (over[slot] = overBudget_[slot].load());
      int n = poll(fds.data(), fds.size(), polling ? kPollFallbackMs : -1);
      if (stop_) break;
      if (n < 0 && errno == EINTR) continue;
      if (mounts >= 0 && (fds.back().revents & (POLLPRI | POLLERR))) {
        if (HandOverMounted(mounts)) pollSet();  // a handed-over volume may bring its own event source
        continue;
      }
      if (n == 0) {
        for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
          if (over[slot]) Rescan(slot);
        continue;
      }
      if ((queued = ReadEvents()) == 0) continue;
    }
    auto until = std::chrono::steady_clock::now() + kSettle;
    while (queued < kMaxBatch && !stop_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      if (poll(fds.data(), sources, static_cast<int>(left.count())) <= 0) break;
      queued = ReadEvents();
    }
    bool rescan[QV_VOLUME_SLOTS] = {};
    ProcessEvents(rescan);
    WalkAddedFolders(rescan);
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS && !stop_; ++slot)
      if (rescan[slot] && app->volumes.indexed[slot]) Rescan(slot);
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
      if (overBudget_[slot].load()) ReportOnce(slot, kWatchesRanOut);
  }
  if (mounts >= 0) close(mounts);
}

bool qvMonitorCore::HandOverMounted(int mounts) {
  std::string table;
  char buffer[16384];
  ssize_t n;
  if (lseek(mounts, 0, SEEK_SET) != 0) return false;
  while ((n = read(mounts, buffer, sizeof buffer)) > 0) table.append(buffer, static_cast<size_t>(n));
  bool any = false;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  for (const auto& m : qvNtfsTakeMountedVolumes(engine_.VolumeSource(), table)) {
    int slot = SlotOfVolume(m.index);
    if (slot < 0) continue;
    std::string root = m.mountPoint + "/";
    {
      qvMutexLock guard(engine_.lock);
      app->volumes.root[slot] = qvNameCodec::DecodeToString(root);
      // The saved index of a walked volume is never caught up from its journal.
      app->volumes.journalId[slot] = qvMakeJournalId("mounted", root);
    }
    if (!FollowSlot(static_cast<uint32_t>(slot))) SetOverBudget(static_cast<uint32_t>(slot));
    Rescan(static_cast<uint32_t>(slot));
    any = true;
  }
  return any;
}

void qvMonitorCore::FinishBatch(bool due, const bool touched[QV_VOLUME_SLOTS]) {
  qvFileBaseApp& app = Index();
  if (due) engine_.RunSearchLocked();
  for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
    if (touched[slot]) ++app.volumes.nextUsn[slot];
}

// A search is due when an entry the current query matches came or went.
static bool Matches(qvFileBaseApp& app, const qvString& name) {
  if (!app.patternSet.Active()) return false;
  qvString copy = name;
  return app.patternSet.MatchName(copy.data(), copy.size());
}

bool qvMonitorCore::Excluded(uint32_t slot, uint32_t parent, const qvString& name) {
  std::shared_ptr<const qvExclusions> rules = engine_.Exclusions();
  if (rules->Empty()) return false;
  std::string bytes = qvNameCodec::EncodeToString(name);
  if (rules->ExcludesName(bytes)) return true;
  return rules->HasFolders() && rules->ExcludesEntry(FolderPath(slot, parent), bytes);
}

bool qvMonitorCore::Added(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder) {
  qvFileBaseApp& app = Index();
  if (Excluded(slot, parent, name)) return false;
  // The scan, or an earlier event, may hold it already.
  if (FindChildNumber(app, slot, parent, name.data(), name.size(), isFolder) != 0) return false;
  if (nextNumber_[slot] > QV_MAX_RECORD_NUMBER) return false;
  uint32_t number = nextNumber_[slot]++;
  if (!qvIndexEdit::AddEntry(app, slot, parent, number, name, isFolder)) return false;
  if (isFolder) {
    pendingWalks_.push_back({slot, number, 0});
    return app.patternSet.Active();  // what it holds may match
  }
  return Matches(app, name);
}

bool qvMonitorCore::Deleted(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder) {
  qvFileBaseApp& app = Index();
  uint32_t number = FindChildNumber(app, slot, parent, name.data(), name.size(), isFolder);
  if (number == 0) return false;
  if (!isFolder) return qvIndexEdit::RemoveFile(app, slot, parent, number, name) && Matches(app, name);
  std::vector<uint32_t> removed;
  qvIndexEdit::RemoveTree(app, slot, number, &removed);
  ForgetFolders(slot, removed);
  return app.patternSet.Active();
}

bool qvMonitorCore::Moved(uint32_t slot, uint32_t parent, const qvString& name, uint32_t toSlot, uint32_t toParent,
                          const qvString& toName, bool isFolder) {
  qvFileBaseApp& app = Index();
  // Moved into an excluded place (`mv build node_modules`): it leaves.
  if (Excluded(toSlot, toParent, toName)) return Deleted(slot, parent, name, isFolder);
  uint32_t number = FindChildNumber(app, slot, parent, name.data(), name.size(), isFolder);
  if (number == 0) return Added(toSlot, toParent, toName, isFolder);
  if (toSlot != slot) {
    bool removed = Deleted(slot, parent, name, isFolder);
    return Added(toSlot, toParent, toName, isFolder) || removed;
  }
  bool due = false;
  // A name taken at the target is replaced by the moved entry.
  uint32_t target = FindChildNumber(app, slot, toParent, toName.data(), toName.size(), isFolder);
  if (target != 0 && target != number) due |= Deleted(slot, toParent, toName, isFolder);
  if (!qvIndexEdit::MoveEntry(app, slot, number, parent, name, toParent, toName, isFolder)) {
    // The new parent is not in the index: the entry left it.
    return Deleted(slot, parent, name, isFolder) || due;
  }
  // A moved folder changes the path of every row below it.
  return due || Matches(app, name) || Matches(app, toName) || (isFolder && app.patternSet.Active());
}

// Walks the folders that the batch added. Each is reached at the path the
// index has for it now, so a folder renamed after it was made (both
// events in one batch) is walked where it is. One that cannot be opened
// has moved on: the event that says where comes with a later batch.
void qvMonitorCore::WalkAddedFolders(bool rescan[QV_VOLUME_SLOTS]) {
  std::vector<PendingWalk> walks;
  walks.swap(pendingWalks_);
  for (PendingWalk& w : walks) {
    if (stop_) return;
    std::string path;
    {
      qvMutexLock guard(engine_.lock);
      if (Index().dirMap.FindRecord(MakeDirKey(w.slot, w.number)) == kNullRef) continue;  // gone again
      path = FolderPath(w.slot, w.number);
    }
    if (AddSubtree(w.slot, w.number, path)) continue;
    if (++w.attempts < kWalkAttempts) pendingWalks_.push_back(w);
    else rescan[w.slot] = true;
  }
}

// Walks a folder that appeared with contents (moved in, or filled before
// it was watched) outside the engine lock, watching each folder before it
// is read, then adds what the walk found under the lock.
bool qvMonitorCore::AddSubtree(uint32_t slot, uint32_t folder, const std::string& path) {
  qvDirWalker::Options options;
  options.threads = 1;  // parents come before their children
  options.rootRef = folder;
  options.firstRef = nextNumber_[slot];
  options.onFolderOpened = [&](uint64_t ref, int fd) {
    if (ref <= QV_MAX_RECORD_NUMBER) WatchFolder(slot, static_cast<uint32_t>(ref), fd, std::string());
  };
  options.exclusions = engine_.Exclusions();
  qvDirWalker walker(options);
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    if (stop_) return true;
    walker_ = &walker;
  }
  EntryBuffer buffer;
  walker.Walk(path, [&](const ScanEntry* e, size_t n) { buffer.Add(e, n); });
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    walker_ = nullptr;
  }
  if (walker.Stats().rootError != 0) return false;
  buffer.Seal();
  nextNumber_[slot] = std::max(nextNumber_[slot], EndNumber(walker));
  qvMutexLock guard(engine_.lock);
  qvFileBaseApp& app = Index();
  // The folder may have gone while it was walked.
  if (app.dirMap.FindRecord(MakeDirKey(slot, folder)) == kNullRef) return true;
  // Entries the index holds already (events that came first) keep their
  // numbers; their children follow them.
  std::unordered_map<uint64_t, uint32_t> renumbered;
  bool due = false;
  for (const ScanEntry& e : buffer.entries) {
    if (e.fileRef > QV_MAX_RECORD_NUMBER) continue;
    auto p = renumbered.find(e.parentRef);
    uint32_t parent = p != renumbered.end() ? p->second : static_cast<uint32_t>(e.parentRef);
    bool isFolder = (e.attributes & QV_ATTR_DIRECTORY) != 0;
    uint32_t existing = FindChildNumber(app, slot, parent, e.name, e.nameLength, isFolder);
    if (existing != 0) {
      if (isFolder) {
        renumbered[e.fileRef] = existing;
        RenumberFolder(slot, static_cast<uint32_t>(e.fileRef), existing);
      }
      continue;
    }
    qvIndexEdit::Name name(e.name, e.nameLength);
    due |= qvIndexEdit::AddEntry(app, slot, parent, static_cast<uint32_t>(e.fileRef), name, isFolder) &&
           app.patternSet.Active();
  }
  if (due) engine_.RunSearchLocked();
  return true;
}

// Scans a volume again and puts the fresh records in place of its old
// ones. Events that arrive meanwhile wait in the queue and are applied
// afterwards.
void qvMonitorCore::Rescan(uint32_t slot) {
  if (!Followed(slot)) return;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::string root = qvNameCodec::EncodeToString(app->volumes.root[slot]);
  overBudget_[slot] = false;
  ForgetSlot(slot);
  qvDirWalker::Options options;
  options.onFolderOpened = [this, slot](uint64_t ref, int fd) {
    if (ref <= QV_MAX_RECORD_NUMBER) WatchFolder(slot, static_cast<uint32_t>(ref), fd, std::string());
  };
  options.exclusions = engine_.Exclusions();
  qvDirWalker walker(options);
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    if (stop_) return;
    walker_ = &walker;
  }
  EntryBuffer buffer;
  bool complete = WalkDraining(walker, root, buffer);
  {
    std::lock_guard<std::mutex> guard(walkerLock_);
    walker_ = nullptr;
  }
  if (stop_) return;
  // A root that is gone (deleted, moved away) leaves the volume empty.
  bool gone = !complete && walker.Stats().rootError != 0;
  if (!complete && !gone) return;
  buffer.Seal();
  qvMutexLock guard(engine_.lock);
  qvStreamScan::RemoveVolume(Index(), slot);
  qvStreamScan scan(Index(), nullptr);
  if (!gone && scan.BeginVolume(slot, app->volumes.root[slot])) {
    scan.AddEntries(buffer.entries.data(), buffer.entries.size());
    scan.EndVolume();
    scan.Finish();
  }
  nextNumber_[slot] = EndNumber(walker);
  ++app->volumes.nextUsn[slot];
  ++rescans_;
  ObeyRulesSince(options.exclusions);
  engine_.RunSearchLocked();
}

void qvMonitorCore::ObeyRulesSince(const std::shared_ptr<const qvExclusions>& walked) {
  std::shared_ptr<const qvExclusions> now = engine_.Exclusions();
  if (now == walked || *now == *walked) return;
  std::vector<qvRemovedFolder> removed;
  qvPruneExcluded(Index(), *now, &removed);
  for (const qvRemovedFolder& f : removed) ForgetFolders(f.first, {f.second});
}

void qvMonitorCore::WalkIn(std::vector<Reinclusion> what) {
  {
    std::lock_guard<std::mutex> guard(reinclusionLock_);
    for (Reinclusion& r : what) reinclusions_.push_back(std::move(r));
  }
  if (wake_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(wake_, &one, sizeof one);
  }
}

// Each entry let in again is found on the disk first (outside the lock),
// then added below its folder like an entry that appeared; a folder is
// walked with the batch's other added folders.
bool qvMonitorCore::TakeReinclusions(bool rescan[QV_VOLUME_SLOTS]) {
  std::vector<Reinclusion> what;
  {
    std::lock_guard<std::mutex> guard(reinclusionLock_);
    what.swap(reinclusions_);
  }
  if (what.empty()) return false;
  uint64_t drained;
  [[maybe_unused]] ssize_t r = read(wake_, &drained, sizeof drained);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  for (const Reinclusion& in : what) {
    if (in.slot >= QV_VOLUME_SLOTS) continue;
    if (in.path.empty()) {
      rescan[in.slot] = true;
      continue;
    }
    struct stat st;
    if (lstat(in.path.c_str(), &st) != 0) continue;  // gone meanwhile: nothing comes back
    qvMutexLock guard(engine_.lock);
    std::string root = qvNameCodec::EncodeToString(app->volumes.root[in.slot]);
    if (in.path.size() <= root.size() || in.path.compare(0, root.size(), root) != 0) continue;
    // The folder that holds it, found by its names from the root.
    uint32_t parent = QV_ROOT_RECORD_NUMBER;
    size_t at = root.size();
    for (size_t end; parent != 0 && (end = in.path.find('/', at)) != std::string::npos; at = end + 1) {
      qvString part = qvNameCodec::DecodeToString(in.path.substr(at, end - at));
      parent = FindChildNumber(Index(), in.slot, parent, part.data(), part.size(), true);
    }
    if (parent == 0) continue;  // its folder is not indexed (left out too, or gone)
    bool due = Added(in.slot, parent, qvNameCodec::DecodeToString(in.path.substr(at)), S_ISDIR(st.st_mode));
    if (due) engine_.RunSearchLocked();
  }
  return true;
}

// Walks on a helper thread while this one keeps reading events into the
// queue, so that the kernel's queue does not overflow during a long walk
// (on a busy file system that would call for yet another rescan). The
// queue is applied after the walk; past kDrainLimit events reading pauses.
bool qvMonitorCore::WalkDraining(qvDirWalker& walker, const std::string& root, EntryBuffer& buffer) {
  int done = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (done < 0) return walker.Walk(root, [&](const ScanEntry* e, size_t n) { buffer.Add(e, n); });
  bool complete = false;
  std::atomic<bool> finished{false};
  std::thread walk([&] {
    complete = walker.Walk(root, [&](const ScanEntry* e, size_t n) { buffer.Add(e, n); });
    finished = true;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(done, &one, sizeof one);
  });
  std::vector<pollfd> fds;
  for (int fd : EventFds()) fds.push_back({fd, POLLIN, 0});
  fds.push_back({done, POLLIN, 0});
  size_t queued = 0;
  while (!finished) {
    bool reading = queued < kDrainLimit;
    pollfd* first = reading ? fds.data() : &fds.back();
    size_t count = reading ? fds.size() : 1;
    if (poll(first, count, -1) > 0 && reading) queued = ReadEvents();
  }
  walk.join();
  close(done);
  return complete;
}

std::string qvMonitorCore::FolderPath(uint32_t slot, uint32_t number) {
  qvFileBaseApp& app = Index();
  qvString path;
  qvAppendFolderPath(app, app.dirMap.FindRecord(MakeDirKey(slot, number)), &path);
  return qvNameCodec::EncodeToString(path);
}

void qvMonitorCore::ReportOnce(uint32_t slot, Report what) {
  if (reported_[what][slot]) return;
  reported_[what][slot] = true;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::string root = qvNameCodec::EncodeToString(app->volumes.root[slot]);
  if (what == kWatchesRanOut)
    ShowErrorBox("卷%s的文件夹太多，无法全部监视；改为每%d秒重新扫描一次", root.c_str(), kPollFallbackMs / 1000);
  else
    ShowErrorBox("卷%s的变更事件队列溢出，已重新扫描", root.c_str());
}
