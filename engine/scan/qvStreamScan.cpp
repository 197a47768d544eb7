#include "qvStreamScan.h"

#include <algorithm>
#include <chrono>

#include "IQvSearch.h"
#include "qvCollation.h"
#include "qvCompact.h"
#include "qvErrorBox.h"
#include "qvIndex.h"
#include "qvNameCodec.h"
#include "qvPackedName.h"
#include "qvSort.h"

namespace {

// Marks a record for removal from its list during resolution; no pool
// hands out this ref (it would be the last 2 bytes of a block).
constexpr RecordRef kDroppedRef = 0xFFFFFFFE;

int64_t MicrosSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

// A volume lists a folder's files together, or spreads them over the
// folders it is in the middle of reading: the caller keeps the last
// parent looked up, and a small table of recent ones answers most other
// files without the map.
class RecentParents : public qvSortedRuns::ParentFinder {
 public:
  explicit RecentParents(const DirMap& map) : map_(map), recent_(kRecent, Recent{0, kNullRef, false}) {}
  RecordRef Find(DirKey key) override {
    Recent& slot = recent_[(key * 0x9E3779B1u) >> 20];
    if (!slot.used || slot.key != key) slot = {key, map_.FindRecord(key), true};
    return slot.ref;
  }

 private:
  struct Recent {
    DirKey key;
    RecordRef ref;
    bool used;
  };
  static constexpr size_t kRecent = 4096;
  static_assert(kRecent == 1u << 12, "the hash keeps the top 12 bits");
  const DirMap& map_;
  std::vector<Recent> recent_;
};

}  // namespace

qvStreamScan::qvStreamScan(qvIndex& app, IQvSearchNotify* sink)
    : app_(app), sink_(sink), firstNewFile_(app.fileList.Count()) {
  if (firstNewFile_ == 0) fileRuns_ = std::make_unique<qvSortedRuns>(app.heap);
}

qvStreamScan::~qvStreamScan() = default;

void qvStreamScan::RemoveVolume(qvIndex& app, uint32_t slot) {
  ++app.generation;
  auto onSlot = [&](RecordRef folder) {
    const uint8_t* r = app.Resolve(folder);
    return r && DirKeySlot(DirRecord::Key(r)) == slot;
  };
  app.fileList.RemoveIf([&](uint8_t* r) {
    if (!onSlot(FileRecord::Parent(r))) return false;
    app.extCase.Erase(r);
    return true;
  });
  app.folderList.RemoveIf([&](uint8_t* r) { return DirKeySlot(DirRecord::Key(r)) == slot; });
  for (size_t p = 0; p < app.dirMap.PageCount(); ++p) {
    DirMapPage* page = app.dirMap.Page(p);
    for (uint32_t k = page->first; k < page->end; ++k)
      if (DirKeySlot(page->entries[k].key) == slot) app.dirMap.ClearEntry(&page->entries[k]);
  }
  // The results may name removed records.
  app.folderResults.Reset();
  app.fileResults.Reset();
}

bool qvStreamScan::BeginVolume(uint32_t slot, const qvString& rootText) {
  slot_ = slot;
  inVolume_ = true;
  skippedInVolume_ = 0;
  size_t units = rootText.size();
  if (units > 0 && rootText[units - 1] == u'/') --units;
  size_t bytes = PackedName::EncodedLength(rootText.data(), units);
  if (bytes > kMaxNameBytes) return false;
  RecordRef ref;
  uint8_t* r = app_.recordPool.Alloc(DirRecord::kHeaderSize + bytes, &ref);
  if (!r) return false;
  uint8_t name[kMaxNameBytes];
  PackedName::Encode(rootText.data(), units, name);
  DirKey key = RootKey(slot);
  DirRecord::Write(r, key, kNullRef, name, static_cast<uint16_t>(bytes), bytes > units);
  if (!app_.folderList.Append(r)) return false;
  folders_.push_back({key, ref});
  return true;
}

