// The extension filter of a search: the ids of the known extensions that
// the filter text names, at most 64 distinct ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvRecords.h"
#include "qvTypes.h"

class ExtTable;

class qvExtFilter {
 public:
  static constexpr size_t kMaxIds = 64;

  // Reads the space-separated words of the zero-terminated text (at most
  // its first 1023 units), lowering 'A'..'Z' in place, and keeps the id of
  // each word the table knows; words after the 64th distinct id are
  // ignored. Returns whether the text held at least one word.
  bool Build(qvChar* text, const ExtTable& table);

  size_t Count() const { return count_; }
  const uint32_t* Ids() const { return ids_; }

  // A file passes when it has an extension whose id is one of the ids.
  bool Passes(const uint8_t* fileRecord) const {
    if (!FileRecord::HasExtension(fileRecord)) return false;
    uint32_t id = FileRecord::ExtId(fileRecord);
    return id < limit_ && ((bits_[id >> 6] >> (id & 63)) & 1);
  }

 private:
  uint32_t ids_[kMaxIds] = {};
  size_t count_ = 0;
  // One bit per id below limit_: the test stays constant-time however
  // many ids the filter holds.
  std::vector<uint64_t> bits_;
  uint32_t limit_ = 0;
};
