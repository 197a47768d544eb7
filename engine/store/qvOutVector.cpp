#include "qvOutVector.h"

COutVector::COutVector(qvHeap& heap) : heap_(heap) {
  if (!qvGrowArray(heap_, pages_, capacity_, 16)) return;
  // Only the items below the count are ever read: the pages need no zeros,
  // and the parts of them no answer reaches are never touched.
  pages_[0] = static_cast<uint8_t**>(heap_.AllocUninitialized(kPageItems * sizeof(uint8_t*)));
  if (!pages_[0]) return;
  pageCount_ = 1;
  Reset();
}

COutVector::~COutVector() {
  for (size_t i = 0; i < pageCount_; ++i) heap_.Free(pages_[i], kPageItems * sizeof(uint8_t*));
  heap_.Free(pages_, capacity_ * sizeof(uint8_t**));
}

bool COutVector::Append(uint8_t* record) {
  if (!write_) return false;
  if (write_ == pageEnd_) {
    size_t next = currentPage_ + 1;
    if (next >= pageCount_) {
      if (pageCount_ == capacity_ && !qvGrowArray(heap_, pages_, capacity_, capacity_ + 4)) return false;
      auto* page = static_cast<uint8_t**>(heap_.AllocUninitialized(kPageItems * sizeof(uint8_t*)));
      if (!page) return false;
      pages_[pageCount_++] = page;
    }
    currentPage_ = next;
    write_ = pages_[next];
    pageEnd_ = write_ + kPageItems;
  }
  *write_++ = record;
  ++itemCount_;
  return true;
}

void COutVector::Reset() {
  if (pageCount_ == 0) return;
  currentPage_ = 0;
  write_ = pages_[0];
  pageEnd_ = write_ + kPageItems;
  itemCount_ = 0;
}

void COutVector::Clear() {
  while (pageCount_ > 1) heap_.Free(pages_[--pageCount_], kPageItems * sizeof(uint8_t*));
  Reset();
}
