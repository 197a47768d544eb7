// The loader's answer to "which folder record starts at this RecordPos?".
// A bitmap with one bit per byte of the simulated blocks marks where folder
// records start; a running count per 64-bit word turns a set bit into the
// record's number in section order. Both questions take constant time,
// for about 768 bytes per 4096-byte block.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "qvDatabaseFormat.h"

class qvFolderStartIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // Marks the next record's start; positions come in ascending order.
  void Add(uint32_t pos) {
    uint64_t bit = BitOf(pos);
    size_t word = static_cast<size_t>(bit / 64);
    while (bits_.size() <= word) {
      bits_.push_back(0);
      before_.push_back(count_);
    }
    bits_[word] |= uint64_t{1} << (bit % 64);
    ++count_;
  }

  // The section-order number of the record starting at pos, or kNone when
  // no folder record starts there.
  uint32_t IndexOf(uint32_t pos) const {
    if (qvDbFormat::PosOffset(pos) >= qvDbFormat::PoolSimulator::kBlockSize) return kNone;
    uint64_t bit = BitOf(pos);
    size_t word = static_cast<size_t>(bit / 64);
    if (word >= bits_.size()) return kNone;
    uint64_t mask = uint64_t{1} << (bit % 64);
    if (!(bits_[word] & mask)) return kNone;
    return before_[word] + static_cast<uint32_t>(std::popcount(bits_[word] & (mask - 1)));
  }

  // Whether a folder record starts at pos: IndexOf without the count,
  // which a file's parent check does not need (and which costs a call to
  // the bit-count routine where the build does not assume the popcnt
  // instruction).
  bool Starts(uint32_t pos) const {
    if (qvDbFormat::PosOffset(pos) >= qvDbFormat::PoolSimulator::kBlockSize) return false;
    uint64_t bit = BitOf(pos);
    size_t word = static_cast<size_t>(bit / 64);
    return word < bits_.size() && (bits_[word] >> (bit % 64)) & 1;
  }

  // Asks for the word Starts(pos) will read: the files name their folders
  // in no order, and the bitmap of a large index is far larger than the
  // cache.
  void Prefetch(uint32_t pos) const {
    size_t word = static_cast<size_t>(BitOf(pos) / 64);
    if (word < bits_.size()) __builtin_prefetch(&bits_[word]);
  }

  // Asks for the two words IndexOf(pos) will read.
  void PrefetchIndex(uint32_t pos) const {
    size_t word = static_cast<size_t>(BitOf(pos) / 64);
    if (word >= bits_.size()) return;
    __builtin_prefetch(&bits_[word]);
    __builtin_prefetch(&before_[word]);
  }

  uint32_t Count() const { return count_; }

 private:
  static uint64_t BitOf(uint32_t pos) {
    return uint64_t{qvDbFormat::PosBlock(pos)} * qvDbFormat::PoolSimulator::kBlockSize +
           qvDbFormat::PosOffset(pos);
  }

  std::vector<uint64_t> bits_;
  std::vector<uint32_t> before_;  // starts marked in earlier words
  uint32_t count_ = 0;
};
