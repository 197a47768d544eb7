// The files of a full scan, sorted while the scan still reads. The scan
// makes each file record here rather than in the index's pool; every
// kRunLength of them make a run, which a helper thread sorts by name, key
// after key (qvSort.h), while the walk goes on.
//
// Once the reading is over, Arrange takes the runs one at a time on each
// of two threads: it links each file to its folder in the order the files
// came (the order in which the last parents looked up answer most files),
// puts equal names in extension order (which reads the extension table,
// grown until the end of the reading), and copies the run's records out
// in sorted order, in two halves split at one name chosen for all runs,
// giving back the run's items and unsorted records as it goes. MergeInto
// then merges the first halves of all runs into the index's pool and file
// list while a second thread merges the second halves aside, and joins
// the two; each run's chunks go back as the merge passes them. So every
// record is held about once at any moment: the index never holds the
// unsorted and the laid-out records side by side.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qvRecordChunks.h"
#include "qvRecords.h"
#include "qvTypes.h"

class CMemoryPool;
class ExtCaseMap;
class ExtTable;
class RecordList;
class qvHeap;
class qvRefMoves;

class qvSortedRuns {
 public:
  // 16-byte items: a run's items fill one 2 MB huge page.
  static constexpr size_t kRunLength = 1 << 17;

  explicit qvSortedRuns(qvHeap& heap, size_t runLength = kRunLength);
  ~qvSortedRuns();
  qvSortedRuns(const qvSortedRuns&) = delete;
  qvSortedRuns& operator=(const qvSortedRuns&) = delete;

  // Room for a new file record of `size` bytes, which the caller writes
  // at once (the scan's thread). Null when out of memory.
  uint8_t* Add(size_t size);
  // The real case of the extension of the record Add just gave.
  void SetRealCase(const uint8_t* record, const qvChar* ext, size_t length);
  size_t Count() const { return count_; }

  // The reading is over: sorts the last run here and waits for the helper.
  void Close();

  // Gives the folder a parent key names, or kNullRef when there is none
  // (the file is then left out).
  class ParentFinder {
   public:
    virtual RecordRef Find(DirKey key) = 0;

   protected:
    ~ParentFinder() = default;
  };
  // Links, orders and copies out every run (see above), on this thread
  // and a second one, each asking its own finder (a finder need not be
  // safe to share). Returns the number of files left out for want of a
  // parent, or -1 when out of memory.
  int64_t Arrange(ParentFinder& parents, ParentFinder& parentsOnSecondThread, const ExtTable& ext);
  // Appends every arranged record, in the file order, to `list`, copied
  // into `pool`, with its real extension case in `extCase`, and its parent
  // moved as `moves` says when the folders were laid out since Arrange
  // (a file whose first-pool parent did not move is left out). Returns
  // false when out of memory; the records copied so far stay listed.
  bool MergeInto(CMemoryPool& pool, RecordList& list, ExtCaseMap& extCase, const ExtTable& ext,
                 const qvRefMoves* moves);

  // Microseconds the helper spent sorting runs, while the scan read.
  int64_t HelperMicros() const { return helperMicros_.load(std::memory_order_relaxed); }

 private:
  struct Item {
    uint64_t key;
    uint8_t* record;
  };
  // Records whose extension is not lower-case, each with the place of its
  // real text in caseTexts_ (16 bytes an entry: a tree may hold hundreds
  // of thousands of them).
  struct RealCase {
    const uint8_t* record;
    uint32_t text;
  };
  using RealCaseList = std::vector<RealCase>;
  struct Run {
    Item* items = nullptr;  // while the run fills and is sorted
    // Once sorted, the records alone, in order, in the first half of the
    // items' pages; the rest of the pages go back.
    uint8_t** order = nullptr;
    size_t itemBytes = 0;
    size_t count = 0;
    std::vector<std::pair<uint32_t, uint32_t>> sameNames;  // (first, count) of groups left for Arrange
    qvRecordChunks::Range unsorted;                        // the records as they came
    RealCaseList realCase;
    // Once arranged: the records before the split record, and the rest,
    // each in the run's sorted order with its real-case entries.
    struct Half {
      qvRecordChunks::Range sorted;
      size_t count = 0;  // records copied
      RealCaseList realCase;
    } halves[2];
    qvRecordChunks* sortedIn = nullptr;  // in which of the two stores
  };

  void StartRun();
  void HandOver(Run* run);
  void HelperLoop();
  void SortRun(Run& run);
  // Arranges the runs not yet taken, one at a time; false when out of
  // memory.
  bool ArrangeRuns(ParentFinder& parents, const ExtTable& ext, qvRecordChunks& sorted, int64_t* dropped);
  bool ArrangeRun(Run& run, ParentFinder& parents, const ExtTable& ext, qvRecordChunks& sorted, int64_t* dropped);
  void FreeItems(Run& run);
  // Equal base names are ordered by their extensions' texts: once the
  // reading is over, each extension id's place among the sorted texts
  // answers that with one load (RankExtensions). Empty when the table's
  // sorted index does not agree with its comparison: the texts decide.
  void RankExtensions(const ExtTable& ext);
  uint32_t ExtensionOrder(const uint8_t* record) const;
  int CompareExtensions(const uint8_t* a, const uint8_t* b, const ExtTable& ext) const;
  int CompareFiles(const uint8_t* a, const uint8_t* b, const ExtTable& ext) const;
  // Merges half `half` of every run into `pool` and `list`, with the
  // copies' real-case entries into `extCase` (shared by both halves).
  bool MergeHalf(int half, CMemoryPool& pool, RecordList& list, ExtCaseMap& extCase, std::mutex& caseMutex,
                 const ExtTable& ext, const qvRefMoves* moves);

  qvHeap& heap_;
  const size_t runLength_;
  const size_t runBytes_;
  size_t count_ = 0;
  // While the runs are copied out, each run's records as they came, let
  // go of, take the place of the chunks the next runs are copied into.
  qvChunkStash stash_;
  qvRecordChunks unsorted_;
  std::mutex unsortedMutex_;  // its chunks are let go by both arranging threads
  // Each arranging thread copies runs out into a store of its own.
  qvRecordChunks sorted_;
  qvRecordChunks sortedOnSecondThread_;
  std::atomic<size_t> nextToArrange_{0};
  // The merge runs on two threads, one below this record and one from it
  // on; empty when the runs are not split.
  std::vector<uint8_t> splitRecord_;
  std::vector<uint32_t> extRank_;  // by extension id: 1 + its place among the sorted texts
  // Every real-case text once, made by the scan's thread; the last one
  // given is tried first (a folder's files share their few texts).
  std::vector<qvString> caseTexts_;
  std::unordered_map<qvString, uint32_t> caseTextIds_;
  uint32_t lastCaseText_ = 0;
  std::vector<uint32_t> extCaseIds_;  // the merge's: caseTexts_ → the map's text ids
  std::atomic<bool> arrangeFailed_{false};
  std::vector<std::unique_ptr<Run>> runs_;
  Run* filling_ = nullptr;  // the run the scan adds to
  std::thread helper_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Run*> pending_;  // handed over, not yet taken by the helper
  bool closing_ = false;
  std::atomic<int64_t> helperMicros_{0};
  std::atomic<size_t> sameNamesHint_{0};  // groups the last sorted run noted
};
