#include "qvExtTable.h"

#include <cstring>

#include "qvPackedName.h"

namespace {

const qvChar kBuiltins[4][4] = {u"cur", u"exe", u"ico", u"lnk"};

// Code-unit order; a text sorts before any longer text it begins.
int CompareText(const qvChar* a, size_t an, const qvChar* b, size_t bn) {
  size_t n = an < bn ? an : bn;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return an < bn ? -1 : an > bn ? 1 : 0;
}

}  // namespace

ExtTable::ExtTable(qvHeap& heap) : heap_(heap) { Grow(kInitialCapacity); }

ExtTable::~ExtTable() {
  FreeTexts();
  heap_.Free(icons_, capacity_ * sizeof(int32_t));
  heap_.Free(texts_, capacity_ * sizeof(qvChar*));
  heap_.Free(textBytes_, capacity_ * sizeof(size_t));
  heap_.Free(sorted_, capacity_ * sizeof(SortedEntry));
}

bool ExtTable::Grow(uint32_t capacity) {
  size_t c1 = capacity_, c2 = capacity_, c3 = capacity_, c4 = capacity_;
  bool ok = qvGrowArray(heap_, icons_, c1, capacity) && qvGrowArray(heap_, texts_, c2, capacity) &&
            qvGrowArray(heap_, textBytes_, c3, capacity) && qvGrowArray(heap_, sorted_, c4, capacity);
  if (!ok) return false;
  capacity_ = capacity;
  return true;
}

void ExtTable::FreeTexts() {
  for (uint32_t id = 0; id < count_; ++id) {
    if (textBytes_[id]) heap_.Free(texts_[id], textBytes_[id]);
    texts_[id] = nullptr;
    textBytes_[id] = 0;
  }
  count_ = 0;
}

void ExtTable::Reset() {
  FreeTexts();
  for (uint32_t id = 0; id < 4; ++id) {
    texts_[id] = const_cast<qvChar*>(kBuiltins[id]);
    textBytes_[id] = 0;
    icons_[id] = kOwnIcon;
    sorted_[id] = {texts_[id], id};  // already in text order
  }
  count_ = 4;
  builtinsStatic_ = true;
}

int64_t ExtTable::Find(const qvChar* units, size_t length) const {
  uint32_t lo = 0, hi = count_;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    const qvChar* t = sorted_[mid].text;
    if (CompareText(t, qvStrLen(t), units, length) < 0) lo = mid + 1;
    else hi = mid;
  }
  if (lo < count_) {
    const qvChar* t = sorted_[lo].text;
    if (CompareText(t, qvStrLen(t), units, length) == 0) return sorted_[lo].id;
  }
  return -1;
}

uint32_t ExtTable::FindOrAdd(qvChar* units, size_t length) {
  for (size_t i = 0; i < length; ++i) units[i] = qvFoldUnit(units[i]);
  uint32_t lo = 0, hi = count_;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    const qvChar* t = sorted_[mid].text;
    if (CompareText(t, qvStrLen(t), units, length) < 0) lo = mid + 1;
    else hi = mid;
  }
  if (lo < count_) {
    const qvChar* t = sorted_[lo].text;
    if (CompareText(t, qvStrLen(t), units, length) == 0) return sorted_[lo].id;
  }
  if (count_ == capacity_ && !Grow(capacity_ + kGrowth)) return UINT32_MAX;
  size_t bytes = (length + 1) * sizeof(qvChar);
  auto* copy = static_cast<qvChar*>(heap_.Alloc(bytes));
  if (!copy) return UINT32_MAX;
  std::memcpy(copy, units, length * sizeof(qvChar));
  uint32_t id = count_++;
  texts_[id] = copy;
  textBytes_[id] = bytes;
  icons_[id] = kIconUnknown;
  std::memmove(sorted_ + lo + 1, sorted_ + lo, (id - lo) * sizeof(SortedEntry));
  sorted_[lo] = {copy, id};
  return id;
}

int ExtTable::Compare(uint32_t a, uint32_t b) const {
  if (a == b) return 0;
  const qvChar* ta = Text(a);
  const qvChar* tb = Text(b);
  if (!ta || !tb) return ta ? 1 : tb ? -1 : 0;
  return CompareText(ta, qvStrLen(ta), tb, qvStrLen(tb));
}

bool ExtTable::BeginLoad(uint32_t count) {
  FreeTexts();
  builtinsStatic_ = false;
  if (count >= capacity_ && !Grow(count + kGrowth)) return false;
  for (uint32_t k = 0; k < capacity_; ++k) {
    texts_[k] = nullptr;
    icons_[k] = kIconUnknown;
  }
  count_ = count;
  return true;
}

bool ExtTable::SetEntry(uint32_t k, uint32_t id, int32_t icon, const qvChar* text, size_t length) {
  if (k >= count_ || id >= count_ || texts_[id]) return false;
  size_t bytes = (length + 1) * sizeof(qvChar);
  auto* copy = static_cast<qvChar*>(heap_.Alloc(bytes));
  if (!copy) return false;
  std::memcpy(copy, text, length * sizeof(qvChar));
  texts_[id] = copy;
  textBytes_[id] = bytes;
  icons_[id] = icon;
  sorted_[k] = {copy, id};
  return true;
}

size_t ExtTable::BytesAllocated() const {
  size_t n = capacity_ * (sizeof(int32_t) + sizeof(qvChar*) + sizeof(size_t) + sizeof(SortedEntry));
  for (uint32_t id = 0; id < count_; ++id) n += textBytes_[id];
  return n;
}

long qvFindExtensionDot(const qvChar* name, size_t length) {
  for (size_t i = length; i-- > 0;) {
    if (name[i] == u'.' || name[i] == u' ') return (i >= 1 && name[i] == u'.') ? static_cast<long>(i) : -1;
  }
  return -1;
}
