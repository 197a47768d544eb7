// The folder map: DirKey to folder record, in pages of 1024 entries whose
// keys ascend strictly across all pages. A removed folder keeps its entry
// with a null ref; callers treat such an entry as absent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"
#include "qvRecords.h"

struct DirMapEntry {
  DirKey key;
  RecordRef record;
};

struct DirMapPage {
  static constexpr uint32_t kEntries = 1024;
  static constexpr uint32_t kCapacity = kEntries;
  uint32_t first;
  uint32_t end;
  DirMapEntry entries[kEntries];

  uint32_t Count() const { return end - first; }
  DirMapEntry* Items() { return entries; }
};
static_assert(sizeof(DirMapPage) == 8200, "a map page is 8200 bytes");

class DirMap {
 public:
  explicit DirMap(qvHeap& heap);
  ~DirMap();
  DirMap(const DirMap&) = delete;
  DirMap& operator=(const DirMap&) = delete;

  // The caller appends in ascending key order.
  bool Append(DirKey key, RecordRef record);
  DirMapPage* InsertPage(size_t i);
  void RemovePage(size_t i);
  void Clear();

  // The entry for the key, or null. The entry may hold a null ref.
  DirMapEntry* Find(DirKey key) const;
  // The folder record's ref for the key, kNullRef when absent.
  RecordRef FindRecord(DirKey key) const {
    DirMapEntry* e = Find(key);
    return e ? e->record : kNullRef;
  }
  // Marks a folder as gone: its entry stays with a null ref.
  void ClearEntry(DirMapEntry* entry);

  size_t PageCount() const { return pageCount_; }
  DirMapPage* Page(size_t i) const { return pages_[i]; }
  // Entries that hold a record.
  size_t Count() const { return itemCount_; }
  void AdjustCount(ptrdiff_t delta) { itemCount_ = static_cast<size_t>(static_cast<ptrdiff_t>(itemCount_) + delta); }
  size_t BytesAllocated() const;

 private:
  qvHeap& heap_;
  DirMapPage** pages_ = nullptr;
  size_t capacity_ = 0;
  size_t pageCount_ = 0;
  size_t itemCount_ = 0;
};
