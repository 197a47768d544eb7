#include "qvFolderMarks.h"

#include <algorithm>
#include <new>

#include "qvIndex.h"
#include "qvPackedName.h"

namespace {

// No real chain of folders is deeper than this; a longer one is a cycle,
// whose top is then taken for a root.
constexpr size_t kMaxDepth = 1 << 16;

size_t SlotOf(const uint8_t* folder, size_t mask) {
  uint64_t h = reinterpret_cast<uintptr_t>(folder) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h >> 32) & mask;
}

}  // namespace

uint32_t qvFolderMarks::Term::Step(uint32_t s, qvChar c) const {
  const uint32_t length = static_cast<uint32_t>(text.size());
  while (s > 0 && (s == length || text[s] != c)) s = border[s];
  if (s < length && text[s] == c) ++s;
  return s;
}

bool qvFolderMarks::Build(const qvIndex& index, const std::vector<qvString>& terms, bool matchCase) {
  try {
    matchCase_ = matchCase;
    terms_.clear();
    for (const qvString& text : terms) {
      if (terms_.size() == kMaxPathTerms) break;
      Term t;
      t.text = text;
      const size_t n = text.size();
      size_t slash = text.rfind(u'/');
      t.tail = slash == qvString::npos ? 0 : slash + 1;
      t.border.assign(n + 1, 0);
      for (size_t s = 2; s <= n; ++s) {
        uint32_t b = t.border[s - 1];
        while (b > 0 && text[b] != text[s - 1]) b = t.border[b];
        t.border[s] = text[b] == text[s - 1] ? b + 1 : 0;
      }
      t.endsWithHead.assign(n + 1, 0);
      for (size_t s = 0; s <= n; ++s)
        t.endsWithHead[s] = s == t.tail || (s > 0 && t.endsWithHead[t.border[s]]);
      terms_.push_back(std::move(t));
    }
    const size_t folders = index.folderList.Count();
    size_t size = 16;
    while (size < 2 * folders + 2) size <<= 1;
    table_.assign(size, Slot{nullptr, 0});
    mask_ = size - 1;
    marks_.clear();
    marks_.reserve(folders);
    states_.clear();
    states_.reserve(folders * terms_.size());
    index.folderList.ForEach([&](const uint8_t* folder) { Mark(index, folder); });
    index_ = &index;
    BuildDense(index);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

uint32_t qvFolderMarks::Entry(const uint8_t* folder) const {
  for (size_t i = SlotOf(folder, mask_);; i = (i + 1) & mask_) {
    if (table_[i].folder == folder) return table_[i].entry;
    if (!table_[i].folder) return UINT32_MAX;
  }
}

uint16_t qvFolderMarks::FindRef(RecordRef folder) const {
  const uint8_t* record = index_ ? index_->Resolve(folder) : nullptr;
  uint32_t e = record ? Entry(record) : UINT32_MAX;
  return e == UINT32_MAX ? 0 : marks_[e];
}

void qvFolderMarks::BuildDense(const qvIndex& index) {
  denseReady_ = false;
  dense_[0].clear();
  dense_[1].clear();
  if (terms_.size() > 3) return;  // the marks need more than a byte
  // Each block's first byte and ref, to find the ref of a record pointer.
  struct Block {
    const uint8_t* begin;
    RecordRef ref;
  };
  std::vector<Block> blocks;
  const CMemoryPool* pools[2] = {&index.recordPool, &index.secondPool};
  const RecordRef tags[2] = {qvIndex::kRecordPoolTag, qvIndex::kSecondPoolTag};
  for (int p = 0; p < 2; ++p) {
    size_t count = pools[p]->BlockCount();
    dense_[p].assign(count * CMemoryPool::kBlockSize / 8, 0);
    for (size_t b = 0; b < count; ++b)
      blocks.push_back({pools[p]->Block(b), tags[p] | static_cast<RecordRef>(b << 12)});
  }
  std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.begin < b.begin; });
  for (const Slot& slot : table_) {
    if (!slot.folder) continue;
    auto it = std::upper_bound(blocks.begin(), blocks.end(), slot.folder,
                               [](const uint8_t* f, const Block& b) { return f < b.begin; });
    if (it == blocks.begin()) continue;
    --it;
    size_t offset = static_cast<size_t>(slot.folder - it->begin);
    if (offset >= CMemoryPool::kBlockSize) continue;  // not a pool's record
    RecordRef ref = it->ref | static_cast<RecordRef>(offset);
    std::vector<uint8_t>& d = dense_[ref >> 31];
    size_t i = (ref & 0x7FFFFFFFu) >> 3;
    uint16_t m = marks_[slot.entry];
    if (i < d.size()) d[i] = static_cast<uint8_t>((m & 0x3F) | ((m & kHidden) ? 0x80 : 0) | 0x40);
  }
  denseReady_ = true;
}