void qvStreamScan::AddEntries(const ScanEntry* entries, size_t count) {
  if (!inVolume_) return;
  for (size_t i = 0; i < count; ++i) {
    const ScanEntry& e = entries[i];
    uint32_t number = static_cast<uint32_t>(e.fileRef);
    uint32_t parentNumber = static_cast<uint32_t>(e.parentRef);
    // A number that does not fit a key would alias another volume's key.
    if (number > QV_MAX_RECORD_NUMBER || parentNumber > QV_MAX_RECORD_NUMBER || e.nameLength == 0 ||
        e.nameLength > kMaxNameBytes) {
      ++skippedInVolume_;
      continue;
    }
    if (e.attributes & QV_ATTR_DIRECTORY) AddFolder(e);
    else AddFile(e);
  }
}

void qvStreamScan::AddFolder(const ScanEntry& e) {
  size_t bytes = PackedName::EncodedLength(e.name, e.nameLength);
  if (bytes > kMaxNameBytes) {
    ++skippedInVolume_;
    return;
  }
  RecordRef ref;
  uint8_t* r = app_.recordPool.Alloc(DirRecord::kHeaderSize + bytes, &ref);
  if (!r) return;
  DirKey key = MakeDirKey(slot_, static_cast<uint32_t>(e.fileRef));
  // Until resolution the parent field holds the parent's key.
  StoreU32(r, key);
  StoreU32(r + 4, MakeDirKey(slot_, static_cast<uint32_t>(e.parentRef)));
  PackedName::Encode(e.name, e.nameLength, r + DirRecord::kHeaderSize);
  StoreU16(r + 8, static_cast<uint16_t>(bytes | (bytes > e.nameLength ? DirRecord::kNonAscii : 0)));
  if (app_.folderList.Append(r)) folders_.push_back({key, ref});
}

void qvStreamScan::AddFile(const ScanEntry& e) {
  long dot = qvFindExtensionDot(e.name, e.nameLength);
  size_t baseUnits = dot < 0 ? e.nameLength : static_cast<size_t>(dot);
  bool hasExt = dot >= 0;
  uint32_t extId = 0;
  bool realCase = false;
  if (hasExt) {
    const qvChar* ext = e.name + baseUnits + 1;
    size_t extUnits = e.nameLength - baseUnits - 1;
    realCase = ExtCaseMap::NeedsEntry(ext, extUnits);
    extId = ExtensionId(ext, extUnits);
    if (extId == UINT32_MAX) return;
  }
  size_t bytes = PackedName::EncodedLength(e.name, baseUnits);
  if (bytes > kMaxNameBytes) {
    ++skippedInVolume_;
    return;
  }
  size_t size = FileRecord::SizeFor(bytes, hasExt, extId);
  // A full scan keeps its files apart until they are sorted (qvSortedRuns.h).
  uint8_t* r = fileRuns_ ? fileRuns_->Add(size) : app_.recordPool.Alloc(size);
  if (!r) return;
  uint8_t name[kMaxNameBytes];
  PackedName::Encode(e.name, baseUnits, name);
  uint32_t flags = FileRecord::MakeFlags(static_cast<uint32_t>(e.fileRef), bytes, bytes > baseUnits,
                                         hasExt, extId);
  FileRecord::Write(r, flags, MakeDirKey(slot_, static_cast<uint32_t>(e.parentRef)), name,
                    static_cast<uint16_t>(bytes), extId);
  if (fileRuns_) {
    if (realCase) fileRuns_->SetRealCase(r, e.name + baseUnits + 1, e.nameLength - baseUnits - 1);
    return;
  }
  if (!app_.fileList.Append(r)) return;
  if (realCase) app_.extCase.Set(r, e.name + baseUnits + 1, e.nameLength - baseUnits - 1);
}

