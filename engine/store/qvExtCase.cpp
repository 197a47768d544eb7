#include "qvExtCase.h"

#include <algorithm>
#include <bit>

bool ExtCaseMap::NeedsEntry(const qvChar* ext, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (ext[i] >= u'A' && ext[i] <= u'Z') return true;
  return false;
}

void ExtCaseMap::Set(const uint8_t* fileRecord, const qvChar* ext, size_t length) {
  SetVariant(fileRecord, VariantId(ext, length));
}

uint32_t ExtCaseMap::VariantId(const qvChar* ext, size_t length) {
  qvString text(ext, length);
  auto [it, added] = variantIds_.try_emplace(text, static_cast<uint32_t>(variants_.size()));
  if (added) variants_.push_back(std::move(text));
  return it->second;
}

void ExtCaseMap::Reserve(size_t records) {
  // At most three slots in four used: a probe stays short.
  size_t slots = std::bit_ceil(std::max(kMinSlots, records + records / 3 + 1));
  if (slots > records_.size()) Rehash(static_cast<unsigned>(std::countr_zero(slots)));
}

size_t ExtCaseMap::Find(const uint8_t* fileRecord) const {
  const size_t mask = records_.size() - 1;
  size_t i = Home(fileRecord);
  while (records_[i] && records_[i] != fileRecord) i = (i + 1) & mask;
  return i;
}

void ExtCaseMap::SetVariant(const uint8_t* fileRecord, uint32_t variantId) {
  if ((size_ + 1) * 4 > records_.size() * 3) Reserve(std::max<size_t>(size_ + 1, size_ * 2));
  size_t i = Find(fileRecord);
  if (!records_[i]) {
    records_[i] = fileRecord;
    ++size_;
  }
  variantOf_[i] = variantId;
}

const qvString* ExtCaseMap::Get(const uint8_t* fileRecord) const {
  if (size_ == 0) return nullptr;
  size_t i = Find(fileRecord);
  return records_[i] ? &variants_[variantOf_[i]] : nullptr;
}

void ExtCaseMap::Erase(const uint8_t* fileRecord) {
  if (size_ == 0) return;
  const size_t mask = records_.size() - 1;
  size_t hole = Find(fileRecord);
  if (!records_[hole]) return;
  --size_;
  // Each later entry of the run that could sit in the hole moves back into
  // it, so that no probe meets an empty slot before its entry.
  for (size_t i = (hole + 1) & mask; records_[i]; i = (i + 1) & mask) {
    size_t home = Home(records_[i]);
    // Whether `home` lies cyclically in (hole, i]: then the entry stays.
    bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
    if (stays) continue;
    records_[hole] = records_[i];
    variantOf_[hole] = variantOf_[i];
    hole = i;
  }
  records_[hole] = nullptr;
}

void ExtCaseMap::Clear() {
  std::vector<const uint8_t*>().swap(records_);
  std::vector<uint32_t>().swap(variantOf_);
  size_ = 0;
  shift_ = 64;
  variants_.clear();
  variantIds_.clear();
}

void ExtCaseMap::Rehash(unsigned bits) {
  std::vector<const uint8_t*> records(size_t{1} << bits, nullptr);
  std::vector<uint32_t> variantOf(records.size(), 0);
  records.swap(records_);
  variantOf.swap(variantOf_);
  shift_ = 64 - bits;
  for (size_t j = 0; j < records.size(); ++j) {
    if (!records[j]) continue;
    size_t i = Find(records[j]);
    records_[i] = records[j];
    variantOf_[i] = variantOf[j];
  }
}
