// The extension dictionary: every extension text is stored once, lower-case
// and without the dot, and file records refer to it by id. Ids are given in
// order of creation; a sorted index answers look-ups by text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"
#include "qvTypes.h"

class ExtTable {
 public:
  static constexpr int32_t kOwnIcon = -2;    // files of this extension carry their own icon
  static constexpr int32_t kIconUnknown = -3;  // not looked up yet
  static constexpr uint32_t kInitialCapacity = 512;
  static constexpr uint32_t kGrowth = 64;

  struct SortedEntry {
    const qvChar* text;
    uint32_t id;
  };

  explicit ExtTable(qvHeap& heap);
  ~ExtTable();
  ExtTable(const ExtTable&) = delete;
  ExtTable& operator=(const ExtTable&) = delete;

  // Back to the four built-in entries: cur, exe, ico, lnk.
  void Reset();

  // Lower-cases 'A'..'Z' of the text in place and returns its id, adding
  // it when new. Returns UINT32_MAX when out of memory.
  uint32_t FindOrAdd(qvChar* units, size_t length);
  // The id of a lower-case text, or -1 when it is not in the table.
  int64_t Find(const qvChar* units, size_t length) const;
  // -1, 0 or 1 comparing the texts of two ids as 16-bit code units.
  int Compare(uint32_t a, uint32_t b) const;

  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }
  bool BuiltinsStatic() const { return builtinsStatic_; }
  const qvChar* Text(uint32_t id) const { return id < count_ ? texts_[id] : nullptr; }
  size_t TextLength(uint32_t id) const { return qvStrLen(Text(id)); }
  int32_t Icon(uint32_t id) const { return id < count_ ? icons_[id] : kIconUnknown; }
  void SetIcon(uint32_t id, int32_t icon) {
    if (id < count_) icons_[id] = icon;
  }
  const SortedEntry& Sorted(uint32_t k) const { return sorted_[k]; }

  // Loading: empties the table and makes room for `count` entries (growing
  // to count + 64 when count is not below the capacity); then SetEntry
  // fills the k-th sorted entry. Returns false when out of memory.
  bool BeginLoad(uint32_t count);
  bool SetEntry(uint32_t k, uint32_t id, int32_t icon, const qvChar* text, size_t length);

  size_t BytesAllocated() const;

 private:
  bool Grow(uint32_t capacity);
  void FreeTexts();

  qvHeap& heap_;
  bool builtinsStatic_ = true;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
  int32_t* icons_ = nullptr;
  qvChar** texts_ = nullptr;
  size_t* textBytes_ = nullptr;  // allocation size of each heap text, 0 for a built-in
  SortedEntry* sorted_ = nullptr;
};

// Where a file name splits into base name and extension: the last '.' or
// ' ' searching backwards; only a '.' at index 1 or more splits. Returns
// the index of that '.', or -1 when there is no extension.
long qvFindExtensionDot(const qvChar* name, size_t length);
