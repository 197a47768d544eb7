#include "qvFanotifyMonitor.h"

#include <fcntl.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

#include "qvFileBaseApp.h"
#include "qvIndexEdit.h"
#include "qvNameCodec.h"
#include "qvNtfsVolumeSource.h"

namespace {

#ifndef FAN_RENAME
constexpr uint64_t FAN_RENAME = 0x10000000;
#endif
#ifndef FAN_EVENT_INFO_TYPE_OLD_DFID_NAME
constexpr uint8_t FAN_EVENT_INFO_TYPE_OLD_DFID_NAME = 10;
constexpr uint8_t FAN_EVENT_INFO_TYPE_NEW_DFID_NAME = 12;
#endif
// name_to_handle_at: the handle kind fanotify reports (kernel 6.5+; older
// kernels reject the flag and give the same handle without it).
constexpr int kHandleFid = 0x200;

constexpr uint64_t kEntryEvents = FAN_CREATE | FAN_DELETE | FAN_ONDIR | FAN_EVENT_ON_CHILD;
constexpr uint64_t kRootEvents = FAN_DELETE_SELF | FAN_MOVE_SELF | FAN_ONDIR;
constexpr uint64_t kNameEvents = FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM | FAN_MOVED_TO;

uint64_t FolderId(uint32_t slot, uint32_t number) { return (static_cast<uint64_t>(slot) << 32) | number; }

// A handle as a map key: its type, then its bytes.
std::string HandleKey(int32_t type, const unsigned char* bytes, uint32_t length) {
  std::string key(reinterpret_cast<const char*>(&type), sizeof type);
  key.append(reinterpret_cast<const char*>(bytes), length);
  return key;
}

// A handle rebuilt from its map key, for open_by_handle_at.
class HandleBuffer {
 public:
  explicit HandleBuffer(const std::string& key) {
    int32_t type;
    std::memcpy(&type, key.data(), sizeof type);
    get()->handle_type = type;
    get()->handle_bytes = static_cast<unsigned>(std::min<size_t>(key.size() - sizeof type, MAX_HANDLE_SZ));
    std::memcpy(get()->f_handle, key.data() + sizeof type, get()->handle_bytes);
  }
  file_handle* get() { return reinterpret_cast<file_handle*>(storage_); }

 private:
  alignas(file_handle) unsigned char storage_[sizeof(file_handle) + MAX_HANDLE_SZ];
};

// The handle of `path` (relative to `dirFd`), empty when it has none.
std::string HandleAt(int dirFd, const char* path, int flags) {
  alignas(file_handle) unsigned char storage[sizeof(file_handle) + MAX_HANDLE_SZ];
  auto* fh = reinterpret_cast<file_handle*>(storage);
  int mountId = 0;
  fh->handle_bytes = MAX_HANDLE_SZ;
  if (name_to_handle_at(dirFd, path, fh, &mountId, flags | kHandleFid) != 0) {
    if (errno != EINVAL) return {};
    fh->handle_bytes = MAX_HANDLE_SZ;
    if (name_to_handle_at(dirFd, path, fh, &mountId, flags) != 0) return {};
  }
  return HandleKey(fh->handle_type, fh->f_handle, fh->handle_bytes);
}

// Our share of the inode marks this user may hold.
size_t MarkBudget() {
  std::ifstream in("/proc/sys/fs/fanotify/max_user_marks");
  size_t limit = 8192;
  in >> limit;
  return limit / 10 * 8;
}

// Whether `name` is in folder `dirFd`: 1 present, 0 absent, -1 cannot
// tell.
int Presence(int dirFd, const std::string& name, struct stat* st) {
  if (fstatat(dirFd, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0) return 1;
  return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
}

// Opens a folder for lookups only; a path too long for one call is
// followed a component at a time. Symbolic links are not followed.
int OpenFolderPath(const std::string& path) {
  int fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (size_t at = 0; fd >= 0 && at < path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    if (end > at) {
      int next = openat(fd, path.substr(at, end - at).c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      close(fd);
      fd = next;
    }
    at = end + 1;
  }
  return fd;
}

// Rounds of waiting for the rename that explains where a folder went,
// before its volume is scanned again instead.
constexpr int kMaxRounds = 8;
// Folders kept open during a batch, at most.
constexpr size_t kMaxOpenFolders = 64;

}  // namespace

qvFanotifyMonitor::qvFanotifyMonitor(qvKearchImpl& engine, Marks marks) : qvMonitorCore(engine), marks_(marks) {
  for (int& g : groupOf_) g = -1;
  markBudget_ = marks_ == Marks::Folders ? MarkBudget() : std::numeric_limits<size_t>::max();
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app) return;
  bool any = false;
  for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    if (!app->volumes.indexed[slot] || !Followed(slot)) continue;
    if (!AddGroupFor(slot)) return;
    any = true;
  }
  // Raw NTFS volumes alone: ready to follow them once a mount takes them over.
  ready_ = any || qvNtfsHasRawVolumes(engine.VolumeSource());
}

