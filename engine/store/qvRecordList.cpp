#include "qvRecordList.h"

#include <cstring>

RecordList::RecordList(qvHeap& heap) : heap_(heap) {
  qvGrowArray(heap_, pages_, capacity_, 16);
  InsertPage(0);
}

RecordList::~RecordList() {
  for (size_t i = 0; i < pageCount_; ++i) FreePage(pages_[i]);
  heap_.Free(pages_, capacity_ * sizeof(RecordPage*));
  pageCount_ = 0;
  FreeSparesAndBlocks();
}

void RecordList::ReservePages(size_t records) {
  const size_t room = pageCount_ ? RecordPage::kSlots - pages_[pageCount_ - 1]->end : 0;
  if (records <= room) return;
  const size_t wanted = (records - room + RecordPage::kSlots - 1) / RecordPage::kSlots;
  if (wanted <= spareCount_) return;
  const size_t blocks = (wanted - spareCount_ + kPagesPerBlock - 1) / kPagesPerBlock;
  const size_t spares = spareCount_ + blocks * kPagesPerBlock;  // a block's pages all become spares
  if ((spares > spareCapacity_ && !qvGrowArray(heap_, spare_, spareCapacity_, spares)) ||
      (blockCount_ + blocks > blockCapacity_ && !qvGrowArray(heap_, blocks_, blockCapacity_, blockCount_ + blocks)) ||
      (pageCount_ + spares > capacity_ && !qvGrowArray(heap_, pages_, capacity_, pageCount_ + spares)))
    return;
  for (size_t b = 0; b < blocks; ++b) {
    auto* block = static_cast<uint8_t*>(heap_.AllocPages(kBlockBytes));
    if (!block) return;
    blocks_[blockCount_++] = {block, kBlockBytes};
    // The first write to each page faults it in: here, not in an append.
    for (size_t at = 0; at < kBlockBytes; at += 4096) block[at] = 0;
    for (size_t k = 0; k < kPagesPerBlock; ++k)
      spare_[spareCount_++] = reinterpret_cast<RecordPage*>(block + k * sizeof(RecordPage));
  }
}

bool RecordList::InBlock(const RecordPage* page) const {
  auto at = reinterpret_cast<uintptr_t>(page);
  for (size_t b = 0; b < blockCount_; ++b) {
    auto start = reinterpret_cast<uintptr_t>(blocks_[b].pages);
    if (at >= start && at < start + blocks_[b].bytes) return true;
  }
  return false;
}

void RecordList::FreePage(RecordPage* page) {
  if (!InBlock(page)) heap_.Free(page, sizeof(RecordPage));
}

void RecordList::FreeSparesAndBlocks() {
  spareCount_ = 0;
  heap_.Free(spare_, spareCapacity_ * sizeof(RecordPage*));
  spare_ = nullptr;
  spareCapacity_ = 0;
  for (size_t b = 0; b < blockCount_; ++b) heap_.FreePages(blocks_[b].pages, blocks_[b].bytes);
  heap_.Free(blocks_, blockCapacity_ * sizeof(Block));
  blocks_ = nullptr;
  blockCapacity_ = 0;
  blockCount_ = 0;
}

RecordPage* RecordList::InsertPage(size_t i) {
  if (!pages_ || i > pageCount_) return nullptr;
  if (pageCount_ == capacity_ && !qvGrowArray(heap_, pages_, capacity_, capacity_ + 32)) return nullptr;
  auto* page = spareCount_ > 0 ? spare_[--spareCount_] : static_cast<RecordPage*>(heap_.Alloc(sizeof(RecordPage)));
  if (!page) return nullptr;
  std::memmove(pages_ + i + 1, pages_ + i, (pageCount_ - i) * sizeof(RecordPage*));
  pages_[i] = page;
  ++pageCount_;
  return page;
}

void RecordList::RemovePage(size_t i) {
  if (i >= pageCount_ || pageCount_ == 1) return;
  itemCount_ -= pages_[i]->Count();
  FreePage(pages_[i]);
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
  bool blocksFree = true;
  if (pageCount_ == 1 && blockCount_ > 0 && InBlock(pages_[0])) {
    // The one page kept must outlive the blocks (or keep them, out of memory).
    auto* page = static_cast<RecordPage*>(heap_.Alloc(sizeof(RecordPage)));
    if (page) pages_[0] = page;
    else blocksFree = false;
  }
  if (pageCount_ == 1) pages_[0]->first = pages_[0]->end = 0;
  itemCount_ = 0;
  if (blocksFree) FreeSparesAndBlocks();
}

bool RecordList::TakePages(RecordList& other) {
  if ((pageCount_ + other.pageCount_ > capacity_ &&
       !qvGrowArray(heap_, pages_, capacity_, pageCount_ + other.pageCount_)) ||
      (blockCount_ + other.blockCount_ > blockCapacity_ &&
       !qvGrowArray(heap_, blocks_, blockCapacity_, blockCount_ + other.blockCount_)))
    return false;
  // The blocks go with the pages cut from them; other's spare pages stay
  // in them unused.
  for (size_t b = 0; b < other.blockCount_; ++b) blocks_[blockCount_++] = other.blocks_[b];
  other.blockCount_ = 0;
  other.spareCount_ = 0;
  // An empty page of this list's own would sit between the two.
  if (itemCount_ == 0 && pageCount_ == 1 && other.itemCount_ > 0) {
    FreePage(pages_[0]);
    pageCount_ = 0;
  }
  for (size_t p = 0; p < other.pageCount_; ++p) {
    if (other.pages_[p]->Count() == 0) {
      FreePage(other.pages_[p]);
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
  return (pageCount_ + spareCount_) * sizeof(RecordPage) + (capacity_ + spareCapacity_) * sizeof(RecordPage*) +
         blockCapacity_ * sizeof(Block);
}
