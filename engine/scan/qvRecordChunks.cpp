#include "qvRecordChunks.h"

#include <sys/mman.h>

#include <algorithm>

#include "qvHeap.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

uint8_t* qvChunkStash::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (chunks_.empty()) return nullptr;
  uint8_t* chunk = chunks_.back();
  chunks_.pop_back();
  return chunk;
}

bool qvChunkStash::Put(uint8_t* chunk) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (chunks_.size() >= limit_) return false;
  chunks_.push_back(chunk);
  return true;
}

void qvChunkStash::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint8_t* chunk : chunks_) heap_.FreePages(chunk, qvRecordChunks::kChunkBytes);
  chunks_.clear();
}

qvRecordChunks::qvRecordChunks(qvHeap& heap, qvChunkStash* giveTo, qvChunkStash* takeFrom)
    : heap_(heap), giveTo_(giveTo), takeFrom_(takeFrom) {}

qvRecordChunks::~qvRecordChunks() {
  for (Chunk& c : chunks_)
    if (c.data) heap_.FreePages(c.data + c.gone, c.bytes - c.gone);
}

void qvRecordChunks::Free(Chunk& c) {
  const bool whole = c.gone == 0 && c.bytes == kChunkBytes;
  if (!(whole && giveTo_ && giveTo_->Put(c.data))) heap_.FreePages(c.data + c.gone, c.bytes - c.gone);
  c.data = nullptr;
  --held_;
}

void qvRecordChunks::OpenRange(size_t ownBytes) {
  open_ = Range{};
  opened_ = true;
  ownRange_ = ownBytes > 0;
  ownLeft_ = ownBytes;
}

bool qvRecordChunks::AddChunk(size_t bytes) {
  if (uint8_t* kept = takeFrom_ ? takeFrom_->Take() : nullptr) {
    // A chunk cut shorter gives the rest of its pages back now.
    heap_.TrimPages(kept, kChunkBytes, bytes);
    chunks_.push_back({kept, static_cast<uint32_t>(bytes), 0, 0, 0});
    ++held_;
    return true;
  }
  auto* data = static_cast<uint8_t*>(heap_.AllocPages(bytes));
  if (!data) return false;
  // Every byte of a chunk is written soon: its pages are made in one call
  // rather than one fault each, which costs far more on a virtual machine
  // (a chunk cut to what a range has left is small pages). Advice only:
  // an older kernel faults them in as they are written.
  madvise(data, bytes, MADV_POPULATE_WRITE);
  chunks_.push_back({data, static_cast<uint32_t>(bytes), 0, 0, 0});
  ++held_;
  return true;
}

uint8_t* qvRecordChunks::Alloc(size_t n) {
  if (n > kChunkBytes) return nullptr;
  // A range of its own starts on a fresh chunk; its last chunk holds just
  // what is left (records never straddle, so what is left fits exactly).
  bool fresh = ownRange_ && open_.empty;
  if (fresh || chunks_.empty() || chunks_.back().bytes - chunks_.back().used < n) {
    size_t bytes = kChunkBytes;
    if (ownRange_ && ownLeft_ < kChunkBytes) bytes = (std::max(ownLeft_, n) + 4095) / 4096 * 4096;
    if (!AddChunk(bytes)) return nullptr;
  }
  const uint32_t at = static_cast<uint32_t>(chunks_.size() - 1);
  Chunk& chunk = chunks_.back();
  if (opened_ && (open_.empty || open_.lastChunk != at)) {
    if (open_.empty) {
      open_.firstChunk = at;
      open_.firstOffset = chunk.used;
      open_.empty = false;
    }
    open_.lastChunk = at;
    ++chunk.holders;
  }
  uint8_t* p = chunk.data + chunk.used;
  chunk.used += static_cast<uint32_t>(n);
  open_.endOffset = chunk.used;
  ownLeft_ -= std::min(ownLeft_, n);
  return p;
}

qvRecordChunks::Range qvRecordChunks::CloseRange() {
  opened_ = false;
  ownRange_ = false;
  return open_;
}

uint8_t* qvRecordChunks::Begin(const Range& range, uint32_t chunk) const {
  const Chunk& c = chunks_[chunk];
  if (!c.data) return nullptr;
  return c.data + (chunk == range.firstChunk ? range.firstOffset : 0);
}

uint8_t* qvRecordChunks::End(const Range& range, uint32_t chunk) const {
  const Chunk& c = chunks_[chunk];
  if (!c.data) return nullptr;
  return c.data + (chunk == range.lastChunk ? range.endOffset : c.used);
}

void qvRecordChunks::Release(uint32_t chunk) {
  Chunk& c = chunks_[chunk];
  if (!c.data || c.holders == 0 || --c.holders > 0) return;
  Free(c);
}

void qvRecordChunks::GiveBackBefore(uint32_t chunk, const uint8_t* at) {
  Chunk& c = chunks_[chunk];
  if (!c.data || c.holders != 1 || at < c.data + c.gone) return;
  size_t upTo = static_cast<size_t>(at - c.data) / 4096 * 4096;
  if (upTo <= c.gone) return;
  heap_.FreePages(c.data + c.gone, upTo - c.gone);
  c.gone = static_cast<uint32_t>(upTo);
}

void qvRecordChunks::ReleaseRange(const Range& range) {
  if (range.empty) return;
  for (uint32_t c = range.firstChunk; c <= range.lastChunk; ++c) Release(c);
}