qvFanotifyMonitor::~qvFanotifyMonitor() {
  Stop();
  for (Group& g : groups_) {
    if (g.fd >= 0) close(g.fd);
    if (g.rootFd >= 0) close(g.rootFd);
  }
}

// Finds or makes the group of the slot's file system, marked so that the
// slot's root is followed, and marks the root itself for its own removal.
bool qvFanotifyMonitor::AddGroupFor(uint32_t slot) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::string root = qvNameCodec::EncodeToString(app->volumes.root[slot]);
  int rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd < 0) return false;
  struct stat st;
  if (fstat(rootFd, &st) != 0) {
    close(rootFd);
    return false;
  }
  const unsigned how = FAN_MARK_ADD | (marks_ == Marks::FileSystem ? FAN_MARK_FILESYSTEM : FAN_MARK_ONLYDIR);
  size_t index = 0;
  while (index < groups_.size() && groups_[index].dev != st.st_dev) ++index;
  if (index == groups_.size()) {
    Group g;
    g.fd = fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_DFID_NAME | FAN_CLOEXEC | FAN_NONBLOCK,
                         O_RDONLY | O_CLOEXEC | O_LARGEFILE);
    if (g.fd < 0) {
      close(rootFd);
      return false;
    }
    g.rootFd = rootFd;
    g.dev = st.st_dev;
    // A rename as one event with both names where the kernel has it.
    if (fanotify_mark(g.fd, how, kEntryEvents | FAN_RENAME, rootFd, nullptr) == 0) {
      g.dirMask = kEntryEvents | FAN_RENAME;
    } else if (errno == EINVAL &&
               fanotify_mark(g.fd, how, kEntryEvents | FAN_MOVED_FROM | FAN_MOVED_TO, rootFd, nullptr) == 0) {
      g.dirMask = kEntryEvents | FAN_MOVED_FROM | FAN_MOVED_TO;
    } else {
      close(g.fd);
      close(rootFd);
      return false;
    }
    groups_.push_back(std::move(g));
  } else if (marks_ == Marks::Folders) {
    bool marked = fanotify_mark(groups_[index].fd, how, groups_[index].dirMask, rootFd, nullptr) == 0;
    close(rootFd);
    if (!marked) return false;
  } else {
    close(rootFd);
  }
  groupOf_[slot] = static_cast<int>(index);
  // The root's own removal or move leaves nothing to follow; a failed
  // mark here only loses that signal.
  fanotify_mark(groups_[index].fd, FAN_MARK_ADD | FAN_MARK_ONLYDIR | FAN_MARK_DONT_FOLLOW, kRootEvents, AT_FDCWD,
                root.c_str());
  return true;
}

std::vector<int> qvFanotifyMonitor::EventFds() const {
  std::vector<int> fds;
  for (const Group& g : groups_) fds.push_back(g.fd);
  return fds;
}

