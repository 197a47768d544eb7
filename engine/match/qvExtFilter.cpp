#include "qvExtFilter.h"

#include "qvExtTable.h"
#include "qvPackedName.h"

bool qvExtFilter::Build(qvChar* text, const ExtTable& table) {
  count_ = 0;
  limit_ = 0;
  bits_.clear();
  if (!text) return false;
  size_t end = 0;
  while (end < QV_QUERY_MAX - 1 && text[end]) ++end;
  bool anyWord = false;
  for (size_t i = 0; i < end && count_ < kMaxIds;) {
    if (text[i] == u' ') {
      ++i;
      continue;
    }
    size_t start = i;
    for (; i < end && text[i] != u' '; ++i) text[i] = qvFoldUnit(text[i]);
    anyWord = true;
    int64_t found = table.Find(text + start, i - start);
    if (found < 0) continue;
    uint32_t id = static_cast<uint32_t>(found);
    bool known = false;
    for (size_t k = 0; k < count_ && !known; ++k) known = ids_[k] == id;
    if (!known) ids_[count_++] = id;
  }
  for (size_t k = 0; k < count_; ++k)
    if (ids_[k] >= limit_) limit_ = ids_[k] + 1;
  bits_.assign((limit_ + 63) / 64, 0);
  for (size_t k = 0; k < count_; ++k) bits_[ids_[k] >> 6] |= uint64_t{1} << (ids_[k] & 63);
  return anyWord;
}
