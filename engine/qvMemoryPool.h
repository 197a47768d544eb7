// Storage of records: 4096-byte zero-filled blocks, one heap allocation per
// block. A record never spans two blocks, and single records are never
// freed; every block goes when the pool does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"
#include "qvRecords.h"

class CMemoryPool {
 public:
  static constexpr size_t kBlockSize = 4096;
  static constexpr uint32_t kMaxBlocks = 1u << 19;  // what a RecordRef can name

  // `refTag` is ORed into every RecordRef this pool hands out, so that the
  // refs of two pools never collide.
  CMemoryPool(qvHeap& heap, uint32_t refTag);
  virtual ~CMemoryPool();
  CMemoryPool(const CMemoryPool&) = delete;
  CMemoryPool& operator=(const CMemoryPool&) = delete;

  // Returns `n` zeroed bytes (n <= 4096), or null when out of memory. When
  // `ref` is given it receives the record's RecordRef.
  uint8_t* Alloc(size_t n, RecordRef* ref = nullptr);

  // The record a ref names, or null when the ref is not one of this pool's
  // or points past what was allocated.
  uint8_t* Resolve(RecordRef ref) const;
  bool Owns(RecordRef ref) const { return (ref & 0x80000000u) == refTag_ && ref != kNullRef; }

  // Frees every block and starts again with one empty block.
  void Reset();

  size_t BlockCount() const { return count_; }
  size_t UsedInCurrentBlock() const { return used_; }
  uint8_t* Block(size_t i) const { return i < count_ ? blocks_[i] : nullptr; }
  size_t BytesAllocated() const { return count_ * kBlockSize + capacity_ * sizeof(uint8_t*); }

 private:
  bool AddBlock();

  qvHeap& heap_;
  uint32_t refTag_;
  uint8_t** blocks_ = nullptr;
  size_t capacity_ = 0;
  size_t count_ = 0;
  size_t used_ = 0;
};