size_t qvFanotifyMonitor::ReadEvents() {
  alignas(fanotify_event_metadata) char buffer[64 * 1024];
  for (size_t group = 0; group < groups_.size(); ++group) {
    for (;;) {
      ssize_t n = read(groups_[group].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      Parse(group, buffer, static_cast<size_t>(n));
    }
  }
  return events_.size();
}

// Records are copied field by field: only 4-byte alignment is promised
// after the first event.
void qvFanotifyMonitor::Parse(size_t group, const char* buffer, size_t length) {
  size_t off = 0;
  while (length - off >= FAN_EVENT_METADATA_LEN) {
    fanotify_event_metadata meta;
    std::memcpy(&meta, buffer + off, sizeof meta);
    if (meta.event_len < FAN_EVENT_METADATA_LEN || meta.event_len > length - off) break;
    if (meta.vers != FANOTIFY_METADATA_VERSION) break;
    if (meta.fd >= 0) close(meta.fd);
    Event e{group, meta.mask};
    const char* p = buffer + off + meta.metadata_len;
    const char* end = buffer + off + meta.event_len;
    while (end - p >= static_cast<ptrdiff_t>(sizeof(fanotify_event_info_header))) {
      fanotify_event_info_header h;
      std::memcpy(&h, p, sizeof h);
      if (h.len < sizeof h || h.len > end - p) break;
      const char* recordEnd = p + h.len;
      bool named = h.info_type == FAN_EVENT_INFO_TYPE_DFID_NAME || h.info_type == FAN_EVENT_INFO_TYPE_OLD_DFID_NAME ||
                   h.info_type == FAN_EVENT_INFO_TYPE_NEW_DFID_NAME;
      const char* fh = p + sizeof(fanotify_event_info_fid);  // the file_handle
      if ((named || h.info_type == FAN_EVENT_INFO_TYPE_DFID) &&
          recordEnd - fh >= static_cast<ptrdiff_t>(sizeof(file_handle))) {
        uint32_t bytes;
        int32_t type;
        std::memcpy(&bytes, fh + offsetof(file_handle, handle_bytes), sizeof bytes);
        std::memcpy(&type, fh + offsetof(file_handle, handle_type), sizeof type);
        const char* handle = fh + sizeof(file_handle);
        if (bytes <= static_cast<size_t>(recordEnd - handle)) {
          const char* name = handle + bytes;
          std::string key = HandleKey(type, reinterpret_cast<const unsigned char*>(handle), bytes);
          std::string text = named ? std::string(name, strnlen(name, static_cast<size_t>(recordEnd - name))) : "";
          if (h.info_type == FAN_EVENT_INFO_TYPE_NEW_DFID_NAME) {
            e.hasTo = true;
            e.toDir = std::move(key);
            e.toName = std::move(text);
          } else {
            e.hasFrom = true;
            e.fromDir = std::move(key);
            e.fromName = std::move(text);
          }
        }
      }
      p = recordEnd;
    }
    if ((e.mask & FAN_Q_OVERFLOW) || Concerns(e)) events_.push_back(std::move(e));
    off += meta.event_len;
  }
}

void qvFanotifyMonitor::ProcessEvents(bool rescan[QV_VOLUME_SLOTS]) {
  std::vector<Event> pending;
  pending.swap(events_);
  bool due = false;
  bool touched[QV_VOLUME_SLOTS] = {};
  for (int round = 0; !pending.empty(); ++round) {
    std::vector<Event> later;
    std::vector<int> laterSlots;
    for (Event& e : pending) {
      int slot = ProcessOne(e, rescan, touched, &due);
      if (slot < 0) continue;
      later.push_back(std::move(e));
      laterSlots.push_back(slot);
    }
    if (later.empty()) break;
    // A folder found elsewhere than the index has it: the rename that
    // explains it is queued, in this batch or right behind it.
    ReadEvents();
    if (events_.empty() || round == kMaxRounds) {
      for (int slot : laterSlots) rescan[slot] = true;
      events_.clear();
      break;
    }
    pending.swap(events_);
    events_.clear();
    for (Event& e : later) pending.push_back(std::move(e));
  }
  CloseFolders();
  qvMutexLock guard(engine_.lock);
  FinishBatch(due, touched);
}

int qvFanotifyMonitor::ProcessOne(const Event& e, bool rescan[QV_VOLUME_SLOTS], bool touched[QV_VOLUME_SLOTS],
                                  bool* due) {
  if (openFolders_.size() >= kMaxOpenFolders) CloseFolders();
  if (e.mask & FAN_Q_OVERFLOW) {
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
      if (groupOf_[slot] != static_cast<int>(e.group)) continue;
      rescan[slot] = true;
      ReportOnce(slot, kEventsLost);
    }
    return -1;
  }
  Folder folder;
  // A folder's own event names no entry (or "." where the kernel fills the
  // name in).
  bool self = e.fromName.empty() || e.fromName == ".";
  if ((e.mask & (FAN_DELETE_SELF | FAN_MOVE_SELF)) && e.hasFrom && self && LookUp(e.group, e.fromDir, &folder) &&
      folder.number == QV_ROOT_RECORD_NUMBER) {
    rescan[folder.slot] = true;  // the root went away
  }
  if (e.mask & FAN_RENAME) return ProcessRename(e, touched, due);
  if (!(e.mask & kNameEvents) || !e.hasFrom || self || !LookUp(e.group, e.fromDir, &folder)) return -1;
  int fd = -1;
  Reach reach = OpenFolder(e.group, e.fromDir, folder, &fd);
  if (reach == Reach::kLater) return static_cast<int>(folder.slot);
  if (reach == Reach::kOpen) {
    Observation now = Observe(fd, e.fromName);
    qvMutexLock guard(engine_.lock);
    touched[folder.slot] = true;
    *due |= Settle(folder, e.fromName, now);
  }
  return -1;  // a folder that is gone takes its entries with it
}

