// The real case of extensions. The index keeps every extension lower-case
// (one id for 'JPG' and 'jpg', so that filters and order ignore case), but
// on a case-sensitive file system photo.JPG and photo.jpg are different
// files: the name shown, printed and opened must be the real one. The few
// files whose extension is not all lower-case are kept here, by record.
//
// The records are found through one open table (linear probing, no tomb
// stones: an erase moves the entries after it back): a load fills it with
// hundreds of thousands of entries at once, and a node apiece would cost
// an allocation and a fresh cache line each.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvTypes.h"

class ExtCaseMap {
 public:
  // True when the text holds a letter 'A'..'Z'.
  static bool NeedsEntry(const qvChar* ext, size_t length);

  void Set(const uint8_t* fileRecord, const qvChar* ext, size_t length);
  // Set in two steps, for a loader that gives many records the same text:
  // the text's id (added once), then the record's entry.
  uint32_t VariantId(const qvChar* ext, size_t length);
  void SetVariant(const uint8_t* fileRecord, uint32_t variantId);
  // Room for `records` entries without growing the table.
  void Reserve(size_t records);
  // Asks for the table's line that Set or Get of this record reads first.
  void Prefetch(const uint8_t* fileRecord) const {
    if (!records_.empty()) __builtin_prefetch(&records_[Home(fileRecord)]);
  }

  // The real extension of a file record, or null when it is the table's
  // lower-case text.
  const qvString* Get(const uint8_t* fileRecord) const;
  void Erase(const uint8_t* fileRecord);
  void Clear();
  size_t Size() const { return size_; }

  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (size_t i = 0; i < records_.size(); ++i)
      if (records_[i]) fn(records_[i], variants_[variantOf_[i]]);
  }

 private:
  static constexpr size_t kMinSlots = 64;

  size_t Home(const uint8_t* fileRecord) const {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(fileRecord) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  // The slot holding the record, or the empty slot where it would go.
  size_t Find(const uint8_t* fileRecord) const;
  // Makes the table 2^bits slots and puts every entry back.
  void Rehash(unsigned bits);

  // Slot i holds records_[i] (null when empty) and its text's id.
  std::vector<const uint8_t*> records_;
  std::vector<uint32_t> variantOf_;
  size_t size_ = 0;
  unsigned shift_ = 64;  // 64 - log2(slots)
  std::vector<qvString> variants_;  // each distinct text once
  std::unordered_map<qvString, uint32_t> variantIds_;
};
