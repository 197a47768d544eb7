// The file list sorted while the scan still reads. The scan hands over
// each new file record; every kRunLength of them make a run, which a
// helper thread sorts by name, key after key (qvSort.h), while the walk
// goes on. At the end the runs are merged into the list's slots. Equal
// names are put in order only then: their order reads the extension
// table, which the scan still grows while the helper sorts.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class ExtTable;
class RecordList;
class qvHeap;

class qvSortedRuns {
 public:
  // 16-byte items: a run fills one 2 MB huge page.
  static constexpr size_t kRunLength = 1 << 17;

  explicit qvSortedRuns(qvHeap& heap, size_t runLength = kRunLength);
  ~qvSortedRuns();
  qvSortedRuns(const qvSortedRuns&) = delete;
  qvSortedRuns& operator=(const qvSortedRuns&) = delete;

  // Takes a new file record (the scan's thread). Once a run cannot be
  // had (out of memory) the runs are given up: Usable() turns false and
  // the caller sorts the whole list instead.
  void Add(uint8_t* record);
  bool Usable() const { return usable_; }
  size_t Count() const { return count_; }

  // The reading is over: sorts the last run here and waits for the helper.
  void Close();
  // Puts equal names in extension order and merges the runs into the
  // list's slots, leaving out the records for which dropped(record) is
  // true (when anyDropped); the list must hold exactly the others. Gives
  // the runs' memory back.
  void MergeInto(RecordList& list, const ExtTable& ext, bool anyDropped, bool (*dropped)(const uint8_t*));

  // Microseconds the helper spent sorting runs, while the scan read.
  int64_t HelperMicros() const { return helperMicros_.load(std::memory_order_relaxed); }

 private:
  struct Item {
    uint64_t key;
    uint8_t* record;
  };
  struct Run {
    Item* items = nullptr;
    size_t count = 0;
    std::vector<std::pair<uint32_t, uint32_t>> sameNames;  // (first, count) of groups left for the end
  };

  void HandOver(Run* run);
  void HelperLoop();
  static void SortRun(Run& run);
  void FreeRuns();

  qvHeap& heap_;
  const size_t runLength_;
  const size_t runBytes_;
  bool usable_ = true;
  size_t count_ = 0;
  std::vector<std::unique_ptr<Run>> runs_;  // the last one is being filled
  std::thread helper_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Run*> pending_;  // handed over, not yet taken by the helper
  bool closing_ = false;
  std::atomic<int64_t> helperMicros_{0};
};
