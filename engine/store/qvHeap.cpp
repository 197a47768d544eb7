#include "qvHeap.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

#include "qvErrorBox.h"

void* qvHeap::Alloc(size_t size) { return Counted(std::calloc(1, size ? size : 1), size); }

void* qvHeap::AllocUninitialized(size_t size) { return Counted(std::malloc(size ? size : 1), size); }

void* qvHeap::Counted(void* block, size_t size) {
  if (!block) {
    ShowErrorBox("申请内存失败:%d", ENOMEM);
    return nullptr;
  }
  inUse_.fetch_add(size, std::memory_order_relaxed);
  return block;
}

void qvHeap::Free(void* block, size_t size) {
  if (!block) return;
  inUse_.fetch_sub(size, std::memory_order_relaxed);
  std::free(block);
}

void* qvHeap::AllocPages(size_t size) {
  const bool huge = size % kHugePage == 0;
  // Mapping one huge page more than asked leaves room to align the start.
  size_t mapped = huge ? size + kHugePage : size;
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    ShowErrorBox("申请内存失败:%d", ENOMEM);
    return nullptr;
  }
  auto* start = static_cast<uint8_t*>(p);
  if (huge) {
    auto at = reinterpret_cast<uintptr_t>(start);
    size_t head = (kHugePage - at % kHugePage) % kHugePage;
    if (head) munmap(start, head);
    if (kHugePage - head) munmap(start + head + size, kHugePage - head);
    start += head;
#ifdef MADV_HUGEPAGE
    madvise(start, size, MADV_HUGEPAGE);  // advice only: small pages work too
#endif
  }
  inUse_.fetch_add(size, std::memory_order_relaxed);
  return start;
}

void qvHeap::FreePages(void* pages, size_t size) {
  if (!pages) return;
  inUse_.fetch_sub(size, std::memory_order_relaxed);
  munmap(pages, size);
}

void qvHeap::TrimPages(void* pages, size_t size, size_t keep) {
  if (!pages || keep >= size) return;
  inUse_.fetch_sub(size - keep, std::memory_order_relaxed);
  munmap(static_cast<uint8_t*>(pages) + keep, size - keep);
}
