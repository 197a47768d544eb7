#include "qvRecordChunks.h"

#include "qvHeap.h"

qvRecordChunks::qvRecordChunks(qvHeap& heap) : heap_(heap) {}

qvRecordChunks::~qvRecordChunks() {
  for (Chunk& c : chunks_)
    if (c.data) heap_.FreePages(c.data, kChunkBytes);
}

void qvRecordChunks::OpenRange() {
  open_ = Range{};
  opened_ = true;
}

uint8_t* qvRecordChunks::Alloc(size_t n) {
  if (n > kChunkBytes) return nullptr;
  if (chunks_.empty() || kChunkBytes - chunks_.back().used < n) {
    auto* data = static_cast<uint8_t*>(heap_.AllocPages(kChunkBytes));
    if (!data) return nullptr;
    chunks_.push_back({data, 0, 0});
    ++held_;
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
  return p;
}

qvRecordChunks::Range qvRecordChunks::CloseRange() {
  opened_ = false;
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
  heap_.FreePages(c.data, kChunkBytes);
  c.data = nullptr;
  --held_;
}

void qvRecordChunks::ReleaseRange(const Range& range) {
  if (range.empty) return;
  for (uint32_t c = range.firstChunk; c <= range.lastChunk; ++c) Release(c);
}