void qvFolderMarks::Insert(const uint8_t* folder, uint32_t entry) {
  // A folder reached only as a parent (not in the folder list) can make
  // the table fuller than planned: grow before it fills.
  if (2 * (marks_.size() + 1) > table_.size()) {
    std::vector<Slot> old;
    old.swap(table_);
    table_.assign(old.size() * 2, Slot{nullptr, 0});
    mask_ = table_.size() - 1;
    for (const Slot& s : old)
      if (s.folder) Insert(s.folder, s.entry);
  }
  size_t i = SlotOf(folder, mask_);
  while (table_[i].folder) i = (i + 1) & mask_;
  table_[i] = {folder, entry};
}

uint32_t qvFolderMarks::Mark(const qvIndex& index, const uint8_t* folder) {
  chain_.clear();
  uint32_t known = UINT32_MAX;
  for (const uint8_t* f = folder; f && chain_.size() < kMaxDepth;) {
    uint32_t e = Entry(f);
    if (e != UINT32_MAX) {
      known = e;
      break;
    }
    chain_.push_back(f);
    f = index.Resolve(DirRecord::Parent(f));
  }
  const size_t termCount = terms_.size();
  for (size_t k = chain_.size(); k-- > 0;) {
    const uint8_t* f = chain_[k];
    size_t length = DirRecord::NameLength(f);
    units_.resize(length + 1);
    size_t n = matchCase_ ? PackedName::Decode(DirRecord::Name(f), length, units_.data(), units_.size())
                          : PackedName::DecodeLowerCase(DirRecord::Name(f), length, units_.data(), units_.size());
    const bool hasParent = known != UINT32_MAX;
    uint16_t bits = kKnown;
    if (hasParent && ((marks_[known] & kHidden) || (n > 0 && units_[0] == u'.'))) bits |= kHidden;
    const uint32_t entry = static_cast<uint32_t>(marks_.size());
    for (size_t i = 0; i < termCount; ++i) {
      const Term& t = terms_[i];
      uint32_t s = hasParent ? states_[known * termCount + i] : 0;
      bool holds = hasParent && (marks_[known] & Holds(i));
      for (size_t j = 0; j < n && !holds; ++j) holds = (s = t.Step(s, units_[j])) == t.text.size();
      if (!holds) holds = (s = t.Step(s, u'/')) == t.text.size();
      if (holds) bits |= Holds(i);
      else if (t.endsWithHead[s]) bits |= EndsWith(i);
      states_.push_back(s);
    }
    marks_.push_back(bits);
    Insert(f, entry);
    known = entry;
  }
  return known;
}

qvFolderMarks::Verdict qvFolderMarks::PathVerdict(uint16_t marks) const {
  Verdict v = Verdict::kPasses;
  for (size_t i = 0; i < terms_.size(); ++i) {
    if (marks & Holds(i)) continue;
    if (!(marks & EndsWith(i))) return Verdict::kFails;
    v = Verdict::kNeedsName;
  }
  return v;
}

bool qvFolderMarks::PathPasses(RecordRef parent, uint16_t bits, const qvChar* name, size_t length) const {
  if (terms_.empty()) return true;
  if (parent == kNullRef) {
    // A volume root: its path is its name and "/".
    for (const Term& t : terms_) {
      uint32_t s = 0;
      bool holds = false;
      for (size_t j = 0; j < length && !holds; ++j) holds = (s = t.Step(s, name[j])) == t.text.size();
      if (!holds && t.Step(s, u'/') != t.text.size()) return false;
    }
    return true;
  }
  for (size_t i = 0; i < terms_.size(); ++i) {
    if (bits & Holds(i)) continue;
    if (!(bits & EndsWith(i))) return false;
    const Term& t = terms_[i];
    size_t rest = t.text.size() - t.tail;
    if (rest > length) return false;
    for (size_t j = 0; j < rest; ++j)
      if (name[j] != t.text[t.tail + j]) return false;
  }
  return true;
}
