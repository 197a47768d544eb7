// Puts the records of the first pool in list order. A scan allocates its
// records in the order the volume lists them, and the sort leaves them
// scattered over the pool's blocks; a search walks the lists in order and
// pays a cache miss per record. Rewriting the pool with the folders and
// then the files in the order of their lists makes that walk sequential.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "qvRecords.h"

class qvIndex;

// Old first-pool refs of folders → their refs in the rebuilt pool. Open
// addressing over a power-of-two table: a lookup per file must be cheap.
class qvRefMoves {
 public:
  explicit qvRefMoves(size_t expected = 0);
  // The new ref, or kNullRef for a ref that did not move.
  RecordRef Find(RecordRef old) const;
  // Asks for the slot where a lookup of `old` starts.
  void Prefetch(RecordRef old) const { __builtin_prefetch(&slots_[Hash(old)]); }
  void Insert(RecordRef old, RecordRef fresh);
  void Swap(qvRefMoves& other);

 private:
  size_t Hash(RecordRef r) const { return (static_cast<uint64_t>(r) * 0x9E3779B97F4A7C15ull >> 20) & mask_; }
  void Place(RecordRef old, RecordRef fresh);
  void Grow();

  std::vector<std::pair<RecordRef, RecordRef>> slots_;
  size_t mask_ = 0;
  size_t count_ = 0;
};

// Rebuilds the first pool in list order and points every list slot, map
// entry, parent field and real-case entry at the moved records. The result
// vectors are emptied (their records moved); the caller searches again.
// Leaves everything as it was when memory runs out, or while a folder
// rename is half applied. The caller holds the engine lock and no list is
// being walked. Returns true when the pool was rebuilt; `moves`, when
// given, then tells where each first-pool folder went (for records kept
// outside the pool that name them).
bool qvCompactRecords(qvIndex& app, qvRefMoves* moves = nullptr);
