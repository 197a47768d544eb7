#include "qvRecordList.h"

#include <cstring>

RecordList::RecordList(qvHeap& heap) : heap_(heap) {
  qvGrowArray(heap_, pages_, capacity_, 16);
  InsertPage(0);
}

RecordList::~RecordList() {
  for (size_t i = 0; i < pageCount_; ++i) heap_.Free(pages_[i], sizeof(RecordPage));
  heap_.Free(pages_, capacity_ * sizeof(RecordPage*));
}

RecordPage* RecordList::InsertPage(size_t i) {
  if (!pages_ || i > pageCount_) return nullptr;
  if (pageCount_ == capacity_ && !qvGrowArray(heap_, pages_, capacity_, capacity_ + 32)) return nullptr;
  auto* page = static_cast<RecordPage*>(heap_.Alloc(sizeof(RecordPage)));
  if (!page) return nullptr;
  std::memmove(pages_ + i + 1, pages_ + i, (pageCount_ - i) * sizeof(RecordPage*));
  pages_[i] = page;
  ++pageCount_;
  return page;
}

void RecordList::RemovePage(size_t i) {
  if (i >= pageCount_ || pageCount_ == 1) return;
  itemCount_ -= pages_[i]->Count();
  heap_.Free(pages_[i], sizeof(RecordPage));
  std::memmove(pages_ + i, pages_ + i + 1, (pageCount_ - i - 1) * sizeof(RecordPage*));
  --pageCount_;
}

bool RecordList::Append(uint8_t* record) {
  if (!pages_ || pageCount_ == 0) return false;
  RecordPage* last = pages_[pageCount_ - 1];
  if (last->end == RecordPage::kSlots) {
    last = InsertPage(pageCount_);
    if (!last) return false;
  }
  last->slots[last->end++] = record;
  ++itemCount_;
  return true;
}

void RecordList::Clear() {
  while (pageCount_ > 1) RemovePage(pageCount_ - 1);
  if (pageCount_ == 1) pages_[0]->first = pages_[0]->end = 0;
  itemCount_ = 0;
}

bool RecordList::TakePages(RecordList& other) {
  if (pageCount_ + other.pageCount_ > capacity_ &&
      !qvGrowArray(heap_, pages_, capacity_, pageCount_ + other.pageCount_))
    return false;
  // An empty page of this list's own would sit between the two.
  if (itemCount_ == 0 && pageCount_ == 1 && other.itemCount_ > 0) {
    heap_.Free(pages_[0], sizeof(RecordPage));
    pageCount_ = 0;
  }
  for (size_t p = 0; p < other.pageCount_; ++p) {
    if (other.pages_[p]->Count() == 0) {
      other.heap_.Free(other.pages_[p], sizeof(RecordPage));
      continue;
    }
    pages_[pageCount_++] = other.pages_[p];
  }
  itemCount_ += other.itemCount_;
  other.pageCount_ = 0;
  other.itemCount_ = 0;
  other.InsertPage(0);
  return true;
}

uint8_t* RecordList::At(size_t i) const {
  for (size_t p = 0; p < pageCount_; ++p) {
    uint32_t n = pages_[p]->Count();
    if (i < n) return pages_[p]->slots[pages_[p]->first + i];
    i -= n;
  }
  return nullptr;
}

size_t RecordList::BytesAllocated() const {
  return pageCount_ * sizeof(RecordPage) + capacity_ * sizeof(RecordPage*);
}
