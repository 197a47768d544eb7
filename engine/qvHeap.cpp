#include "qvHeap.h"

#include <cerrno>
#include <cstdlib>

#include "qvErrorBox.h"

void* qvHeap::Alloc(size_t size) {
  void* p = std::calloc(1, size ? size : 1);
  if (!p) {
    ShowErrorBox("申请内存失败:%d", ENOMEM);
    return nullptr;
  }
  inUse_.fetch_add(size, std::memory_order_relaxed);
  return p;
}

void qvHeap::Free(void* block, size_t size) {
  if (!block) return;
  inUse_.fetch_sub(size, std::memory_order_relaxed);
  std::free(block);
}