uint32_t qvStreamScan::ExtensionId(const qvChar* ext, size_t length) {
  RecentExtension* recent = nullptr;
  if (length > 0 && length <= std::size(recentExtensions_[0].text)) {
    recent = &recentExtensions_[(length * 31 + ext[length - 1]) % std::size(recentExtensions_)];
    if (recent->length == length && std::equal(ext, ext + length, recent->text)) return recent->id;
  }
  qvChar folded[kMaxNameBytes];
  std::copy(ext, ext + length, folded);
  uint32_t id = app_.extTable.FindOrAdd(folded, length);  // folds in place
  if (recent && id != UINT32_MAX) {
    recent->length = static_cast<uint32_t>(length);
    recent->id = id;
    std::copy(ext, ext + length, recent->text);
  }
  return id;
}

void qvStreamScan::EndVolume() {
  if (inVolume_ && skippedInVolume_ > 0) {
    ShowErrorBox("卷%s中有%llu项无法编入索引", qvNameCodec::EncodeToString(app_.volumes.root[slot_]).c_str(),
                 static_cast<unsigned long long>(skippedInVolume_));
  }
  inVolume_ = false;
}

bool qvStreamScan::Finish() {
  ++app_.generation;
  if (sink_) sink_->OnStatus(-1, "正在构建目录数据库，请稍候...");
  if (fileRuns_) return FinishFullScan();
  auto start = std::chrono::steady_clock::now();
  if (!ResolveFolders() || !ResolveFiles()) return false;
  phases_.linkMicros = MicrosSince(start);
  start = std::chrono::steady_clock::now();
  if (!SortFolders() || !SortFiles()) return false;
  phases_.sortMicros = MicrosSince(start);
  // Laid out in list order the records are walked sequentially by every
  // search; and what a removed volume left in the pool is given back. An
  // index that stays scattered is still whole: a failure changes nothing.
  start = std::chrono::steady_clock::now();
  qvCompactRecords(app_);
  phases_.layoutMicros = MicrosSince(start);
  return true;
}

// The files are not in the pool yet. Each run is linked, in the order its
// files came, to the folders where they are now, and copied out sorted,
// before the folders are laid out: the runs' items are gone by then. The
// merge then copies the files after the folders, each linked to its
// folder's new place.
bool qvStreamScan::FinishFullScan() {
  auto start = std::chrono::steady_clock::now();
  fileRuns_->Close();
  phases_.sortWhileReadingMicros = fileRuns_->HelperMicros();
  phases_.sortMicros = MicrosSince(start);  // the wait for the helper
  start = std::chrono::steady_clock::now();
  bool ok = ResolveFolders();
  phases_.linkMicros = MicrosSince(start);
  start = std::chrono::steady_clock::now();
  ok = ok && SortFolders();
  phases_.sortMicros += MicrosSince(start);
  // The files' own link is part of the copy out, counted with the layout.
  start = std::chrono::steady_clock::now();
  if (ok) {
    if (sink_) sink_->OnStatus(-1, "正在排序文件，请稍候...");
    RecentParents parents(app_.dirMap), parentsOnSecondThread(app_.dirMap);
    int64_t dropped = fileRuns_->Arrange(parents, parentsOnSecondThread, app_.extTable);
    ok = dropped >= 0;
    if (dropped > 0) droppedFiles_ += static_cast<uint64_t>(dropped);
  }
  phases_.layoutMicros = MicrosSince(start);
  qvRefMoves moves;
  start = std::chrono::steady_clock::now();
  bool moved = ok && qvCompactRecords(app_, &moves);
  phases_.layoutMicros += MicrosSince(start);
  start = std::chrono::steady_clock::now();
  ok = ok && fileRuns_->MergeInto(app_.recordPool, app_.fileList, app_.extCase, app_.extTable, moved ? &moves : nullptr);
  fileRuns_.reset();
  app_.recordPool.Trim();
  phases_.sortMicros += MicrosSince(start);
  return ok;
}