// A rename whose old name is gone from its folder moves the indexed entry
// (a folder keeps its subtree); then both names are settled, which also
// repairs whatever a merged event hid.
int qvFanotifyMonitor::ProcessRename(const Event& e, bool touched[QV_VOLUME_SLOTS], bool* due) {
  Folder from, to;
  int fromFd = -1, toFd = -1;
  bool knownFrom = e.hasFrom && !e.fromName.empty() && LookUp(e.group, e.fromDir, &from);
  bool knownTo = e.hasTo && !e.toName.empty() && LookUp(e.group, e.toDir, &to);
  if (knownFrom) {
    Reach r = OpenFolder(e.group, e.fromDir, from, &fromFd);
    if (r == Reach::kLater) return static_cast<int>(from.slot);
    knownFrom = r == Reach::kOpen;
  }
  if (knownTo) {
    Reach r = OpenFolder(e.group, e.toDir, to, &toFd);
    if (r == Reach::kLater) return static_cast<int>(to.slot);
    knownTo = r == Reach::kOpen;
  }
  Observation oldName, newName;
  if (knownFrom) oldName = Observe(fromFd, e.fromName);
  if (knownTo) newName = Observe(toFd, e.toName);
  qvMutexLock guard(engine_.lock);
  if (knownFrom && knownTo && oldName.present == 0) {
    qvString oldText = qvNameCodec::DecodeToString(e.fromName);
    for (bool isFolder : {true, false}) {
      if (FindChildNumber(Index(), from.slot, from.number, oldText.data(), oldText.size(), isFolder) == 0) continue;
      *due |= Moved(from.slot, from.number, oldText, to.slot, to.number, qvNameCodec::DecodeToString(e.toName),
                    isFolder);
      break;
    }
  }
  if (knownFrom) {
    touched[from.slot] = true;
    *due |= Settle(from, e.fromName, oldName);
  }
  if (knownTo) {
    touched[to.slot] = true;
    *due |= Settle(to, e.toName, newName);
  }
  return -1;
}

// Finds the folder an event names, wherever it is now: by its handle
// where the process may open handles, else at its indexed path when the
// folder there is still the same one. The descriptor stays with the
// cache: a burst in one folder opens it once.
qvFanotifyMonitor::Reach qvFanotifyMonitor::OpenFolder(size_t group, const std::string& handle, const Folder& folder,
                                                       int* fd) {
  auto cached = openFolders_.find(handle);
  if (cached != openFolders_.end() && cached->second.group == group) {
    *fd = cached->second.fd;
    return Reach::kOpen;
  }
  Reach reach = OpenUncached(group, handle, folder, fd);
  if (reach == Reach::kOpen) {
    if (cached != openFolders_.end()) {
      close(cached->second.fd);
      openFolders_.erase(cached);
    }
    openFolders_[handle] = {group, *fd};
  }
  return reach;
}

