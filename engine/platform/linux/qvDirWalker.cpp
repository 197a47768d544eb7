#include "qvDirWalker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "qvNameCodec.h"

namespace {

std::atomic<void (*)()> gSlowDiskHook{nullptr};

// A folder waiting to be read, or read and still needed by its children.
// A child opens itself relative to its parent's descriptor, which the
// parent keeps open until its last child has done so. Folders stay alive
// while they have live children, so that a child whose parent could not
// keep a descriptor can rebuild its path from the root.
struct Dir {
  Dir* parent = nullptr;
  uint64_t ref = 0;
  int fd = -1;             // set before the children are queued, then fixed
  bool pinned = false;     // the root: its descriptor lives for the whole walk
  bool toward = false;     // an excluded folder lies below: children are classified by path
  std::atomic<uint32_t> unopened{0};  // children that still have to open themselves
  std::atomic<uint32_t> holds{1};     // own reading + live children
  std::string name;
  std::string relative;    // path below the root, kept only while toward
};

// Last in, first out: the walk goes deep first, which keeps the number of
// folders holding descriptors near the depth of the tree.
class WorkStack {
 public:
  void Seed(Dir* d) { items_.push_back(d); }

  // Queues the children of the task just finished (if any) and hands out
  // the next task; null once no task is left and no thread is busy.
  Dir* Exchange(std::vector<Dir*>& children, bool finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    items_.insert(items_.end(), children.begin(), children.end());
    children.clear();
    if (finished) --busy_;
    for (;;) {
      if (!items_.empty()) {
        Dir* d = items_.back();
        items_.pop_back();
        ++busy_;
        if (!items_.empty() && waiting_ > 0) cv_.notify_one();
        return d;
      }
      if (busy_ == 0) {
        if (waiting_ > 0) cv_.notify_all();
        return nullptr;
      }
      ++waiting_;
      cv_.wait(lock);
      --waiting_;
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Dir*> items_;
  size_t busy_ = 0;
  size_t waiting_ = 0;
};

// What the threads of one walk share.
struct WalkState {
  const ScanSink* sink = nullptr;
  std::mutex sinkMutex;
  WorkStack stack;
  int rootFd = -1;
  uint64_t rootDevMajor = 0, rootDevMinor = 0;
  uint64_t rootMountId = 0;
  bool haveMountId = false;
  std::atomic<uint64_t> nextRef{qvDirWalker::kFirstRef};
  std::atomic<long> keptFds{0};
  long fdBudget = 0;
  std::atomic<bool>* stop = nullptr;
  const std::function<void(uint64_t, int)>* onFolderOpened = nullptr;
  const qvExclusionScope* scope = nullptr;
  std::atomic<bool> failed{false};
  std::mutex errorMutex;
  std::exception_ptr error;

  bool Stopping() const {
    return failed.load(std::memory_order_relaxed) || stop->load(std::memory_order_relaxed);
  }

  void Fail(std::exception_ptr e) {
    std::lock_guard<std::mutex> lock(errorMutex);
    if (!error) error = e;
    failed.store(true);
  }
};

// A directory record as getdents64 writes it: inode (8), offset (8),
// record length (2), type (1), then the zero-terminated name.
constexpr size_t kRecLenOffset = 16;
constexpr size_t kTypeOffset = 18;
constexpr size_t kNameOffset = 19;

constexpr uint64_t kRefBlock = 1024;  // numbers taken from the shared counter at a time
constexpr size_t kMaxChunk = 4000;    // bytes of relative path per openat, below PATH_MAX

bool IsDotOrDotDot(const char* name, size_t len) {
  return name[0] == '.' && (len == 1 || (len == 2 && name[1] == '.'));
}

class Worker {
 public:
  Worker(WalkState& walk, const qvDirWalker::Options& options)
      : walk_(walk),
        bufferBytes_(std::clamp<size_t>(options.readBufferBytes, 4096, 64 << 20)),
        buffer_(new char[bufferBytes_]),
        batchEntries_(std::clamp<size_t>(options.batchEntries, 1, 1 << 20)) {
    entries_.reserve(batchEntries_);
    // Linux names are at most 255 bytes and never decode to more units
    // than bytes; the arena grows if a file system breaks that rule.
    arena_.resize(std::max<size_t>(batchEntries_ * 24, 4096));
  }

  void Run() {
    Dir* d = walk_.stack.Exchange(children_, false);
    while (d) {
      try {
        Process(d);
      } catch (...) {
        // Out of memory while opening: give up the walk rather than the
        // process; what this task held is lost.
        walk_.Fail(std::current_exception());
        children_.clear();
      }
      d = walk_.stack.Exchange(children_, true);
    }
    Flush();
  }

  const qvWalkStats& Stats() const { return stats_; }

 private:
  void Process(Dir* d) {
    int fd = Open(d);
    if (fd >= 0) {
      if (*walk_.onFolderOpened) (*walk_.onFolderOpened)(d->ref, fd);
      if (auto slow = gSlowDiskHook.load(std::memory_order_relaxed)) slow();
      try {
        Read(d, fd);
      } catch (...) {
        walk_.Fail(std::current_exception());
        for (Dir* c : children_) delete c;
        children_.clear();
      }
      Adopt(d, fd);
    }
    Release(d);
  }

  // Opens folder d; -1 when it is not to be read (stopped, gone, another
  // file system, or unreadable, which is counted).
  int Open(Dir* d) {
    if (d->pinned) return d->fd;
    Dir* p = d->parent;
    int fd = -1;
    if (p->fd >= 0) {
      if (!walk_.Stopping()) fd = OpenChild(p->fd, d->name.c_str());
      if (!p->pinned && p->unopened.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        close(p->fd);
        walk_.keptFds.fetch_sub(1, std::memory_order_relaxed);
      }
    } else if (!walk_.Stopping()) {
      fd = OpenByPath(d);
    }
    return fd;
  }

  // Opens the subfolder `name` of the folder `parentFd` if it belongs to
  // the walked file system. The type and device are checked first without
  // triggering an automount; a mount point is listed but not entered.
  int OpenChild(int parentFd, const char* name) {
    struct statx stx;
    if (statx(parentFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID,
              &stx) != 0) {
      if (errno != ENOENT) ++stats_.unreadableFolders;  // gone since it was listed: nothing lost
      return -1;
    }
    if (!S_ISDIR(stx.stx_mode)) return -1;  // replaced since it was listed
    bool sameFs = stx.stx_dev_major == walk_.rootDevMajor &&
                  stx.stx_dev_minor == walk_.rootDevMinor &&
                  (!walk_.haveMountId || !(stx.stx_mask & STATX_MNT_ID) ||
                   stx.stx_mnt_id == walk_.rootMountId);
    if (!sameFs) {
      ++stats_.mountPoints;
      return -1;
    }
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) ++stats_.unreadableFolders;
    return fd;
  }

  // The parent had no descriptor to spare: walk down from the root in
  // relative paths of at most kMaxChunk bytes.
  int OpenByPath(Dir* d) {
    std::vector<const Dir*> chain;  // d's ancestors below the root, deepest first
    for (const Dir* a = d->parent; !a->pinned; a = a->parent) chain.push_back(a);
    int cur = walk_.rootFd;
    std::string chunk;
    for (size_t i = chain.size(); i-- > 0;) {
      const std::string& name = chain[i]->name;
      if (!chunk.empty() && chunk.size() + 1 + name.size() > kMaxChunk) {
        if (!Descend(&cur, chunk)) return -1;
        chunk.clear();
      }
      if (!chunk.empty()) chunk.push_back('/');
      chunk += name;
    }
    if (!chunk.empty() && !Descend(&cur, chunk)) return -1;
    int fd = OpenChild(cur, d->name.c_str());
    if (cur != walk_.rootFd) close(cur);
    return fd;
  }

  bool Descend(int* cur, const std::string& relative) {
    int fd = openat(*cur, relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*cur != walk_.rootFd) close(*cur);
    *cur = fd;
    if (fd < 0) {
      if (errno != ENOENT) ++stats_.unreadableFolders;
      return false;
    }
    return true;
  }

  // Lists the entries of folder d; its subfolders become children_.
  void Read(Dir* d, int fd) {
    for (;;) {
      long n = syscall(SYS_getdents64, fd, buffer_.get(), bufferBytes_);
      if (n < 0) {
        if (errno == EINTR) continue;
        ++stats_.unreadableFolders;
        return;
      }
      if (n == 0) return;
      for (long off = 0; off < n;) {
        const char* rec = buffer_.get() + off;
        uint16_t recLen;
        memcpy(&recLen, rec + kRecLenOffset, sizeof recLen);
        if (recLen <= kNameOffset || off + recLen > n) {  // never seen; trust nothing after it
          ++stats_.unreadableFolders;
          return;
        }
        off += recLen;
        unsigned char type = static_cast<unsigned char>(rec[kTypeOffset]);
        const char* name = rec + kNameOffset;
        size_t len = strnlen(name, recLen - kNameOffset);
        if (len == 0 || IsDotOrDotDot(name, len)) continue;
        qvExclusionScope::Step step = qvExclusionScope::kClear;
        std::string relative;
        if (Excluded(d, std::string_view(name, len), &step, &relative)) {
          ++stats_.excluded;
          continue;
        }
        if (type == DT_UNKNOWN) type = TypeOf(fd, name);
        uint64_t ref = NextRef();
        if (type == DT_DIR) {
          Emit(ref, d->ref, QV_ATTR_DIRECTORY, name, len);
          ++stats_.folders;
          Dir* c = new Dir;
          c->parent = d;
          c->ref = ref;
          c->name.assign(name, len);
          if (step == qvExclusionScope::kToward) {
            c->toward = true;
            c->relative = std::move(relative);
          }
          children_.push_back(c);
        } else {
          Emit(ref, d->ref, QV_ATTR_NORMAL, name, len);
        }
      }
    }
  }

  // Whether the rules leave out entry `name` of folder d; for a folder on
  // the way to an excluded one, its path below the root and kToward.
  bool Excluded(const Dir* d, std::string_view name, qvExclusionScope::Step* step, std::string* relative) const {
    const qvExclusionScope& scope = *walk_.scope;
    if (!scope.Active()) return false;
    if (scope.ExcludesName(name)) return true;
    if (!d->toward) return false;
    relative->assign(d->relative);
    if (!relative->empty()) relative->push_back('/');
    relative->append(name);
    *step = scope.Classify(*relative);
    return *step == qvExclusionScope::kExcluded;
  }

  static unsigned char TypeOf(int dirFd, const char* name) {
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) return DT_REG;
    return S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
  }

