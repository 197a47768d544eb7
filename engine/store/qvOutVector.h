// The result vector of a search: record pointers in pages of 16384, kept
// from one search to the next so that a search of similar size allocates
// nothing. Item i is slot i mod 16384 of page i / 16384.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"

class COutVector {
 public:
  static constexpr size_t kPageItems = 16384;

  explicit COutVector(qvHeap& heap);
  virtual ~COutVector();
  COutVector(const COutVector&) = delete;
  COutVector& operator=(const COutVector&) = delete;

  bool Append(uint8_t* record);
  // Empties the vector and keeps its pages for reuse.
  void Reset();
  // Empties the vector and frees every page but the first.
  void Clear();

  size_t Count() const { return itemCount_; }
  uint8_t* At(size_t i) const { return i < itemCount_ ? pages_[i >> 14][i & 0x3FFF] : nullptr; }
  size_t PageCount() const { return pageCount_; }

 private:
  qvHeap& heap_;
  uint8_t*** pages_ = nullptr;
  size_t capacity_ = 0;
  size_t currentPage_ = 0;
  size_t pageCount_ = 0;
  uint8_t** write_ = nullptr;
  uint8_t** pageEnd_ = nullptr;
  size_t itemCount_ = 0;
};
