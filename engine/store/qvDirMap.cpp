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

// A page that holds no entry: only the map's one page can be left so
// (a live removal frees an emptied page), but the search does not rely on it.
static bool Empty(const DirMapPage* page) { return page->end == page->first; }

DirMapEntry* DirMap::Find(DirKey key) const {
  // The first page whose last key is at least the key, by halving over the
  // pages: the keys ascend across pages. An empty page takes the place of
  // the nearest page before it that holds entries.
  size_t lo = 0, hi = pageCount_;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    size_t at = mid;
    while (at > lo && Empty(pages_[at])) --at;
    const DirMapPage* page = pages_[at];
    if (Empty(page) || page->entries[page->end - 1].key < key) lo = mid + 1;
    else hi = at;
  }
  while (lo < pageCount_ && Empty(pages_[lo])) ++lo;
  if (lo == pageCount_) return nullptr;
  DirMapPage* page = pages_[lo];
  uint32_t first = page->first, last = page->end - 1;
  while (first < last) {
    uint32_t mid = first + (last - first) / 2;
    if (page->entries[mid].key < key) first = mid + 1;
    else last = mid;
  }
  return page->entries[first].key == key ? &page->entries[first] : nullptr;
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
