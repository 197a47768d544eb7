#include "qvResultSort.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "qvCollation.h"
#include "qvIndex.h"
#include "qvNameCodec.h"
#include "qvPath.h"
#include "qvRecordPath.h"
#include "qvStatxBatch.h"

namespace {

constexpr uint32_t kHidden = 0x2;
constexpr uint32_t kSystem = 0x4;
// Rows a reading thread takes at a time, and how many of them its ring
// keeps in the kernel at once.
constexpr size_t kReadBatch = 1024;
constexpr unsigned kRingDepth = 256;

// 100 ns units since 1601-01-01 UTC, as the row details give them.
uint64_t ToFileTime(const struct statx_timestamp& t) {
  constexpr int64_t kEpochDelta = 11644473600LL;
  int64_t seconds = t.tv_sec + kEpochDelta;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * 10000000ULL + t.tv_nsec / 100;
}

bool HiddenName(const qvString& path) {
  size_t end = path.size();
  if (end > 1 && path[end - 1] == u'/') --end;  // a volume root's own path
  size_t slash = path.rfind(u'/', end - 1);
  size_t first = slash == qvString::npos ? 0 : slash + 1;
  return first < end && path[first] == u'.';
}

// The folders one reading thread has open: a name is looked up in its
// folder alone, not along its whole path again. A handle stays open until
// Forget, so that no request still in the kernel loses its folder.
class FolderHandles {
 public:
  ~FolderHandles() { Forget(); }
  int Get(const std::string& folder) {
    auto [at, added] = open_.try_emplace(folder, -1);
    if (added && open_.size() <= kMaxOpen) at->second = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return at->second;
  }
  // Between batches, once the folders held are too many.
  void ForgetIfFull() {
    if (open_.size() >= kMaxOpen) Forget();
  }

 private:
  void Forget() {
    for (auto& [path, fd] : open_)
      if (fd >= 0) close(fd);
    open_.clear();
  }
  // Well below the usual limit of 1,024 descriptors, with a few threads.
  static constexpr size_t kMaxOpen = 128;
  std::unordered_map<std::string, int> open_;
};

// What statx is asked, for every column at once: the facts are kept for
// any later order of the same result.
constexpr unsigned kFactMask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME;
// Cached attributes are good enough for an order; a network file system
// need not ask its server.
constexpr int kFactFlags = AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC;

// One row on its way through statx: the encoded path stays alive while the
// kernel may read it.
struct PendingRow {
  std::string bytes;
  struct statx st;
};

// Points `item` at the row's name within its open folder, or at the whole
// path (a volume root's path ends in '/': it is looked up whole).
void Locate(const qvString& path, FolderHandles& folders, PendingRow& row, qvStatxItem& item) {
  row.bytes = qvNameCodec::EncodeToString(path);
  item = {AT_FDCWD, row.bytes.c_str(), &row.st};
  size_t slash = row.bytes.rfind('/');
  if (slash != std::string::npos && slash + 1 < row.bytes.size() && slash > 0) {
    int fd = folders.Get(row.bytes.substr(0, slash));
    if (fd >= 0) {
      item.dir = fd;
      item.name = row.bytes.c_str() + slash + 1;
    }
  }
}

qvItemFacts FactsOf(const qvFactRequest& request, const qvStatxItem& item) {
  qvItemFacts f;
  if (HiddenName(request.path)) f.attributes |= kHidden;
  if (item.result != 0) return f;
  const struct statx& st = *item.out;
  // The same rules as the row details, so that the order matches the
  // texts the list shows.
  bool born = (st.stx_mask & STATX_BTIME) && (st.stx_btime.tv_sec != 0 || st.stx_btime.tv_nsec != 0);
  f.created = born ? ToFileTime(st.stx_btime) : ToFileTime(st.stx_ctime);
  f.modified = ToFileTime(st.stx_mtime);
  f.accessed = ToFileTime(st.stx_atime);
  if (!request.isFolder) f.size = st.stx_size;
  mode_t type = st.stx_mode & S_IFMT;
  if (type == S_IFSOCK || type == S_IFCHR || type == S_IFBLK || type == S_IFIFO) f.attributes |= kSystem;
  return f;
}

uint64_t FactKey(const qvItemFacts& f, qvSortColumn column) {
  switch (column) {
    case qvSortColumn::kSize: return f.size;
    case qvSortColumn::kCreated: return f.created;
    case qvSortColumn::kModified: return f.modified;
    case qvSortColumn::kAccessed: return f.accessed;
    case qvSortColumn::kAttributes: return f.attributes;
    default: return 0;
  }
}

const uint8_t* NameOf(const uint8_t* record, bool isFolder, size_t* length) {
  *length = isFolder ? DirRecord::NameLength(record) : FileRecord::NameLength(record);
  return isFolder ? DirRecord::Name(record) : FileRecord::Name(record);
}

RecordRef ParentOf(const uint8_t* record, bool isFolder) {
  return isFolder ? DirRecord::Parent(record) : FileRecord::Parent(record);
}

// One row while it is sorted.
struct Entry {
  uint8_t* record;
  uint64_t key;      // the name's sort key, or the fact
  uint32_t rank;     // the folder's place in path order
  bool known;        // the fact is known
};

// The order of the folders that hold the rows, compared name by name from
// the root down with the store's collation: a folder's path sorts before
// every path below it.
class FolderRanks {
 public:
  FolderRanks(const qvIndex& index, const std::vector<Entry>& rows, bool isFolder) {
    for (const Entry& e : rows) {
      RecordRef parent = ParentOf(e.record, isFolder);
      if (place_.emplace(parent, 0).second) chains_.push_back({parent, Chain(index, parent)});
    }
    std::vector<size_t> order(chains_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return ComparePaths(chains_[a].names, chains_[b].names) < 0; });
    for (size_t i = 0; i < order.size(); ++i) place_[chains_[order[i]].parent] = static_cast<uint32_t>(i);
  }
  uint32_t Rank(RecordRef parent) const { return place_.at(parent); }

