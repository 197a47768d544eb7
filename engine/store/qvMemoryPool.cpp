#include "qvMemoryPool.h"

#include <algorithm>
#include <utility>

CMemoryPool::CMemoryPool(qvHeap& heap, uint32_t refTag) : heap_(heap), refTag_(refTag) {
  qvGrowArray(heap_, blocks_, capacity_, 128);
  AddBlock();
}

CMemoryPool::~CMemoryPool() {
  FreeChunks();
  heap_.Free(chunks_, chunkCapacity_ * sizeof(Chunk));
  heap_.Free(blocks_, capacity_ * sizeof(uint8_t*));
}

bool CMemoryPool::AddBlock() {
  if (count_ >= kMaxBlocks) return false;
  // By half again: a large index has tens of thousands of blocks, and
  // each growth copies the whole table.
  if (count_ == capacity_ && !qvGrowArray(heap_, blocks_, capacity_, capacity_ + std::max<size_t>(32, capacity_ / 2)))
    return false;
  if (chunkCount_ == 0 || chunkUsed_ + kBlockSize > chunks_[chunkCount_ - 1].bytes) {
    if (!AddChunk()) return false;
  }
  blocks_[count_++] = chunks_[chunkCount_ - 1].pages + chunkUsed_;
  chunkUsed_ += kBlockSize;
  used_ = 0;
  return true;
}

uint8_t* CMemoryPool::Alloc(size_t n, RecordRef* ref) {
  if (n > kBlockSize || !blocks_) return nullptr;
  if (count_ == 0 || used_ + n > kBlockSize) {
    if (!AddBlock()) return nullptr;
  }
  size_t block = count_ - 1;
  uint8_t* p = blocks_[block] + used_;
  if (ref) *ref = refTag_ | static_cast<uint32_t>(block << 12) | static_cast<uint32_t>(used_);
  used_ += n;
  return p;
}

uint8_t* CMemoryPool::Resolve(RecordRef ref) const {
  if (!Owns(ref)) return nullptr;
  size_t block = (ref & 0x7FFFFFFFu) >> 12;
  size_t offset = ref & 0xFFF;
  if (block >= count_ || (block == count_ - 1 && offset >= used_)) return nullptr;
  return blocks_[block] + offset;
}

// Each chunk doubles the last, up to a huge page: a small index stays
// small, a large one takes whole huge pages.
bool CMemoryPool::AddChunk() {
  size_t bytes = chunkCount_ == 0 ? kFirstChunk : std::min(chunks_[chunkCount_ - 1].bytes * 2, qvHeap::kHugePage);
  if (chunkCount_ == chunkCapacity_ && !qvGrowArray(heap_, chunks_, chunkCapacity_, chunkCapacity_ + 32))
    return false;
  auto* pages = static_cast<uint8_t*>(heap_.AllocPages(bytes));
  if (!pages) return false;
  chunks_[chunkCount_++] = {pages, bytes};
  chunkUsed_ = kReadBehind;
  chunkBytes_ += bytes;
  return true;
}

void CMemoryPool::Trim() {
  if (chunkCount_ == 0) return;
  Chunk& last = chunks_[chunkCount_ - 1];
  // Whole pages only: the blocks begin kReadBehind bytes into the chunk.
  const size_t keep = (chunkUsed_ + kBlockSize - 1) / kBlockSize * kBlockSize;
  if (keep >= last.bytes || chunkUsed_ <= kReadBehind) return;
  heap_.TrimPages(last.pages, last.bytes, keep);
  chunkBytes_ -= last.bytes - keep;
  last.bytes = keep;
}

void CMemoryPool::FreeChunks() {
  for (size_t i = 0; i < chunkCount_; ++i) heap_.FreePages(chunks_[i].pages, chunks_[i].bytes);
  chunkCount_ = 0;
  chunkUsed_ = 0;
  chunkBytes_ = 0;
}

void CMemoryPool::Reset() {
  FreeChunks();
  count_ = 0;
  used_ = 0;
  AddBlock();
}

void CMemoryPool::Swap(CMemoryPool& other) {
  std::swap(blocks_, other.blocks_);
  std::swap(capacity_, other.capacity_);
  std::swap(count_, other.count_);
  std::swap(used_, other.used_);
  std::swap(chunks_, other.chunks_);
  std::swap(chunkCapacity_, other.chunkCapacity_);
  std::swap(chunkCount_, other.chunkCount_);
  std::swap(chunkUsed_, other.chunkUsed_);
  std::swap(chunkBytes_, other.chunkBytes_);
}

bool CMemoryPool::Adopt(CMemoryPool& other) {
  if (count_ + other.count_ > kMaxBlocks) return false;
  if (count_ + other.count_ > capacity_ && !qvGrowArray(heap_, blocks_, capacity_, count_ + other.count_)) return false;
  if (chunkCount_ + other.chunkCount_ > chunkCapacity_ &&
      !qvGrowArray(heap_, chunks_, chunkCapacity_, chunkCount_ + other.chunkCount_))
    return false;
  Trim();  // this pool's last chunk gets no more blocks
  for (size_t i = 0; i < other.count_; ++i) blocks_[count_++] = other.blocks_[i];
  for (size_t i = 0; i < other.chunkCount_; ++i) chunks_[chunkCount_++] = other.chunks_[i];
  used_ = other.used_;
  chunkUsed_ = other.chunkUsed_;
  chunkBytes_ += other.chunkBytes_;
  other.count_ = 0;
  other.used_ = 0;
  other.chunkCount_ = 0;
  other.chunkUsed_ = 0;
  other.chunkBytes_ = 0;
  other.AddBlock();
  return true;
}
