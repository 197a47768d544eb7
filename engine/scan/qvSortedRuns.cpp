#include "qvSortedRuns.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "qvCollation.h"
#include "qvCompact.h"
#include "qvExtCase.h"
#include "qvExtTable.h"
#include "qvHeap.h"
#include "qvIndex.h"
#include "qvMemoryPool.h"
#include "qvRecordList.h"
#include "qvSort.h"

namespace {

// Marks a file whose folder is not in the index until it is left out.
constexpr RecordRef kNoParent = 0xFFFFFFFE;

}  // namespace

// A run's items in whole pages; a full-length run is one huge page.
qvSortedRuns::qvSortedRuns(qvHeap& heap, size_t runLength)
    : heap_(heap),
      runLength_(runLength ? runLength : 1),
      runBytes_((runLength_ * sizeof(Item) + 4095) / 4096 * 4096),
      stash_(heap, 4),
      unsorted_(heap, &stash_),
      sorted_(heap, nullptr, &stash_),
      sortedOnSecondThread_(heap, nullptr, &stash_) {}

qvSortedRuns::~qvSortedRuns() {
  Close();
  for (auto& run : runs_) FreeItems(*run);
}

void qvSortedRuns::StartRun() {
  auto run = std::make_unique<Run>();
  run->items = static_cast<Item*>(heap_.AllocPages(runBytes_));
  if (!run->items) return;
  // A run is likely to hold about as many real-case extensions as the one
  // before: room for them now spares the list its copies as it grows.
  if (!runs_.empty()) {
    const size_t before = runs_.back()->realCase.size();
    if (before > 0) run->realCase.reserve(before + before / 8);
  }
  run->itemBytes = runBytes_;
  unsorted_.OpenRange();
  filling_ = run.get();
  runs_.push_back(std::move(run));
}

uint8_t* qvSortedRuns::Add(size_t size) {
  if (closing_) return nullptr;
  if (!filling_ || filling_->count == runLength_) {
    if (filling_) HandOver(filling_);
    filling_ = nullptr;
    StartRun();
    if (!filling_) return nullptr;
  }
  Run& run = *filling_;
  uint8_t* r = unsorted_.Alloc(size);
  if (!r) return nullptr;
  run.items[run.count++] = {0, r};
  ++count_;
  return r;
}

void qvSortedRuns::SetRealCase(const uint8_t* record, const qvChar* ext, size_t length) {
  if (!filling_) return;
  const std::u16string_view text(ext, length);
  if (lastCaseText_ >= caseTexts_.size() || caseTexts_[lastCaseText_] != text) {
    auto [it, added] = caseTextIds_.try_emplace(qvString(text), static_cast<uint32_t>(caseTexts_.size()));
    if (added) caseTexts_.emplace_back(text);
    lastCaseText_ = it->second;
  }
  filling_->realCase.push_back({record, lastCaseText_});
}

// The first full run starts the helper; without one to be had, each run
// is sorted here as it fills.
void qvSortedRuns::HandOver(Run* run) {
  run->unsorted = unsorted_.CloseRange();
  if (!helper_.joinable()) {
    try {
      helper_ = std::thread([this] { HelperLoop(); });
    } catch (const std::system_error&) {
      SortRun(*run);
      return;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.push_back(run);
  ready_.notify_one();
}

void qvSortedRuns::HelperLoop() {
  for (;;) {
    Run* run;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return !pending_.empty() || closing_; });
      if (pending_.empty()) return;
      run = pending_.front();
      pending_.erase(pending_.begin());
    }
    auto start = std::chrono::steady_clock::now();
    SortRun(*run);
    helperMicros_.fetch_add(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count(),
        std::memory_order_relaxed);
  }
}