 private:
  struct Name {
    const uint8_t* bytes;
    size_t length;
  };
  struct FolderChain {
    RecordRef parent;
    std::vector<Name> names;  // from the root down
  };

  static std::vector<Name> Chain(const qvIndex& index, RecordRef parent) {
    constexpr size_t kMaxDepth = 1 << 16;  // deeper is a cycle
    std::vector<Name> names;
    for (RecordRef ref = parent; ref != kNullRef && names.size() < kMaxDepth;) {
      const uint8_t* r = index.Resolve(ref);
      if (!r) break;
      names.push_back({DirRecord::Name(r), DirRecord::NameLength(r)});
      ref = DirRecord::Parent(r);
    }
    std::reverse(names.begin(), names.end());
    return names;
  }

  static int ComparePaths(const std::vector<Name>& a, const std::vector<Name>& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
      if (int d = qvCollation::CompareNames(a[i].bytes, a[i].length, b[i].bytes, b[i].length)) return d;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  }

  std::unordered_map<RecordRef, uint32_t> place_;
  std::vector<FolderChain> chains_;
};

int CompareNamesOf(const Entry& a, const Entry& b, bool isFolder, const ExtTable& ext) {
  if (a.key != b.key) return a.key < b.key ? -1 : 1;
  return isFolder ? qvCollation::CompareFolders(a.record, b.record) : qvCollation::CompareFiles(a.record, b.record, ext);
}

}  // namespace

std::vector<qvFactRequest> qvResultSort::MissingLocked(const qvIndex& index) const {
  std::vector<qvFactRequest> missing;
  std::unordered_map<RecordRef, qvString> folderPaths;
  qvChar name[QV_MAX_PATH];
  size_t folders = index.folderResults.Count();
  size_t rows = folders + index.fileResults.Count();
  for (size_t row = 0; row < rows; ++row) {
    bool isFolder;
    const uint8_t* record = index.RowRecord(row, &isFolder);
    if (!record || facts_.count(record)) continue;
    RecordRef parent = ParentOf(record, isFolder);
    auto [at, added] = folderPaths.try_emplace(parent);
    if (added) qvAppendFolderPath(index, parent, &at->second);
    size_t length = qvBuildDisplayName(index, record, isFolder, name, QV_MAX_PATH, nullptr, 0);
    missing.push_back({record, isFolder, qvPath::RowPath(at->second, std::u16string_view(name, length), isFolder)});
  }
  return missing;
}

