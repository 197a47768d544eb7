#include "qvExtCase.h"

bool ExtCaseMap::NeedsEntry(const qvChar* ext, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (ext[i] >= u'A' && ext[i] <= u'Z') return true;
  return false;
}

void ExtCaseMap::Set(const uint8_t* fileRecord, const qvChar* ext, size_t length) {
  qvString text(ext, length);
  auto [it, added] = variantIds_.try_emplace(text, static_cast<uint32_t>(variants_.size()));
  if (added) variants_.push_back(std::move(text));
  byRecord_[fileRecord] = it->second;
}

const qvString* ExtCaseMap::Get(const uint8_t* fileRecord) const {
  if (byRecord_.empty()) return nullptr;
  auto it = byRecord_.find(fileRecord);
  return it == byRecord_.end() ? nullptr : &variants_[it->second];
}

void ExtCaseMap::Erase(const uint8_t* fileRecord) { byRecord_.erase(fileRecord); }

void ExtCaseMap::Clear() {
  byRecord_.clear();
  variants_.clear();
  variantIds_.clear();
}