// By name only; groups of equal names are noted for Arrange.
void qvSortedRuns::SortRun(Run& run) {
  for (size_t i = 0; i < run.count; ++i) {
    const uint8_t* r = run.items[i].record;
    run.items[i].key = qvCollation::SortKey(FileRecord::Name(r), FileRecord::NameLength(r));
  }
  auto keyAt = [](const Item& item, size_t* from) {
    return qvCollation::SortKeyAt(FileRecord::Name(item.record), FileRecord::NameLength(item.record), from);
  };
  auto nameLess = [](const Item& a, const Item& b) {
    return qvCollation::CompareNames(FileRecord::Name(a.record), FileRecord::NameLength(a.record),
                                     FileRecord::Name(b.record), FileRecord::NameLength(b.record)) < 0;
  };
  Item* base = run.items;
  const size_t hint = sameNamesHint_.load(std::memory_order_relaxed);
  run.sameNames.reserve(hint + hint / 8);
  auto sameNames = [&run, base](Item* first, size_t n) {
    run.sameNames.push_back({static_cast<uint32_t>(first - base), static_cast<uint32_t>(n)});
  };
  qvSortByKeys(run.items, run.count, keyAt, nameLess, sameNames);
  sameNamesHint_.store(run.sameNames.size(), std::memory_order_relaxed);

  // The keys are not wanted any more: the records move down to the front
  // (each slot is read before anything is written over it), and the pages
  // past them go back while the scan still reads.
  auto* bytes = reinterpret_cast<uint8_t*>(run.items);
  for (size_t i = 0; i < run.count; ++i) {
    uint8_t* r = run.items[i].record;
    std::memcpy(bytes + i * sizeof r, &r, sizeof r);
  }
  run.items = nullptr;
  run.order = reinterpret_cast<uint8_t**>(bytes);
  size_t keep = (run.count * sizeof(uint8_t*) + 4095) / 4096 * 4096;
  heap_.TrimPages(bytes, run.itemBytes, keep);
  run.itemBytes = keep;
}

void qvSortedRuns::Close() {
  if (filling_) {
    filling_->unsorted = unsorted_.CloseRange();
    SortRun(*filling_);
    filling_ = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    ready_.notify_all();
  }
  if (helper_.joinable()) helper_.join();
}

void qvSortedRuns::FreeItems(Run& run) {
  heap_.FreePages(run.items ? static_cast<void*>(run.items) : static_cast<void*>(run.order), run.itemBytes);
  run.items = nullptr;
  run.order = nullptr;
  run.itemBytes = 0;
}

// The table's sorted index lists every id once, in the order Compare
// gives; rank 0 stands for an id without a text, which Compare puts before
// every text.
void qvSortedRuns::RankExtensions(const ExtTable& ext) {
  const uint32_t count = ext.Count();
  extRank_.assign(count, 0);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t id = ext.Sorted(k).id;
    bool agrees = id < count && extRank_[id] == 0 && ext.Text(id) == ext.Sorted(k).text && ext.Text(id) &&
                  (k == 0 || ext.Compare(ext.Sorted(k - 1).id, id) < 0);
    if (!agrees) {
      extRank_.clear();
      return;
    }
    extRank_[id] = k + 1;
  }
}

// Files with an extension come before those without.
uint32_t qvSortedRuns::ExtensionOrder(const uint8_t* record) const {
  if (!FileRecord::HasExtension(record)) return UINT32_MAX;
  const uint32_t id = FileRecord::ExtId(record);
  return id < extRank_.size() ? extRank_[id] : 0;
}