std::vector<qvItemFacts> qvResultSort::ReadFacts(const std::vector<qvFactRequest>& requests, int threads) {
  std::vector<qvItemFacts> facts(requests.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    FolderHandles folders;
    qvStatxBatch ring(kRingDepth);
    std::vector<PendingRow> rows(kReadBatch);
    std::vector<qvStatxItem> items(kReadBatch);
    for (;;) {
      size_t first = next.fetch_add(kReadBatch);
      if (first >= requests.size()) return;
      size_t count = std::min(kReadBatch, requests.size() - first);
      folders.ForgetIfFull();
      for (size_t i = 0; i < count; ++i) Locate(requests[first + i].path, folders, rows[i], items[i]);
      ring.Run(items.data(), count, kFactMask, kFactFlags);
      for (size_t i = 0; i < count; ++i) {
        qvStatxItem& item = items[i];
        if (item.result == qvStatxItem::kNotRead)
          item.result = statx(item.dir, item.name, kFactFlags, kFactMask, item.out) == 0 ? 0 : -errno;
        facts[first + i] = FactsOf(requests[first + i], item);
      }
    }
  };
  size_t helpers = requests.size() > kReadBatch && threads > 1 ? static_cast<size_t>(threads - 1) : 0;
  helpers = std::min(helpers, requests.size() / kReadBatch);
  std::vector<std::thread> pool;
  for (size_t i = 0; i < helpers; ++i) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return facts;
}

void qvResultSort::AddFacts(const std::vector<qvFactRequest>& requests, const std::vector<qvItemFacts>& facts) {
  facts_.reserve(facts_.size() + requests.size());
  for (size_t i = 0; i < requests.size() && i < facts.size(); ++i) facts_[requests[i].record] = facts[i];
}

namespace {

// Sorts one result vector in place (its pages are reused). Returns the
// number of rows whose facts were missing.
size_t SortVector(const qvIndex& index, COutVector& results, bool isFolder, qvSortColumn column, bool reverse,
                  const std::unordered_map<const uint8_t*, qvItemFacts>& facts) {
  size_t count = results.Count();
  if (count < 2 && column < qvSortColumn::kSize) return 0;
  std::vector<Entry> rows(count);
  size_t missing = 0;
  bool byFact = column >= qvSortColumn::kSize;
  for (size_t i = 0; i < count; ++i) {
    Entry& e = rows[i];
    e.record = results.At(i);
    e.rank = 0;
    e.known = true;
    if (byFact) {
      auto found = facts.find(e.record);
      e.known = found != facts.end();
      e.key = e.known ? FactKey(found->second, column) : 0;
      if (!e.known) ++missing;
    } else {
      size_t length;
      const uint8_t* name = NameOf(e.record, isFolder, &length);
      e.key = qvCollation::SortKey(name, length);
    }
  }
  if (column == qvSortColumn::kPath) {
    FolderRanks ranks(index, rows, isFolder);
    for (Entry& e : rows) e.rank = ranks.Rank(ParentOf(e.record, isFolder));
  }

  const ExtTable& ext = index.extTable;
  auto compare = [&](const Entry& a, const Entry& b) -> int {
    if (byFact) return a.key < b.key ? -1 : a.key > b.key ? 1 : 0;
    if (a.rank != b.rank) return a.rank < b.rank ? -1 : 1;
    return CompareNamesOf(a, b, isFolder, ext);
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const Entry& a, const Entry& b) {
    // Rows not read yet come last whichever the direction.
    if (a.known != b.known) return a.known;
    return reverse ? compare(b, a) < 0 : compare(a, b) < 0;
  });

  results.Reset();
  for (const Entry& e : rows) results.Append(e.record);
  return missing;
}

}  // namespace

size_t qvResultSort::ApplyLocked(qvIndex& index) const {
  if (column_ == qvSortColumn::kStore) return 0;
  size_t missing = SortVector(index, index.folderResults, true, column_, reverse_, facts_) +
                   SortVector(index, index.fileResults, false, column_, reverse_, facts_);
  // The rows moved: readers of the old answer must ask again.
  ++index.generation;
  return missing;
}
