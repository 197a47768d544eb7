// The write buffer of a save: chunks of 4096 data bytes filled in order. A
// record may span two chunks. Written to a file in one pass at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qvHeap.h"

class CWriteMgr {
 public:
  static constexpr size_t kChunkSize = 4096;

  explicit CWriteMgr(qvHeap& heap);
  virtual ~CWriteMgr();
  CWriteMgr(const CWriteMgr&) = delete;
  CWriteMgr& operator=(const CWriteMgr&) = delete;

  bool Append(const void* bytes, size_t n);
  bool AppendU32(uint32_t v) { return Append(&v, 4); }
  // Overwrites already appended bytes at `offset` (for fields filled in
  // once their value is known).
  bool Patch(size_t offset, const void* bytes, size_t n);
  size_t Total() const { return total_; }

  // Writes every chunk to `path` (created or truncated) and syncs it to
  // the disk. Returns false with errno set; a partial file may remain.
  // Saves write beside the files they replace (qvDatabaseCommit.h).
  bool WriteSynced(const std::string& path) const;

  // Calls fn(bytes, n) for the data in order, chunk by chunk.
  template <typename Fn>
  void ForEachChunk(Fn&& fn) const {
    for (size_t i = 0; i < count_; ++i) fn(chunks_[i]->data, kChunkSize - chunks_[i]->freeBytes);
  }

 private:
  struct Chunk {
    uint32_t freeBytes;
    uint8_t data[kChunkSize];
  };
  bool AddChunk();

  qvHeap& heap_;
  Chunk** chunks_ = nullptr;
  size_t capacity_ = 0;
  size_t count_ = 0;
  size_t total_ = 0;
};