int qvSortedRuns::CompareExtensions(const uint8_t* a, const uint8_t* b, const ExtTable& ext) const {
  if (extRank_.empty()) return qvCollation::CompareExtensions(a, b, ext);
  const uint32_t x = ExtensionOrder(a), y = ExtensionOrder(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

int qvSortedRuns::CompareFiles(const uint8_t* a, const uint8_t* b, const ExtTable& ext) const {
  int d = qvCollation::CompareNames(FileRecord::Name(a), FileRecord::NameLength(a), FileRecord::Name(b),
                                    FileRecord::NameLength(b));
  return d ? d : CompareExtensions(a, b, ext);
}

int64_t qvSortedRuns::Arrange(ParentFinder& parents, ParentFinder& parentsOnSecondThread, const ExtTable& ext) {
  nextToArrange_ = 0;
  arrangeFailed_ = false;
  RankExtensions(ext);
  // The middle name of the longest run splits the merge in about two.
  splitRecord_.clear();
  const Run* longest = nullptr;
  for (auto& run : runs_)
    if (!longest || run->count > longest->count) longest = run.get();
  if (runs_.size() > 1 && longest->count > 0) {
    const uint8_t* middle = longest->order[longest->count / 2];
    splitRecord_.assign(middle, middle + FileRecord::Size(middle));
  }
  int64_t dropped = 0, droppedOnSecond = 0;
  std::thread second;
  if (runs_.size() > 1) {
    try {
      second = std::thread(
          [&] { ArrangeRuns(parentsOnSecondThread, ext, sortedOnSecondThread_, &droppedOnSecond); });
    } catch (const std::system_error&) {
      // This thread takes every run.
    }
  }
  ArrangeRuns(parents, ext, sorted_, &dropped);
  if (second.joinable()) second.join();
  stash_.Clear();
  return arrangeFailed_ ? -1 : dropped + droppedOnSecond;
}

bool qvSortedRuns::ArrangeRuns(ParentFinder& parents, const ExtTable& ext, qvRecordChunks& sorted,
                               int64_t* dropped) {
  for (;;) {
    size_t next = nextToArrange_.fetch_add(1);
    if (next >= runs_.size() || arrangeFailed_) return !arrangeFailed_;
    if (!ArrangeRun(*runs_[next], parents, ext, sorted, dropped)) {
      arrangeFailed_ = true;
      return false;
    }
  }
}

bool qvSortedRuns::ArrangeRun(Run& run, ParentFinder& parents, const ExtTable& ext, qvRecordChunks& sorted,
                              int64_t* dropped) {
  // Linked in the order the files came: a folder's files come together.
  DirKey lastKey = 0;
  RecordRef lastRef = kNullRef;
  bool haveLast = false;
  size_t keptBytes = 0;
  if (!run.unsorted.empty) {
    for (uint32_t c = run.unsorted.firstChunk; c <= run.unsorted.lastChunk; ++c) {
      uint8_t* end = unsorted_.End(run.unsorted, c);
      for (uint8_t* r = unsorted_.Begin(run.unsorted, c); r < end; r += FileRecord::Size(r)) {
        DirKey key = FileRecord::Parent(r);
        if (!haveLast || key != lastKey) {
          lastKey = key;
          lastRef = parents.Find(key);
          haveLast = true;
        }
        if (lastRef == kNullRef) ++*dropped;
        else keptBytes += FileRecord::Size(r);
        FileRecord::SetParent(r, lastRef == kNullRef ? kNoParent : lastRef);
      }
    }
  }

  // The records lie anywhere in the run: those of a group some groups
  // ahead are asked for while this one is sorted.
  constexpr size_t kAhead = 8;
  auto byExtension = [this, &ext](const uint8_t* a, const uint8_t* b) { return CompareExtensions(a, b, ext) < 0; };
  const size_t groups = run.sameNames.size();
  for (size_t g = 0; g < groups; ++g) {
    if (g + kAhead < groups) {
      auto [ahead, m] = run.sameNames[g + kAhead];
      for (uint32_t k = 0; k < m && k < kAhead; ++k) __builtin_prefetch(run.order[ahead + k]);
    }
    auto [first, n] = run.sameNames[g];
    qvQuickSort(run.order + first, n, byExtension);
  }
  run.sameNames.clear();
  run.sameNames.shrink_to_fit();

  // Only files of an extension some real-case entry has can hold one; the
  // entries, by address, are looked up by halving.
  std::vector<bool> caseExt;
  for (const RealCase& c : run.realCase) {
    uint32_t id = FileRecord::HasExtension(c.record) ? FileRecord::ExtId(c.record) : 0;
    if (id >= caseExt.size()) caseExt.resize(id + 1);
    caseExt[id] = true;
  }
  auto byRecord = [](const RealCase& a, const RealCase& b) { return std::less<const uint8_t*>()(a.record, b.record); };
  std::sort(run.realCase.begin(), run.realCase.end(), byRecord);
  // Where the second half begins, and what the first half holds.
  size_t split = run.count;
  if (!splitRecord_.empty()) {
    const uint8_t* at = splitRecord_.data();
    split = static_cast<size_t>(std::lower_bound(run.order, run.order + run.count, at,
                                                 [this, &ext](const uint8_t* r, const uint8_t* s) {
                                                   return CompareFiles(r, s, ext) < 0;
                                                 }) -
                                run.order);
  }
  size_t lowBytes = 0;
  for (size_t i = 0; i < split; ++i) {
    if (i + kAhead < split) __builtin_prefetch(run.order[i + kAhead]);
    if (FileRecord::Parent(run.order[i]) != kNoParent) lowBytes += FileRecord::Size(run.order[i]);
  }
  if (!run.realCase.empty() && run.count > 0) {
    const size_t low = run.realCase.size() * split / run.count;
    run.halves[0].realCase.reserve(low + low / 16 + 16);
    run.halves[1].realCase.reserve(run.realCase.size() - low + (run.realCase.size() - low) / 16 + 16);
  }

  int half = 0;
  sorted.OpenRange(lowBytes);
  for (size_t i = 0; i < run.count; ++i) {
    if (i == split) {
      run.halves[0].sorted = sorted.CloseRange();
      half = 1;
      sorted.OpenRange(keptBytes - lowBytes);
    }
    if (i + kAhead < run.count) __builtin_prefetch(run.order[i + kAhead]);
    const uint8_t* r = run.order[i];
    if (FileRecord::Parent(r) == kNoParent) continue;
    size_t size = FileRecord::Size(r);
    uint8_t* copy = sorted.Alloc(size);
    if (!copy) return false;
    std::memcpy(copy, r, size);
    ++run.halves[half].count;
    if (!caseExt.empty()) {
      uint32_t id = FileRecord::HasExtension(r) ? FileRecord::ExtId(r) : 0;
      if (id < caseExt.size() && caseExt[id]) {
        auto it = std::lower_bound(run.realCase.begin(), run.realCase.end(), RealCase{r, 0}, byRecord);
        if (it != run.realCase.end() && it->record == r) run.halves[half].realCase.push_back({copy, it->text});
      }
    }
  }
  run.halves[half].sorted = sorted.CloseRange();
  run.sortedIn = &sorted;
  run.realCase.clear();
  run.realCase.shrink_to_fit();
  FreeItems(run);
  std::lock_guard<std::mutex> lock(unsortedMutex_);
  unsorted_.ReleaseRange(run.unsorted);
  run.unsorted = {};
  return true;
}

bool qvSortedRuns::MergeInto(CMemoryPool& pool, RecordList& list, ExtCaseMap& extCase, const ExtTable& ext,
                             const qvRefMoves* moves) {
  bool okAbove = true;
  std::thread second;
  CMemoryPool poolAbove(heap_, 0);
  RecordList listAbove(heap_);
  std::mutex caseMutex;
  // The real-case table is made at its full size up front rather than
  // grown by doubling.
  size_t caseEntries = 0;
  for (auto& run : runs_) caseEntries += run->halves[0].realCase.size() + run->halves[1].realCase.size();
  if (caseEntries > 0) extCase.Reserve(extCase.Size() + caseEntries);
  extCaseIds_.assign(caseTexts_.size(), UINT32_MAX);
  if (!splitRecord_.empty()) {
    try {
      second = std::thread([&] { okAbove = MergeHalf(1, poolAbove, listAbove, extCase, caseMutex, ext, moves); });
    } catch (const std::system_error&) {
      okAbove = MergeHalf(1, poolAbove, listAbove, extCase, caseMutex, ext, moves);
    }
  }
  bool ok = MergeHalf(0, pool, list, extCase, caseMutex, ext, moves);
  if (second.joinable()) second.join();
  if (ok && okAbove && !splitRecord_.empty()) ok = pool.Adopt(poolAbove) && list.TakePages(listAbove);
  if (!(ok && okAbove)) {
    // The second half's records go with its pool: none may stay named.
    listAbove.ForEach([&](const uint8_t* r) { extCase.Erase(r); });
  }
  return ok && okAbove;
}

bool qvSortedRuns::MergeHalf(int half, CMemoryPool& pool, RecordList& list, ExtCaseMap& extCase,
                             std::mutex& caseMutex, const ExtTable& ext, const qvRefMoves* moves) {
  // A heap of the runs by their next record: the least at the top. Each
  // run's next record carries its name's first two keys, read once as it
  // comes up: first keys tie often across runs (names sharing their first
  // eight letters), and the second key then decides without a comparison
  // of the names.
  struct Cursor {
    const uint8_t* at;
    const uint8_t* end;  // of the records of the current chunk
    uint32_t chunk;
    uint64_t key;
    uint64_t second;
    bool wholeName;  // the two keys read the name to its end
    size_t nextCase;  // the part's next real-case entry
    Run::Half* part;  // the half of a run it reads
    qvRecordChunks* store;
    const uint8_t* giveBackAt;
  };
  auto readKeys = [](Cursor& c) {
    const uint8_t* name = FileRecord::Name(c.at);
    size_t length = FileRecord::NameLength(c.at), from = 0;
    c.key = qvCollation::SortKeyAt(name, length, &from);
    // Names whose first keys end them, or stop at a unit that decides
    // nothing, go to the full comparison.
    c.second = (from == qvCollation::kNameEnded || from == qvCollation::kNoNextKey)
                   ? 0
                   : qvCollation::SortKeyAt(name, length, &from);
    c.wholeName = from == qvCollation::kNameEnded;
  };
  // Read pages go back as a run moves on, in steps as long as 8 MB over
  // all runs of both halves allows, from 64 KB to 256 KB: each give-back
  // stops the other core to flush its address cache, and a longer step
  // holds more pages that were read.
  const size_t giveBackStep =
      std::clamp<size_t>((size_t{8} << 20) / (2 * std::max<size_t>(runs_.size(), 1)) / 4096 * 4096, 64u << 10,
                         256u << 10);
  std::vector<Cursor> heap;
  for (auto& run : runs_) {
    const Run::Half& h = run->halves[half];
    if (h.sorted.empty) continue;
    const uint32_t c = h.sorted.firstChunk;
    qvRecordChunks& store = *run->sortedIn;
    Cursor cursor{store.Begin(h.sorted, c), store.End(h.sorted, c), c, 0, 0, false, 0, &run->halves[half], &store,
                  nullptr};
    cursor.giveBackAt = cursor.at + giveBackStep;
    if (cursor.at == cursor.end) continue;
    readKeys(cursor);
    heap.push_back(cursor);
  }
  // Equal keys that read two names of one length to their ends read the
  // same units: only the extensions can tell the names apart.
  auto less = [this, &ext](const Cursor& a, const Cursor& b) {
    if (a.key != b.key) return a.key < b.key;
    if (a.second != b.second) return a.second < b.second;
    if (a.wholeName && b.wholeName && FileRecord::NameLength(a.at) == FileRecord::NameLength(b.at))
      return CompareExtensions(a.at, b.at, ext) < 0;
    return CompareFiles(a.at, b.at, ext) < 0;
  };
  auto siftDown = [&](size_t i) {
    const size_t n = heap.size();
    for (;;) {
      size_t least = i, l = 2 * i + 1, r = l + 1;
      if (l < n && less(heap[l], heap[least])) least = l;
      if (r < n && less(heap[r], heap[least])) least = r;
      if (least == i) return;
      std::swap(heap[i], heap[least]);
      i = least;
    }
  };
  for (size_t i = heap.size() / 2; i-- > 0;) siftDown(i);

  // Moves a cursor past its record; false when its run is done.
  auto advance = [&](Cursor& c) {
    c.at += FileRecord::Size(c.at);
    if (c.at >= c.giveBackAt && c.at < c.end) {
      c.store->GiveBackBefore(c.chunk, c.at);
      c.giveBackAt = c.at + giveBackStep;
    }
    while (c.at == c.end) {
      c.store->Release(c.chunk);
      if (c.chunk == c.part->sorted.lastChunk) return false;
      ++c.chunk;
      c.at = c.store->Begin(c.part->sorted, c.chunk);
      c.end = c.store->End(c.part->sorted, c.chunk);
      c.giveBackAt = c.at + giveBackStep;
    }
    readKeys(c);
    // The parent's slot in the moves is wanted once the other runs have
    // had their turn.
    if (moves && !(FileRecord::Parent(c.at) & qvIndex::kSecondPoolTag)) moves->Prefetch(FileRecord::Parent(c.at));
    return true;
  };

  auto movedParent = [moves](const uint8_t* r) {
    RecordRef parent = FileRecord::Parent(r);
    if (!moves || (parent & qvIndex::kSecondPoolTag)) return parent;
    return moves->Find(parent);
  };
  // The list's pages are made a 2 MB block at a time as the list reaches
  // them (RecordList::ReservePages): one fault a block, not one a page.
  constexpr size_t kListStep = qvHeap::kHugePage / sizeof(RecordPage) * RecordPage::kSlots;
  size_t left = 0;
  for (auto& run : runs_) left += run->halves[half].count;
  size_t untilReserve = 0;
  while (!heap.empty()) {
    Cursor& top = heap[0];
    const uint8_t* r = top.at;
    auto& realCase = top.part->realCase;
    const bool hasCase = top.nextCase < realCase.size() && realCase[top.nextCase].record == r;
    RecordRef parent = movedParent(r);
    if (parent != kNullRef) {
      size_t size = FileRecord::Size(r);
      uint8_t* copy = pool.Alloc(size);
      if (untilReserve-- == 0) {
        list.ReservePages(std::min(kListStep, left));
        untilReserve = kListStep - 1;
      }
      --left;
      if (!copy || !list.Append(copy)) return false;
      std::memcpy(copy, r, size);
      FileRecord::SetParent(copy, parent);
      if (hasCase) {
        const uint32_t text = realCase[top.nextCase].text;
        std::lock_guard<std::mutex> lock(caseMutex);
        // The map numbers its texts as it first meets them, as Set does.
        uint32_t& id = extCaseIds_[text];
        if (id == UINT32_MAX) id = extCase.VariantId(caseTexts_[text].data(), caseTexts_[text].size());
        extCase.SetVariant(copy, id);
      }
    }
    if (hasCase && ++top.nextCase == realCase.size()) RealCaseList().swap(realCase);
    if (!advance(top)) {
      top.part->realCase.clear();
      heap[0] = heap.back();
      heap.pop_back();
    }
    if (!heap.empty()) siftDown(0);
  }
  return true;
}
