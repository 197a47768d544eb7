// The saver's map from a folder record's address to its number in the
// folder list. Every saved record looks its parent up here, so it is a
// flat table with linear probing rather than a node-based map.
#pragma once

#include <cstdint>
#include <vector>

class qvRecordIndexMap {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  explicit qvRecordIndexMap(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    slots_.assign(capacity, Slot{nullptr, kNone});
    mask_ = capacity - 1;
  }

  // False when the address is already present.
  bool Insert(const uint8_t* record, uint32_t index) {
    for (size_t i = Hash(record);; i = (i + 1) & mask_) {
      if (slots_[i].record == record) return false;
      if (!slots_[i].record) {
        slots_[i] = {record, index};
        return true;
      }
    }
  }

  // Starts loading the slot a later Find of the record will read first.
  void Prefetch(const uint8_t* record) const { __builtin_prefetch(&slots_[Hash(record)]); }

  uint32_t Find(const uint8_t* record) const {
    if (!record) return kNone;
    for (size_t i = Hash(record);; i = (i + 1) & mask_) {
      if (slots_[i].record == record) return slots_[i].index;
      if (!slots_[i].record) return kNone;
    }
  }

 private:
  struct Slot {
    const uint8_t* record;
    uint32_t index;
  };
  size_t Hash(const uint8_t* record) const {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(record) * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }

  std::vector<Slot> slots_;
  size_t mask_;
};
