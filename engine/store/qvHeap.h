// The engine's private heap: every table, block, page and buffer of the
// engine is allocated here, so the engine's whole footprint can be told and
// released at once. Out-of-memory is reported with the engine's message.
#pragma once

#include <atomic>
#include <cstddef>

class qvHeap {
 public:
  qvHeap() = default;
  qvHeap(const qvHeap&) = delete;
  qvHeap& operator=(const qvHeap&) = delete;

  // Returns zero-filled memory, or null after reporting "申请内存失败:%d".
  void* Alloc(size_t size);
  void Free(void* block, size_t size);
  // The same without the zeroing, for buffers written before they are
  // read: pages never written are then never touched.
  void* AllocUninitialized(size_t size);

  // Zero-filled pages for large tables, or null after the same report.
  // Sizes that are multiples of kHugePage are aligned to it and offered to
  // the kernel as huge pages: one fault and one TLB entry per 2 MB instead
  // of 512, which a walk over millions of records feels.
  static constexpr size_t kHugePage = 2u << 20;
  void* AllocPages(size_t size);
  void FreePages(void* pages, size_t size);
  // Gives back the pages of [pages + keep, pages + size): `keep` is a
  // multiple of the page size.
  void TrimPages(void* pages, size_t size, size_t keep);

  // Bytes currently allocated through this heap.
  size_t BytesInUse() const { return inUse_.load(std::memory_order_relaxed); }

 private:
  // `block` counted as `size` bytes in use, or the report when it is null.
  void* Counted(void* block, size_t size);
  std::atomic<size_t> inUse_{0};
};

// Growable arrays grow by allocating the new size, copying the old contents
// and freeing the old block. Returns false (array unchanged) on failure.
template <typename T>
bool qvGrowArray(qvHeap& heap, T*& array, size_t& capacity, size_t newCapacity) {
  T* grown = static_cast<T*>(heap.Alloc(newCapacity * sizeof(T)));
  if (!grown) return false;
  for (size_t i = 0; i < capacity && i < newCapacity; ++i) grown[i] = array[i];
  if (array) heap.Free(array, capacity * sizeof(T));
  array = grown;
  capacity = newCapacity;
  return true;
}