void qvFanotifyMonitor::CloseFolders() {
  for (auto& [handle, open] : openFolders_) close(open.fd);
  openFolders_.clear();
}

qvFanotifyMonitor::Reach qvFanotifyMonitor::OpenUncached(size_t group, const std::string& handle,
                                                         const Folder& folder, int* fd) {
  if (openByHandle_) {
    HandleBuffer fh(handle);
    *fd = open_by_handle_at(groups_[group].rootFd, fh.get(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (*fd >= 0) return Reach::kOpen;
    if (errno == ESTALE || errno == ENOENT) return Reach::kGone;
    if (errno != EPERM && errno != EACCES && errno != ENOSYS && errno != EOPNOTSUPP) return Reach::kLater;
    openByHandle_ = false;  // not for this process: by path from now on
  }
  std::string path;
  {
    qvMutexLock guard(engine_.lock);
    path = FolderPath(folder.slot, folder.number);
  }
  *fd = OpenFolderPath(path);
  if (*fd < 0) return Reach::kLater;
  if (HandleAt(*fd, "", AT_EMPTY_PATH) == handle) return Reach::kOpen;
  close(*fd);
  *fd = -1;
  return Reach::kLater;
}

qvFanotifyMonitor::Observation qvFanotifyMonitor::Observe(int dirFd, const std::string& name) {
  Observation o;
  struct stat st;
  o.present = Presence(dirFd, name, &st);
  o.isDir = o.present > 0 && S_ISDIR(st.st_mode);
  if (o.isDir) o.handle = HandleAt(dirFd, name.c_str(), 0);
  return o;
}

bool qvFanotifyMonitor::Settle(const Folder& parent, const std::string& name, const Observation& now) {
  qvFileBaseApp& app = Index();
  if (app.dirMap.FindRecord(MakeDirKey(parent.slot, parent.number)) == kNullRef) return false;
  if (now.present < 0) return false;
  const bool present = now.present > 0;
  const bool isDir = now.isDir;
  qvString text = qvNameCodec::DecodeToString(name);
  uint32_t file = FindChildNumber(app, parent.slot, parent.number, text.data(), text.size(), false);
  uint32_t dir = FindChildNumber(app, parent.slot, parent.number, text.data(), text.size(), true);
  bool due = false;
  if (file != 0 && (!present || isDir)) due |= Deleted(parent.slot, parent.number, text, false);
  if (dir != 0 && (!present || !isDir)) {
    due |= Deleted(parent.slot, parent.number, text, true);
  } else if (dir != 0 && !SameFolder(parent.slot, dir, now.handle)) {
    // Another folder now has the name: the old one's contents are gone.
    due |= Deleted(parent.slot, parent.number, text, true);
    due |= Added(parent.slot, parent.number, text, true);
  }
  if (present && !isDir && file == 0) due |= Added(parent.slot, parent.number, text, false);
  if (present && isDir && dir == 0) due |= Added(parent.slot, parent.number, text, true);
  return due;
}

bool qvFanotifyMonitor::SameFolder(uint32_t slot, uint32_t number, const std::string& handle) {
  if (handle.empty()) return true;
  qvMutexLock guard(folderLock_);
  auto it = handleOf_.find(FolderId(slot, number));
  return it == handleOf_.end() || it->second == handle;
}

void qvFanotifyMonitor::WatchFolder(uint32_t slot, uint32_t number, int dirFd, const std::string& path) {
  if (slot >= QV_VOLUME_SLOTS || groupOf_[slot] < 0) return;
  Group& g = groups_[static_cast<size_t>(groupOf_[slot])];
  std::string handle = dirFd >= 0 ? HandleAt(dirFd, "", AT_EMPTY_PATH) : HandleAt(AT_FDCWD, path.c_str(), 0);
  if (handle.empty()) {
    // Gone already: its removal is on the way. Otherwise its events could
    // not be told apart, and the volume is polled.
    if (errno != ENOENT && errno != ENOTDIR && errno != ESTALE) SetOverBudget(slot);
    return;
  }
  qvMutexLock guard(folderLock_);
  if (marks_ == Marks::Folders) {
    if (!g.folders.count(handle) && handleOf_.size() >= markBudget_) {
      SetOverBudget(slot);
      return;
    }
    int r = dirFd >= 0 ? fanotify_mark(g.fd, FAN_MARK_ADD | FAN_MARK_ONLYDIR, g.dirMask, dirFd, nullptr)
                       : fanotify_mark(g.fd, FAN_MARK_ADD | FAN_MARK_ONLYDIR | FAN_MARK_DONT_FOLLOW, g.dirMask,
                                       AT_FDCWD, path.c_str());
    if (r != 0) {
      SetOverBudget(slot);
      return;
    }
  }
  g.folders[handle] = {slot, number};
  handleOf_[FolderId(slot, number)] = std::move(handle);
}

void qvFanotifyMonitor::ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) {
  if (groupOf_[slot] < 0) return;
  Group& g = groups_[static_cast<size_t>(groupOf_[slot])];
  std::vector<std::string> unmark;
  {
    qvMutexLock guard(folderLock_);
    for (uint32_t number : numbers) {
      auto h = handleOf_.find(FolderId(slot, number));
      if (h == handleOf_.end()) continue;
      auto f = g.folders.find(h->second);
      if (f != g.folders.end() && f->second.slot == slot && f->second.number == number) {
        if (marks_ == Marks::Folders) unmark.push_back(h->second);
        g.folders.erase(f);
      }
      handleOf_.erase(h);
    }
  }
  // A folder moved out of the index keeps its mark unless it can be
  // reached by its handle (this needs CAP_DAC_READ_SEARCH; a deleted
  // folder's mark went with it).
  for (const std::string& key : unmark) {
    HandleBuffer fh(key);
    int fd = open_by_handle_at(g.rootFd, fh.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    fanotify_mark(g.fd, FAN_MARK_REMOVE | FAN_MARK_ONLYDIR, g.dirMask, fd, nullptr);
    close(fd);
  }
}

void qvFanotifyMonitor::ForgetSlot(uint32_t slot) {
  if (groupOf_[slot] < 0) return;
  Group& g = groups_[static_cast<size_t>(groupOf_[slot])];
  qvMutexLock guard(folderLock_);
  for (auto it = g.folders.begin(); it != g.folders.end();) {
    if (it->second.slot == slot) it = g.folders.erase(it);
    else ++it;
  }
  for (auto it = handleOf_.begin(); it != handleOf_.end();) {
    if ((it->first >> 32) == slot) it = handleOf_.erase(it);
    else ++it;
  }
}

void qvFanotifyMonitor::RenumberFolder(uint32_t slot, uint32_t from, uint32_t to) {
  if (groupOf_[slot] < 0) return;
  Group& g = groups_[static_cast<size_t>(groupOf_[slot])];
  qvMutexLock guard(folderLock_);
  auto h = handleOf_.find(FolderId(slot, from));
  if (h == handleOf_.end()) return;
  std::string handle = std::move(h->second);
  handleOf_.erase(h);
  g.folders[handle] = {slot, to};
  handleOf_[FolderId(slot, to)] = std::move(handle);
}

// Whether an event names an indexed folder. Others are dropped as they are
// read: a folder that becomes known later is walked after this read, and
// the walk finds what the dropped events told of (a rescan watches each
// folder before it reads it).
bool qvFanotifyMonitor::Concerns(const Event& e) {
  qvMutexLock guard(folderLock_);
  const auto& folders = groups_[e.group].folders;
  return (e.hasFrom && folders.count(e.fromDir)) || (e.hasTo && folders.count(e.toDir));
}

bool qvFanotifyMonitor::LookUp(size_t group, const std::string& handle, Folder* out) {
  qvMutexLock guard(folderLock_);
  auto it = groups_[group].folders.find(handle);
  if (it == groups_[group].folders.end()) return false;
  *out = it->second;
  return true;
}
