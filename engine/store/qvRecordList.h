// A list of record pointers in pages of 4096 slots. Taken page after page,
// the valid slots of each page (first..end) form the whole list in order;
// a page can be partly used at either side, so an insertion moves at most
// one page.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"

struct RecordPage {
  static constexpr uint32_t kSlots = 4096;
  static constexpr uint32_t kCapacity = kSlots;
  uint32_t first;  // first used slot
  uint32_t end;    // one past the last used slot
  uint8_t* slots[kSlots];

  uint32_t Count() const { return end - first; }
  uint8_t** Items() { return slots; }
};

class RecordList {
 public:
  explicit RecordList(qvHeap& heap);
  ~RecordList();
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  bool Append(uint8_t* record);
  // Inserts an empty page at index i (later pages move up by one).
  RecordPage* InsertPage(size_t i);
  // Frees page i (later pages move down); the list keeps at least one page.
  void RemovePage(size_t i);
  // Drops every record and keeps one empty page.
  void Clear();
  // Moves every record of `other` after this list's, page by page (no
  // record is copied); `other` is left empty. False, changing nothing,
  // when out of memory.
  bool TakePages(RecordList& other);
  // Makes now the pages that `records` more appends will need, zeroed and
  // touched, for the appends to take. They come 63 to a huge page (a
  // page of the C heap is small pages, each faulted in apart), so a load
  // makes its pages this way, some of them on a helper thread while the
  // thread that appends is busy elsewhere. Pages it could not make are
  // left to the appends. A page of a block that leaves the list again is
  // kept with its block until Clear or the list's end.
  void ReservePages(size_t records);

  size_t PageCount() const { return pageCount_; }
  RecordPage* Page(size_t i) const { return pages_[i]; }
  size_t Count() const { return itemCount_; }
  // Item i of the whole list (linear in the page count).
  uint8_t* At(size_t i) const;

  // Calls fn(record) for every record, in list order.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (size_t p = 0; p < pageCount_; ++p) {
      RecordPage* page = pages_[p];
      for (uint32_t s = page->first; s < page->end; ++s) fn(page->slots[s]);
    }
  }
  // Calls fn(slot) with a reference to every used slot, in list order.
  template <typename Fn>
  void ForEachSlot(Fn&& fn) {
    for (size_t p = 0; p < pageCount_; ++p) {
      RecordPage* page = pages_[p];
      for (uint32_t s = page->first; s < page->end; ++s) fn(page->slots[s]);
    }
  }

  // Drops the records for which remove(record) is true; the rest keep
  // their order.
  template <typename Remove>
  void RemoveIf(Remove&& remove) {
    for (size_t p = 0; p < pageCount_; ++p) {
      RecordPage* page = pages_[p];
      uint32_t w = page->first;
      for (uint32_t r = page->first; r < page->end; ++r) {
        if (!remove(page->slots[r])) page->slots[w++] = page->slots[r];
      }
      itemCount_ -= page->end - w;
      page->end = w;
    }
  }

  // Frees the pages that RemoveIf left empty (one page always stays).
  void DropEmptyPages() {
    for (size_t p = pageCount_; p-- > 0 && pageCount_ > 1;)
      if (pages_[p]->Count() == 0) RemovePage(p);
  }

  // Bookkeeping for the paged sorted insert and removal of live changes.
  void AdjustCount(ptrdiff_t delta) { itemCount_ = static_cast<size_t>(static_cast<ptrdiff_t>(itemCount_) + delta); }

  size_t BytesAllocated() const;

 private:
  qvHeap& heap_;
  RecordPage** pages_ = nullptr;
  size_t capacity_ = 0;
  size_t pageCount_ = 0;
  size_t itemCount_ = 0;
  // Pages made by ReservePages, not yet in the list, and the blocks they
  // were cut from.
  struct Block {
    void* pages;
    size_t bytes;
  };
  RecordPage** spare_ = nullptr;
  size_t spareCapacity_ = 0;
  size_t spareCount_ = 0;
  Block* blocks_ = nullptr;
  size_t blockCapacity_ = 0;
  size_t blockCount_ = 0;

  static constexpr size_t kBlockBytes = qvHeap::kHugePage;
  static constexpr size_t kPagesPerBlock = kBlockBytes / sizeof(RecordPage);

  bool InBlock(const RecordPage* page) const;
  // Frees a page that left the list, unless a block holds it.
  void FreePage(RecordPage* page);
  // Frees the spare pages and every block (no page of the list may lie
  // in one).
  void FreeSparesAndBlocks();
};
