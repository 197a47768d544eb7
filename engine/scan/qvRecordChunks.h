// Records laid end to end in 2 MB chunks, in the order they are made, in
// ranges: a range is the records made between OpenRange and CloseRange.
// A record never spans two chunks. Each chunk is held once by every range
// with a record in it and goes back to the system when the last of them
// lets go, so that records read once, range by range, in the order they
// were made, are given back as they are read instead of all at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class qvHeap;

class qvRecordChunks {
 public:
  static constexpr size_t kChunkBytes = 2u << 20;  // one huge page

  struct Range {
    uint32_t firstChunk = 0;
    uint32_t firstOffset = 0;
    uint32_t lastChunk = 0;
    uint32_t endOffset = 0;
    bool empty = true;
  };

  explicit qvRecordChunks(qvHeap& heap);
  ~qvRecordChunks();
  qvRecordChunks(const qvRecordChunks&) = delete;
  qvRecordChunks& operator=(const qvRecordChunks&) = delete;

  void OpenRange();
  // Room for `n` bytes (n <= kChunkBytes) in the open range, or null when
  // out of memory.
  uint8_t* Alloc(size_t n);
  Range CloseRange();

  // Where the records of chunk `chunk` that belong to `range` begin and
  // end; null for a chunk already given back.
  uint8_t* Begin(const Range& range, uint32_t chunk) const;
  uint8_t* End(const Range& range, uint32_t chunk) const;

  // The range is done with chunk `chunk`: freed when no range holds it.
  void Release(uint32_t chunk);
  // Every chunk of the range, at once.
  void ReleaseRange(const Range& range);

  size_t ChunkCount() const { return chunks_.size(); }
  size_t ChunksHeld() const { return held_; }

 private:
  struct Chunk {
    uint8_t* data;
    uint32_t used;
    uint32_t holders;
  };

  qvHeap& heap_;
  std::vector<Chunk> chunks_;
  Range open_;
  bool opened_ = false;
  size_t held_ = 0;  // chunks not yet given back
};
