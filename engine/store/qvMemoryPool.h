// Storage of records: 4096-byte zero-filled blocks, cut from chunks of
// pages that grow from 64 KB to 2 MB (huge pages where the kernel gives
// them). A record never spans two blocks, and single records are never
// freed; every block goes when the pool does.
//
// Every chunk begins with kReadBehind bytes that no block uses, so that
// the bytes just before any record are readable: a scan's name test may
// read a whole vector ending at a name's end, whatever the name's length.
// That costs one block per chunk (0.2 % of a 2 MB chunk).
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"
#include "qvRecords.h"

class CMemoryPool {
 public:
  static constexpr size_t kBlockSize = 4096;
  static constexpr uint32_t kMaxBlocks = 1u << 19;  // what a RecordRef can name
  static constexpr size_t kReadBehind = 64;

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
  // Gives back the pages of the last chunk that no block uses yet, once
  // the pool is filled (a rebuilt or loaded index): a large index would
  // otherwise carry up to 2 MB it never touches.
  void Trim();
  // Exchanges the blocks of two pools of the same heap and tag, so that a
  // pool rebuilt aside takes the place of this one.
  void Swap(CMemoryPool& other);
  // Takes every block of `other` (a pool of the same heap, filled aside,
  // on another thread) after this pool's own: the records keep their
  // addresses, and allocation goes on in other's last block. Leaves
  // `other` empty. Returns false, changing nothing, when out of memory.
  bool Adopt(CMemoryPool& other);

  size_t BlockCount() const { return count_; }
  size_t UsedInCurrentBlock() const { return used_; }
  uint8_t* Block(size_t i) const { return i < count_ ? blocks_[i] : nullptr; }
  size_t BytesAllocated() const {
    return chunkBytes_ + capacity_ * sizeof(uint8_t*) + chunkCapacity_ * sizeof(Chunk);
  }

 private:
  struct Chunk {
    uint8_t* pages;
    size_t bytes;
  };
  static constexpr size_t kFirstChunk = 64u << 10;

  bool AddBlock();
  bool AddChunk();
  void FreeChunks();

  qvHeap& heap_;
  uint32_t refTag_;
  uint8_t** blocks_ = nullptr;
  size_t capacity_ = 0;
  size_t count_ = 0;
  size_t used_ = 0;
  Chunk* chunks_ = nullptr;
  size_t chunkCapacity_ = 0;
  size_t chunkCount_ = 0;
  size_t chunkUsed_ = 0;   // bytes of the last chunk handed out as blocks
  size_t chunkBytes_ = 0;  // all chunks
};
