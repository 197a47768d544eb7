// The real case of extensions. The index keeps every extension lower-case
// (one id for 'JPG' and 'jpg', so that filters and order ignore case), but
// on a case-sensitive file system photo.JPG and photo.jpg are different
// files: the name shown, printed and opened must be the real one. The few
// files whose extension is not all lower-case are kept here, by record.
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
  // The real extension of a file record, or null when it is the table's
  // lower-case text.
  const qvString* Get(const uint8_t* fileRecord) const;
  void Erase(const uint8_t* fileRecord);
  void Clear();
  size_t Size() const { return byRecord_.size(); }

  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (const auto& [record, id] : byRecord_) fn(record, variants_[id]);
  }

 private:
  std::unordered_map<const uint8_t*, uint32_t> byRecord_;
  std::vector<qvString> variants_;  // each distinct text once
  std::unordered_map<qvString, uint32_t> variantIds_;
};