  // After reading d: its descriptor stays open for its children, within
  // the budget; without children or over the budget it is closed.
  void Adopt(Dir* d, int fd) {
    if (d->pinned) {
      d->holds.fetch_add(static_cast<uint32_t>(children_.size()), std::memory_order_relaxed);
      return;
    }
    if (children_.empty()) {
      close(fd);
      return;
    }
    d->holds.fetch_add(static_cast<uint32_t>(children_.size()), std::memory_order_relaxed);
    if (walk_.keptFds.fetch_add(1, std::memory_order_relaxed) < walk_.fdBudget) {
      d->unopened.store(static_cast<uint32_t>(children_.size()), std::memory_order_relaxed);
      d->fd = fd;
    } else {
      walk_.keptFds.fetch_sub(1, std::memory_order_relaxed);
      close(fd);
      d->fd = -1;
    }
  }

  // Drops one hold on d; the last one frees it and passes up the tree.
  static void Release(Dir* d) {
    while (d && d->holds.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      Dir* p = d->parent;
      if (d->pinned) return;  // the walk frees the root
      delete d;
      d = p;
    }
  }

  uint64_t NextRef() {
    if (refNext_ == refEnd_) {
      refNext_ = walk_.nextRef.fetch_add(kRefBlock, std::memory_order_relaxed);
      refEnd_ = refNext_ + kRefBlock;
    }
    return refNext_++;
  }