// Every folder must reach its volume's root through its parents. A folder
// whose parent is missing, or that sits in a parent cycle, is dropped, and
// so is everything below it: no path may run through a folder that is not
// in the index.
bool qvStreamScan::ResolveFolders() {
  auto byKey = [](const DirMapEntry& a, const DirMapEntry& b) { return a.key < b.key; };
  if (!std::is_sorted(folders_.begin(), folders_.end(), byKey))
    std::stable_sort(folders_.begin(), folders_.end(), byKey);

  enum : uint8_t { kUnknown, kGood, kBad, kVisiting };
  const size_t n = folders_.size();
  std::vector<uint8_t> state(n, kUnknown);
  std::vector<uint32_t> parentIndex(n, UINT32_MAX);
  auto indexOf = [&](DirKey key) -> size_t {
    auto it = std::lower_bound(folders_.begin(), folders_.end(), DirMapEntry{key, 0}, byKey);
    return (it != folders_.end() && it->key == key) ? static_cast<size_t>(it - folders_.begin()) : n;
  };
  for (size_t i = 0; i < n; ++i) {
    // A key seen twice keeps its first record.
    if (i > 0 && folders_[i].key == folders_[i - 1].key) {
      state[i] = kBad;
      continue;
    }
    uint8_t* r = app_.Resolve(folders_[i].record);
    if (DirRecord::Parent(r) == kNullRef) {
      state[i] = kGood;
      continue;
    }
    size_t p = indexOf(DirRecord::Parent(r));
    if (p < n) parentIndex[i] = static_cast<uint32_t>(p);
    else state[i] = kBad;
  }
  std::vector<uint32_t> chain;
  for (size_t i = 0; i < n; ++i) {
    size_t at = i;
    while (state[at] == kUnknown) {
      state[at] = kVisiting;
      chain.push_back(static_cast<uint32_t>(at));
      at = parentIndex[at];
    }
    // kVisiting here means the chain ran into itself: a cycle.
    uint8_t verdict = state[at] == kGood ? kGood : kBad;
    for (uint32_t c : chain) state[c] = verdict;
    chain.clear();
  }

  for (size_t i = 0; i < n; ++i) {
    uint8_t* r = app_.Resolve(folders_[i].record);
    if (state[i] == kGood) {
      if (DirRecord::Parent(r) != kNullRef) DirRecord::SetParent(r, folders_[parentIndex[i]].record);
    } else {
      DirRecord::SetParent(r, kDroppedRef);
    }
  }
  app_.folderList.RemoveIf([](const uint8_t* r) { return DirRecord::Parent(r) == kDroppedRef; });

  // The map keeps the live entries it had (other volumes), merged in key
  // order with this scan's folders; a key both hold keeps the old entry.
  std::vector<DirMapEntry> merged;
  merged.reserve(app_.dirMap.Count() + n);
  for (size_t p = 0; p < app_.dirMap.PageCount(); ++p) {
    DirMapPage* page = app_.dirMap.Page(p);
    for (uint32_t k = page->first; k < page->end; ++k)
      if (page->entries[k].record != kNullRef) merged.push_back(page->entries[k]);
  }
  size_t kept = merged.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && folders_[i].key == folders_[i - 1].key) continue;
    if (state[i] != kGood) ++droppedFolders_;
    merged.push_back({folders_[i].key, state[i] == kGood ? folders_[i].record : kNullRef});
  }
  if (kept > 0) std::stable_sort(merged.begin(), merged.end(), byKey);
  app_.dirMap.Clear();
  for (size_t i = 0; i < merged.size(); ++i) {
    if (i > 0 && merged[i].key == merged[i - 1].key) {
      if (merged[i].record != kNullRef) DirRecord::SetParent(app_.Resolve(merged[i].record), kDroppedRef);
      continue;
    }
    if (!app_.dirMap.Append(merged[i].key, merged[i].record)) return false;
  }
  if (kept > 0)
    app_.folderList.RemoveIf([](const uint8_t* r) { return DirRecord::Parent(r) == kDroppedRef; });
  folders_.clear();
  folders_.shrink_to_fit();
  return true;
}

