#include "qvMemoryPool.h"

CMemoryPool::CMemoryPool(qvHeap& heap, uint32_t refTag) : heap_(heap), refTag_(refTag) {
  qvGrowArray(heap_, blocks_, capacity_, 128);
  AddBlock();
}

CMemoryPool::~CMemoryPool() {
  for (size_t i = 0; i < count_; ++i) heap_.Free(blocks_[i], kBlockSize);
  heap_.Free(blocks_, capacity_ * sizeof(uint8_t*));
}

bool CMemoryPool::AddBlock() {
  if (count_ >= kMaxBlocks) return false;
  if (count_ == capacity_ && !qvGrowArray(heap_, blocks_, capacity_, capacity_ + 32)) return false;
  auto* block = static_cast<uint8_t*>(heap_.Alloc(kBlockSize));
  if (!block) return false;
  blocks_[count_++] = block;
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

void CMemoryPool::Reset() {
  for (size_t i = 0; i < count_; ++i) heap_.Free(blocks_[i], kBlockSize);
  count_ = 0;
  used_ = 0;
  AddBlock();
}
