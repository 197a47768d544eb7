#include "qvSortedRuns.h"

#include <chrono>
#include <system_error>

#include "qvCollation.h"
#include "qvExtTable.h"
#include "qvHeap.h"
#include "qvRecordList.h"
#include "qvRecords.h"
#include "qvSort.h"

// A run's items in whole pages; a full-length run is one huge page.
qvSortedRuns::qvSortedRuns(qvHeap& heap, size_t runLength)
    : heap_(heap),
      runLength_(runLength ? runLength : 1),
      runBytes_((runLength_ * sizeof(Item) + 4095) / 4096 * 4096) {}

qvSortedRuns::~qvSortedRuns() {
  Close();
  FreeRuns();
}

void qvSortedRuns::Add(uint8_t* record) {
  if (!usable_) return;
  if (runs_.empty() || runs_.back()->count == runLength_) {
    if (!runs_.empty()) HandOver(runs_.back().get());
    auto run = std::make_unique<Run>();
    run->items = static_cast<Item*>(heap_.AllocPages(runBytes_));
    if (!run->items) {
      Close();
      FreeRuns();
      usable_ = false;
      return;
    }
    runs_.push_back(std::move(run));
  }
  Run& run = *runs_.back();
  run.items[run.count++] = {0, record};
  ++count_;
}

// The first full run starts the helper; without one to be had, each run
// is sorted here as it fills.
void qvSortedRuns::HandOver(Run* run) {
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

// By name only; groups of equal names are noted for MergeInto.
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
  auto sameNames = [&run, base](Item* first, size_t n) {
    run.sameNames.push_back({static_cast<uint32_t>(first - base), static_cast<uint32_t>(n)});
  };
  qvSortByKeys(run.items, run.count, keyAt, nameLess, sameNames);
}

void qvSortedRuns::Close() {
  if (usable_ && !runs_.empty() && !closing_) SortRun(*runs_.back());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    ready_.notify_all();
  }
  if (helper_.joinable()) helper_.join();
}

void qvSortedRuns::MergeInto(RecordList& list, const ExtTable& ext, bool anyDropped,
                             bool (*dropped)(const uint8_t*)) {
  auto byExtension = [&ext](const Item& a, const Item& b) {
    return qvCollation::CompareExtensions(a.record, b.record, ext) < 0;
  };
  for (auto& run : runs_)
    for (auto [first, n] : run->sameNames) qvQuickSort(run->items + first, n, byExtension);

  // A heap of the runs by their next item: the least at the top. Each
  // run's next item carries its name's second key too, read once as the
  // item comes up: first keys tie often across runs (names sharing their
  // first eight letters), and the second key then decides without a
  // comparison of the names.
  struct Cursor {
    const Item* at;
    const Item* end;
    uint64_t second;
  };
  auto secondKey = [](const Item& item) -> uint64_t {
    const uint8_t* name = FileRecord::Name(item.record);
    size_t length = FileRecord::NameLength(item.record), from = 0;
    qvCollation::SortKeyAt(name, length, &from);
    // Names whose first keys end them, or stop at a unit that decides
    // nothing, go to the full comparison.
    if (from == qvCollation::kNameEnded || from == qvCollation::kNoNextKey) return 0;
    return qvCollation::SortKeyAt(name, length, &from);
  };
  std::vector<Cursor> heap;
  for (auto& run : runs_)
    if (run->count > 0) heap.push_back({run->items, run->items + run->count, secondKey(run->items[0])});
  auto less = [&ext](const Cursor& a, const Cursor& b) {
    if (a.at->key != b.at->key) return a.at->key < b.at->key;
    if (a.second != b.second) return a.second < b.second;
    return qvCollation::CompareFiles(a.at->record, b.at->record, ext) < 0;
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

  size_t page = 0;
  uint32_t at = 0, end = 0;
  uint8_t** slots = nullptr;
  while (!heap.empty()) {
    uint8_t* record = heap[0].at->record;
    if (++heap[0].at == heap[0].end) {
      heap[0] = heap.back();
      heap.pop_back();
    } else {
      // The run's record after this one comes up only after about one
      // item of every other run: fetched now, it is in the cache by then.
      if (heap[0].at + 1 < heap[0].end) __builtin_prefetch(heap[0].at[1].record);
      heap[0].second = secondKey(*heap[0].at);
    }
    if (!heap.empty()) siftDown(0);
    if (anyDropped && dropped(record)) continue;
    while (at == end) {
      RecordPage* p = list.Page(page++);
      slots = p->slots;
      at = p->first;
      end = p->end;
    }
    slots[at++] = record;
  }
  FreeRuns();
}

void qvSortedRuns::FreeRuns() {
  for (auto& run : runs_) heap_.FreePages(run->items, runBytes_);
  runs_.clear();
  count_ = 0;
}
