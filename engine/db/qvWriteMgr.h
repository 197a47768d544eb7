// The write buffer of a save: chunks of 4096 data bytes filled in order. A
// record may span two chunks. Either all of it is held and written to a
// file in one pass at the end, or it streams: once more than a few MB are
// held, the full chunks go to its file and their memory takes new bytes,
// so that a large file never has a second copy in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "qvHeap.h"

class CWriteMgr {
 public:
  static constexpr size_t kChunkSize = 4096;
  static constexpr size_t kDefaultFlushBytes = size_t{4} << 20;

  // How many bytes a streaming writer holds before it writes its full
  // chunks out (rounded up to whole chunks); tests make it small.
  static void SetFlushBytes(size_t bytes);

  explicit CWriteMgr(qvHeap& heap);
  // A streamed file that was never finished is of no use: it is removed.
  virtual ~CWriteMgr();
  CWriteMgr(const CWriteMgr&) = delete;
  CWriteMgr& operator=(const CWriteMgr&) = delete;

  // Creates or truncates `path` and streams to it from now on. Call it
  // before anything is appended. False with errno set.
  bool StreamTo(const std::string& path);

  // False when memory ran out or, streaming, a write failed (WriteError).
  bool Append(const void* bytes, size_t n);
  bool AppendU32(uint32_t v) { return Append(&v, 4); }
  // Overwrites already appended bytes at `offset` (for fields filled in
  // once their value is known); bytes already written out are written
  // again in place.
  bool Patch(size_t offset, const void* bytes, size_t n);
  size_t Total() const { return total_; }
  // The system error code of a streamed write that failed, else 0.
  int WriteError() const { return writeError_; }

  // Writes the data to `path` (created or truncated) and syncs it to the
  // disk. A writer streaming to `path` writes only what it still holds and
  // is finished then. Returns false with errno set; a partial file may
  // remain. Saves write beside the files they replace (qvDatabaseCommit.h).
  bool WriteSynced(const std::string& path);

  // Calls fn(bytes, n) for the data in order, piece by piece; what a
  // streaming writer wrote out already is read back from its file. False
  // (errno set) when that read fails.
  template <typename Fn>
  bool ForEachChunk(Fn&& fn) const {
    using F = std::remove_reference_t<Fn>;
    auto call = [](void* f, const uint8_t* data, size_t n) { (*static_cast<F*>(f))(data, n); };
    if (!ForEachWrittenPiece(call, const_cast<void*>(static_cast<const void*>(&fn)))) return false;
    for (size_t i = 0; i < count_; ++i) fn(chunks_[i]->data, kChunkSize - chunks_[i]->freeBytes);
    return true;
  }

 private:
  struct Chunk {
    uint32_t freeBytes;
    uint8_t data[kChunkSize];
  };
  bool AddChunk();
  // Writes chunks [0, n) to the file and moves the rest to the front.
  bool FlushChunks(size_t n);
  bool WriteChunks(int fd, size_t first, size_t end) const;
  bool ForEachWrittenPiece(void (*fn)(void*, const uint8_t*, size_t), void* context) const;

  qvHeap& heap_;
  Chunk** chunks_ = nullptr;
  size_t capacity_ = 0;
  size_t count_ = 0;      // chunks holding data
  size_t allocated_ = 0;  // chunks allocated, the ones past count_ free for reuse
  size_t total_ = 0;

  // Streaming: the file, and how many bytes of it were written out.
  std::string path_;
  int fd_ = -1;
  size_t written_ = 0;
  size_t flushChunks_ = 0;
  int writeError_ = 0;
  bool finished_ = false;
};
