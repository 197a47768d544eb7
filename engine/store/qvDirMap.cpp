#include "qvDirMap.h"

#include <cstring>

DirMap::DirMap(qvHeap& heap) : heap_(heap) {
  qvGrowArray(heap_, pages_, capacity_, 32);
  InsertPage(0);
}

DirMap::~DirMap() {
  for (size_t i = 0; i < pageCount_; ++i) heap_.Free(pages_[i], sizeof(DirMapPage));
  heap_.Free(pages_, capacity_ * sizeof(DirMapPage*));
}

DirMapPage* DirMap::InsertPage(size_t i) {
  if (!pages_ || i > pageCount_) return nullptr;
  if (pageCount_ == capacity_ && !qvGrowArray(heap_, pages_, capacity_, capacity_ + 32)) return nullptr;
  auto* page = static_cast<DirMapPage*>(heap_.Alloc(sizeof(DirMapPage)));
  if (!page) return nullptr;
  std::memmove(pages_ + i + 1, pages_ + i, (pageCount_ - i) * sizeof(DirMapPage*));
  pages_[i] = page;
  ++pageCount_;
  return page;
}

void DirMap::RemovePage(size_t i) {
  if (i >= pageCount_ || pageCount_ == 1) return;
  DirMapPage* page = pages_[i];
  for (uint32_t k = page->first; k < page->end; ++k)
    if (page->entries[k].record != kNullRef) --itemCount_;
  heap_.Free(page, sizeof(DirMapPage));
  std::memmove(pages_ + i, pages_ + i + 1, (pageCount_ - i - 1) * sizeof(DirMapPage*));
  --pageCount_;
}

bool DirMap::Append(DirKey key, RecordRef record) {
  if (!pages_ || pageCount_ == 0) return false;
  DirMapPage* last = pages_[pageCount_ - 1];
  if (last->end == DirMapPage::kEntries) {
    last = InsertPage(pageCount_);
    if (!last) return false;
  }
  last->entries[last->end++] = {key, record};
  if (record != kNullRef) ++itemCount_;
  return true;
}

void DirMap::Clear() {
  while (pageCount_ > 1) RemovePage(pageCount_ - 1);
  if (pageCount_ == 1) pages_[0]->first = pages_[0]->end = 0;
  itemCount_ = 0;
}

DirMapEntry* DirMap::Find(DirKey key) const {
  for (size_t p = 0; p < pageCount_; ++p) {
    DirMapPage* page = pages_[p];
    if (page->end == page->first) continue;
    DirMapEntry* last = &page->entries[page->end - 1];
    if (last->key < key) continue;
    if (last->key == key) return last;
    // The first page whose last key is at least the key: search it alone.
    uint32_t lo = page->first, hi = page->end - 1;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2;
      if (page->entries[mid].key < key) lo = mid + 1;
      else hi = mid;
    }
    return page->entries[lo].key == key ? &page->entries[lo] : nullptr;
  }
  return nullptr;
}

void DirMap::ClearEntry(DirMapEntry* entry) {
  if (entry && entry->record != kNullRef) {
    entry->record = kNullRef;
    --itemCount_;
  }
}

size_t DirMap::BytesAllocated() const {
  return pageCount_ * sizeof(DirMapPage) + capacity_ * sizeof(DirMapPage*);
}
