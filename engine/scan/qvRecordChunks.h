// Records laid end to end in chunks of up to 2 MB, in the order they are
// made, in ranges: a range is the records made between OpenRange and
// CloseRange. A record never spans two chunks. Each chunk is held once by
// every range with a record in it and goes back to the system when the
// last of them lets go, so that records read once, range by range, are
// given back as they are read instead of all at the end.
//
// Ranges that follow each other share the chunk where one ends and the
// next begins, which suits ranges read in the order they were made. A
// range read beside others (a merge) must have its chunks to itself, or
// the chunk it shares stays held until the slower range passes it: such a
// range is opened with its size, and gets 2 MB chunks and one last chunk
// cut to what is left.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class qvHeap;

// Whole chunks that one store let go of, kept for another store to write
// over: a fresh page costs a fault and the kernel's zeroing (on a virtual
// machine about as much as the copy that fills it), a page written once
// before costs neither. Stores of the same heap share one, from any
// thread.
class qvChunkStash {
 public:
  qvChunkStash(qvHeap& heap, size_t limit) : heap_(heap), limit_(limit) {}
  ~qvChunkStash() { Clear(); }
  qvChunkStash(const qvChunkStash&) = delete;
  qvChunkStash& operator=(const qvChunkStash&) = delete;

  // A chunk of qvRecordChunks::kChunkBytes, or null when none is kept.
  uint8_t* Take();
  // Keeps the chunk; false when the stash is full (the caller frees it).
  bool Put(uint8_t* chunk);
  // Frees every chunk kept.
  void Clear();

 private:
  qvHeap& heap_;
  const size_t limit_;
  std::mutex mutex_;
  std::vector<uint8_t*> chunks_;
};

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

  // Whole chunks let go of go to `giveTo`, when given; new chunks come
  // from `takeFrom` while it has any.
  explicit qvRecordChunks(qvHeap& heap, qvChunkStash* giveTo = nullptr, qvChunkStash* takeFrom = nullptr);
  ~qvRecordChunks();
  qvRecordChunks(const qvRecordChunks&) = delete;
  qvRecordChunks& operator=(const qvRecordChunks&) = delete;

  // `ownBytes` > 0: the range will hold exactly that many bytes, in chunks
  // of its own.
  void OpenRange(size_t ownBytes = 0);
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
  // A range reading chunk `chunk`, which it holds alone, is past `at`:
  // the whole pages before it go back now.
  void GiveBackBefore(uint32_t chunk, const uint8_t* at);

  size_t ChunkCount() const { return chunks_.size(); }
  size_t ChunksHeld() const { return held_.load(std::memory_order_relaxed); }

 private:
  struct Chunk {
    uint8_t* data;
    uint32_t bytes;
    uint32_t used;
    uint32_t holders;
    uint32_t gone;  // bytes at the front already given back
  };
  bool AddChunk(size_t bytes);

  void Free(Chunk& c);

  qvHeap& heap_;
  qvChunkStash* giveTo_;
  qvChunkStash* takeFrom_;
  std::vector<Chunk> chunks_;
  Range open_;
  bool opened_ = false;
  size_t ownLeft_ = 0;   // bytes the open range of its own has still to take
  bool ownRange_ = false;
  // Chunks not yet given back. Two threads may each read and let go of
  // ranges of their own (which share no chunk) at once.
  std::atomic<size_t> held_{0};
};