  void Emit(uint64_t ref, uint64_t parent, uint32_t attributes, const char* name, size_t len) {
    if (entries_.size() == batchEntries_ || arena_.size() - arenaUsed_ < len) Flush();
    if (arena_.size() < len) arena_.resize(len);
    qvChar* out = arena_.data() + arenaUsed_;
    size_t units = qvNameCodec::Decode(name, len, out, arena_.size() - arenaUsed_);
    entries_.push_back(ScanEntry{ref, parent, attributes, out, static_cast<uint32_t>(units)});
    arenaUsed_ += units;
    ++stats_.entries;
  }

  // Hands the batch to the sink, one thread at a time. A failing sink
  // stops the walk; its exception is rethrown by Walk.
  void Flush() {
    if (!entries_.empty()) {
      std::lock_guard<std::mutex> lock(walk_.sinkMutex);
      // Checked under the lock: no call may follow a failed one.
      if (!walk_.failed.load(std::memory_order_relaxed)) {
        try {
          (*walk_.sink)(entries_.data(), entries_.size());
        } catch (...) {
          walk_.Fail(std::current_exception());
        }
      }
    }
    entries_.clear();
    arenaUsed_ = 0;
  }

  WalkState& walk_;
  size_t bufferBytes_;
  std::unique_ptr<char[]> buffer_;
  size_t batchEntries_;
  std::vector<ScanEntry> entries_;
  std::vector<qvChar> arena_;
  size_t arenaUsed_ = 0;
  std::vector<Dir*> children_;
  uint64_t refNext_ = 0, refEnd_ = 0;
  qvWalkStats stats_;
};

// Descriptors the walk may keep open for folders whose children are still
// queued: a share of the process limit, leaving room for everything else.
long FdBudget() {
  struct rlimit rl;
  long limit = 1024;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
    limit = static_cast<long>(std::min<rlim_t>(rl.rlim_cur, 1 << 20));
  return std::clamp(limit / 4, 16L, 4096L);
}

void Add(qvWalkStats* total, const qvWalkStats& s) {
  total->entries += s.entries;
  total->folders += s.folders;
  total->unreadableFolders += s.unreadableFolders;
  total->mountPoints += s.mountPoints;
  total->excluded += s.excluded;
}

}  // namespace