bool qvStreamScan::ResolveFiles() {
  RecentParents parents(app_.dirMap);
  DirKey lastKey = 0;
  RecordRef lastRef = kNullRef;
  bool haveLast = false;
  uint64_t dropped = 0;
  size_t index = 0;
  app_.fileList.RemoveIf([&](uint8_t* r) {
    if (index++ < firstNewFile_) return false;  // resolved before this scan
    DirKey key = FileRecord::Parent(r);
    if (!haveLast || key != lastKey) {
      lastKey = key;
      lastRef = parents.Find(key);
      haveLast = true;
    }
    if (lastRef == kNullRef) {
      ++dropped;
      app_.extCase.Erase(r);
      return true;
    }
    FileRecord::SetParent(r, lastRef);
    return false;
  });
  droppedFiles_ += dropped;
  return true;
}

// Sorts a list in place: its pointers, each with its name's first sort
// key, go into one array, are sorted by key after key, and are merged
// back into the same slots.
static_assert(qvCollation::kNoNextKey == kQvNoNextKey && qvCollation::kNameEnded == kQvNameEnded);

template <typename NameOf, typename Compare, typename CompareSameNames>
static bool SortList(qvHeap& heap, RecordList& list, NameOf nameOf, Compare compare,
                     CompareSameNames compareSameNames) {
  struct Item {
    uint64_t key;
    uint8_t* record;
  };
  size_t n = list.Count();
  if (n < 2) return true;
  // In whole huge pages: a page fault per 2 MB instead of one per 4 KB,
  // and the pages go back to the system when the sort is done.
  const size_t bytes = (n * sizeof(Item) + qvHeap::kHugePage - 1) / qvHeap::kHugePage * qvHeap::kHugePage;
  auto* items = static_cast<Item*>(heap.AllocPages(bytes));
  if (!items) return false;
  size_t k = 0;
  list.ForEach([&](uint8_t* r) {
    auto [name, length] = nameOf(r);
    items[k++] = {qvCollation::SortKey(name, length), r};
  });
  auto keyAt = [nameOf](const Item& item, size_t* from) {
    auto [name, length] = nameOf(item.record);
    return qvCollation::SortKeyAt(name, length, from);
  };
  auto nameLess = [nameOf](const Item& a, const Item& b) {
    auto [an, al] = nameOf(a.record);
    auto [bn, bl] = nameOf(b.record);
    return qvCollation::CompareNames(an, al, bn, bl) < 0;
  };
  auto sameNames = [compareSameNames](Item* first, size_t count) {
    qvQuickSort(first, count,
                [&](const Item& a, const Item& b) { return compareSameNames(a.record, b.record) < 0; });
  };
  auto fullLess = [compare](const Item& a, const Item& b) { return compare(a.record, b.record) < 0; };
  uint8_t** slot = nullptr;
  size_t page = 0;
  uint32_t at = 0, end = 0;
  qvSortByKeysOnTwoThreads(items, n, keyAt, nameLess, sameNames, fullLess, [&](const Item& item) {
    while (at == end) {
      RecordPage* p = list.Page(page++);
      slot = p->slots;
      at = p->first;
      end = p->end;
    }
    slot[at++] = item.record;
  });
  heap.FreePages(items, bytes);
  return true;
}

bool qvStreamScan::SortFolders() {
  if (sink_) sink_->OnStatus(-1, "正在排序文件夹，请稍候...");
  return SortList(
      app_.heap, app_.folderList,
      [](const uint8_t* r) { return std::pair(DirRecord::Name(r), static_cast<size_t>(DirRecord::NameLength(r))); },
      qvCollation::CompareFolders, [](const uint8_t*, const uint8_t*) { return 0; });
}

bool qvStreamScan::SortFiles() {
  if (sink_) sink_->OnStatus(-1, "正在排序文件，请稍候...");
  const ExtTable& ext = app_.extTable;
  return SortList(
      app_.heap, app_.fileList,
      [](const uint8_t* r) { return std::pair(FileRecord::Name(r), static_cast<size_t>(FileRecord::NameLength(r))); },
      [&ext](const uint8_t* a, const uint8_t* b) { return qvCollation::CompareFiles(a, b, ext); },
      [&ext](const uint8_t* a, const uint8_t* b) { return qvCollation::CompareExtensions(a, b, ext); });
}