void qvDirWalker::SetSlowDiskHook(void (*hook)()) { gSlowDiskHook.store(hook); }

bool qvDirWalker::Walk(const std::string& rootPath, const ScanSink& sink) {
  stats_ = qvWalkStats();
  qvExclusionScope scope(options_.exclusions.get(), rootPath);
  if (scope.RootExcluded()) {  // never opened
    endRef_ = options_.firstRef;
    return !stop_.load(std::memory_order_relaxed);
  }
  int rootFd = open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct statx stx;
  if (rootFd < 0 || statx(rootFd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MNT_ID, &stx) != 0) {
    stats_.rootError = errno;
    if (rootFd >= 0) close(rootFd);
    return false;
  }

  WalkState walk;
  walk.sink = &sink;
  walk.rootFd = rootFd;
  walk.rootDevMajor = stx.stx_dev_major;
  walk.rootDevMinor = stx.stx_dev_minor;
  walk.haveMountId = (stx.stx_mask & STATX_MNT_ID) != 0;
  walk.rootMountId = stx.stx_mnt_id;
  walk.fdBudget = options_.keptFolderLimit >= 0 ? options_.keptFolderLimit : FdBudget();
  walk.stop = &stop_;
  walk.onFolderOpened = &options_.onFolderOpened;
  walk.scope = &scope;
  walk.nextRef.store(options_.firstRef);

  Dir root;
  root.ref = options_.rootRef;
  root.fd = rootFd;
  root.pinned = true;
  root.toward = scope.RootStep() == qvExclusionScope::kToward;
  walk.stack.Seed(&root);

  // The calling thread is one of the workers.
  unsigned count = std::max(options_.threads, 1u);
  std::vector<std::unique_ptr<Worker>> workers;
  for (unsigned i = 0; i < count; ++i) workers.push_back(std::make_unique<Worker>(walk, options_));
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < count; ++i) {
    try {
      threads.emplace_back(&Worker::Run, workers[i].get());
    } catch (const std::system_error&) {
      break;  // fewer threads still finish the walk
    }
  }
  workers[0]->Run();
  for (std::thread& t : threads) t.join();

  close(rootFd);
  endRef_ = walk.nextRef.load();
  for (const auto& w : workers) Add(&stats_, w->Stats());
  if (walk.error) std::rethrow_exception(walk.error);
  return !stop_.load(std::memory_order_relaxed);
}
