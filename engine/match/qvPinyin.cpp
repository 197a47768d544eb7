#include "qvPinyin.h"

#include <algorithm>
#include <cstring>

#include "qvPackedName.h"
#include "qvResource.h"

// The table's arrays are read in place as little-endian numbers.
static_assert(std::endian::native == std::endian::little, "the pinyin table is read in place");

namespace {

constexpr size_t kHeaderSize = 32;
constexpr uint16_t kVersion = 1;
constexpr size_t kPage = 64;
constexpr size_t kCodePoints = 0x110000;

uint16_t LoadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t LoadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Align8(uint64_t n) { return (n + 7) & ~uint64_t{7}; }

bool IsHighSurrogate(qvChar u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(qvChar u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The code point at name[*i], moving *i to the last unit it spans. A
// surrogate without its partner stays itself: no reading covers it.
inline bool IsSurrogate(qvChar u) { return u >= 0xD800 && u <= 0xDFFF; }

inline bool Marked(const uint64_t* bits, qvChar u) { return bits[u >> 6] >> (u & 63) & 1; }

// No code point of the first plane marked.
constexpr uint64_t kNoIdeographs[0x10000 / 64] = {};

inline char32_t CodePointAt(const qvChar* name, size_t n, size_t* i) {
  const qvChar u = name[*i];
  if (IsHighSurrogate(u) && *i + 1 < n && IsLowSurrogate(name[*i + 1])) {
    const qvChar low = name[++*i];
    return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00);
  }
  return u;
}

}  // namespace

// --- the table -----------------------------------------------------------------

const qvPinyinTable& qvPinyinTable::Get() {
  struct Blob {
    const void* data = nullptr;
    size_t size = 0;
    Blob() { data = qvFindResource("PINYIN", QV_RESOURCE_PINYIN, &size); }
  };
  static const Blob blob;
  static const qvPinyinTable table(blob.data, blob.size);
  return table;
}

qvPinyinTable::qvPinyinTable(const void* data, size_t size) {
  valid_ = Load(static_cast<const unsigned char*>(data), size);
  if (!valid_) {
    topCount_ = 0;
    entryCount_ = 0;
    spellings_.clear();
  }
}

bool qvPinyinTable::Load(const unsigned char* data, size_t size) {
  if (!data || size < kHeaderSize || reinterpret_cast<uintptr_t>(data) % 8 != 0) return false;
  if (std::memcmp(data, "QVPY", 4) != 0 || LoadU16(data + 4) != kVersion) return false;
  const size_t syllables = LoadU16(data + 6);
  const uint64_t topCount = LoadU32(data + 8);
  const uint64_t pages = LoadU32(data + 12);
  const uint64_t entries = LoadU32(data + 16);
  const uint64_t poolWords = LoadU32(data + 20);
  const uint64_t nameBytes = LoadU32(data + 24);
  // Pool offsets are 16 bits and never kNoList.
  if (syllables == 0 || topCount > kCodePoints / kPage || pages >= kNoPage || poolWords >= kNoList)
    return false;

  // Each array starts on the next 8-byte boundary after the one before.
  uint64_t at = kHeaderSize;
  auto take = [&at](uint64_t bytes) {
    const uint64_t begin = at;
    at = Align8(at + bytes);
    return begin;
  };
  const uint64_t bitsAt = take(pages * 8);
  const uint64_t baseAt = take(pages * 4);
  const uint64_t topAt = take(topCount * 2);
  const uint64_t entriesAt = take(entries * 2);
  const uint64_t poolAt = take(poolWords * 2);
  const uint64_t namesAt = take(nameBytes);
  if (namesAt + nameBytes > size) return false;

  // Syllables: a length byte and that many letters each.
  const unsigned char* names = data + namesAt;
  uint64_t pos = 0;
  spellings_.clear();
  spellings_.reserve(syllables);
  for (size_t id = 0; id < syllables; ++id) {
    if (pos >= nameBytes) return false;
    Spelling s{};
    s.length = names[pos++];
    if (s.length == 0 || s.length > sizeof s.letters || pos + s.length > nameBytes) return false;
    for (size_t k = 0; k < s.length; ++k) {
      const unsigned char c = names[pos++];
      if (c < 'a' || c > 'z') return false;
      s.letters[k] = static_cast<char>(c);
    }
    spellings_.push_back(s);
  }

  const auto* top = reinterpret_cast<const uint16_t*>(data + topAt);
  for (uint64_t t = 0; t < topCount; ++t)
    if (top[t] != kNoPage && top[t] >= pages) return false;
  const auto* bits = reinterpret_cast<const uint64_t*>(data + bitsAt);
  const auto* base = reinterpret_cast<const uint32_t*>(data + baseAt);
  for (uint64_t p = 0; p < pages; ++p)
    if (static_cast<uint64_t>(base[p]) + std::popcount(bits[p]) > entries) return false;

  // The pool is reading lists of known syllables one after another, each
  // checked once here, and every entry names the start of one. (Ideographs
  // of the same readings share a list: the pool is much the shorter.)
  const auto* entry = reinterpret_cast<const uint16_t*>(data + entriesAt);
  const auto* pool = reinterpret_cast<const uint16_t*>(data + poolAt);
  std::vector<uint64_t> listStarts((poolWords + 63) / 64, 0);
  for (uint64_t list = 0; list < poolWords; list += 1 + pool[list]) {
    if (pool[list] == 0 || list + 1 + pool[list] > poolWords) return false;
    for (uint64_t k = 1; k <= pool[list]; ++k)
      if (pool[list + k] >= syllables) return false;
    listStarts[list / 64] |= uint64_t{1} << (list % 64);
  }
  for (uint64_t e = 0; e < entries; ++e)
    if (entry[e] >= poolWords || !(listStarts[entry[e] / 64] >> (entry[e] % 64) & 1)) return false;

  pageBits_ = bits;
  pageBase_ = base;
  top_ = top;
  entries_ = entry;
  pool_ = pool;
  topCount_ = topCount;
  entryCount_ = entries;
  bmp_.reset(static_cast<uint16_t*>(std::calloc(kBmpSize, sizeof(uint16_t))));
  initials_.reset(static_cast<uint64_t*>(std::calloc(26 * kBmpWords, sizeof(uint64_t))));
  if (!bmp_ || !initials_) return false;
  for (char32_t cp = 0; cp < kBmpSize && (cp >> 6) < topCount; cp += kPage) {
    const uint16_t page = top[cp >> 6];
    if (page == kNoPage) continue;
    // The page's entries follow one another in the order of its bits.
    const uint16_t* next = entry + base[page];
    for (uint64_t left = bits[page]; left; left &= left - 1) {
      const unsigned k = static_cast<unsigned>(std::countr_zero(left));
      const uint16_t list = *next++;
      bmp_[cp + k] = static_cast<uint16_t>(list + 1);  // below kNoList, so no wrap
      for (const uint16_t* r = pool + list + 1, *rEnd = r + pool[list]; r < rEnd; ++r)
        initials_[(spellings_[*r].letters[0] - 'a') * kBmpWords + (cp >> 6)] |= uint64_t{1} << k;
    }
  }
  bmpSize_ = kBmpSize;
  return true;
}

// --- the term ------------------------------------------------------------------

bool qvPinyinTerm::Set(const qvChar* term, size_t n) {
  ready_.store(false, std::memory_order_relaxed);
  length_ = 0;
  words_ = 0;
  if (!term || n == 0 || n > kMaxLength) return false;
  bool letter = false;
  for (size_t i = 0; i < n; ++i) {
    if (term[i] >= 128) return false;
    const qvChar c = qvFoldUnit(term[i]);
    if (c >= u'a' && c <= u'z') letter = true;
  }
  if (!letter) return false;

  words_ = (n + 63) / 64;
  masks_.assign(128 * words_, 0);
  for (size_t i = 0; i < n; ++i)
    masks_[qvFoldUnit(term[i]) * words_ + i / 64] |= uint64_t{1} << (i % 64);
  for (qvChar c = u'A'; c <= u'Z'; ++c)
    for (size_t k = 0; k < words_; ++k) masks_[c * words_ + k] = masks_[qvFoldUnit(c) * words_ + k];
  length_ = n;
  first_ = qvFoldUnit(term[0]);
  term_.assign(term, term + n);
  return true;
}

void qvPinyinTerm::MakeReady() const {
  std::lock_guard<std::mutex> guard(readyLock_);
  if (ready_.load(std::memory_order_relaxed)) return;
  if (!table_) table_ = &qvPinyinTable::Get();
  bool letters[26] = {};
  for (const qvChar unit : term_) {
    const qvChar c = qvFoldUnit(unit);
    if (c >= u'a' && c <= u'z') letters[c - u'a'] = true;
  }
  openers_.assign(qvPinyinTable::kBmpWords, 0);
  for (size_t l = 0; l < 26; ++l) {
    if (!letters[l] || !table_->Valid()) continue;
    const uint64_t* initials = table_->BmpInitials(static_cast<char>('a' + l));
    for (size_t k = 0; k < qvPinyinTable::kBmpWords; ++k) openers_[k] |= initials[k];
  }
  firstLetter_ = first_ >= u'a' && first_ <= u'z' && table_->Valid() ? static_cast<char>(first_) : 0;
  SetStarts(term_.data(), term_.size());
  ready_.store(true, std::memory_order_release);
}

bool qvPinyinTerm::HoldsOpenerScalar(const uint8_t* bytes, size_t length) const {
  const uint64_t* const starts = starts_.data();
  // The ideographs that can begin the match where the walk stands.
  const uint64_t* open = starts;
  for (size_t i = 0; i < length;) {
    if (bytes[i] < 0x80) {
      open = starts + startsAfter_[bytes[i++]];
      continue;
    }
    if (i + 3 > length) break;
    const qvChar u = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
    i += 3;
    if (Marked(open, u)) return true;
    open = starts;
  }
  return false;
}

bool qvPinyinTerm::HoldsOpenerLong(const uint8_t* bytes, size_t length) const {
  const uint8_t* const end = bytes + length;
  uint64_t found = 0;
  for (const uint8_t* q = bytes; q + 2 < end; q += 16) {
    const uint8_t* w = q + 16 <= end ? q : end - 16;
    uint32_t bits = Markers(w);
    // Positions from q on (those before were looked at) that have a whole
    // unit after them.
    bits &= ~((1u << (q - w)) - 1);
    if (end - w < 18) bits &= (1u << (end - w - 2)) - 1;
    for (; bits; bits &= bits - 1) found |= StartsAt(w + __builtin_ctz(bits));
    if (found & 1) return true;
  }
  return false;
}

// The first ideograph of a match begins the term, or follows the units
// before it in the term, which are ASCII and matched as typed: the last of
// them stands right before the ideograph in the name.
void qvPinyinTerm::SetStarts(const qvChar* term, size_t n) const {
  constexpr size_t kWords = qvPinyinTable::kBmpWords;
  starts_.assign(kWords, 0);
  if (firstLetter_) {
    const uint64_t* initials = table_->BmpInitials(firstLetter_);
    std::copy(initials, initials + kWords, starts_.begin());
  }
  for (uint32_t& offset : startsAfter_) offset = 0;
  for (size_t i = 1; i < n && table_->Valid(); ++i) {
    const qvChar next = qvFoldUnit(term[i]);
    if (next < u'a' || next > u'z') continue;
    const qvChar before = qvFoldUnit(term[i - 1]);
    if (startsAfter_[before] == 0) {
      startsAfter_[before] = static_cast<uint32_t>(starts_.size());
      starts_.resize(starts_.size() + kWords);
      std::copy_n(starts_.begin(), kWords, starts_.begin() + startsAfter_[before]);
    }
    uint64_t* block = &starts_[startsAfter_[before]];
    const uint64_t* initials = table_->BmpInitials(static_cast<char>(next));
    for (size_t k = 0; k < kWords; ++k) block[k] |= initials[k];
  }
  for (qvChar c = u'A'; c <= u'Z'; ++c) startsAfter_[c] = startsAfter_[qvFoldUnit(c)];
  for (size_t k = 0xD800 / 64; k < 0xE000 / 64; ++k)
    for (size_t b = 0; b < starts_.size(); b += kWords) starts_[b + k] = ~uint64_t{0};
}

// Units read as MayOpenPacked reads them: whatever that finds, this finds
// a unit of it.
bool qvPinyinTerm::MayHoldIdeograph(const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i + 2 < length; ++i) {
    if (bytes[i] != 0x81) continue;  // an ASCII unit
    const qvChar u = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
    if ((u >= kFirstIdeograph && u <= kLastIdeograph) || IsSurrogate(u)) return true;
    i += 2;
  }
  return false;
}

// A match holds an ideograph that opens a reading with some letter of the
// term, and begins with a unit that takes the term's first character: that
// character itself, or an ideograph with a reading that begins with it.
bool qvPinyinTerm::MayOpenPacked(const uint8_t* bytes, size_t length) const {
  if (length_ == 0) return false;
  if (!ready_.load(std::memory_order_acquire)) {
    if (!MayHoldIdeograph(bytes, length)) return false;  // the table is not needed yet
    MakeReady();
  }
  const uint64_t* openers = openers_.data();
  const uint64_t* firsts = firstLetter_ ? table_->BmpInitials(firstLetter_) : nullptr;
  bool opener = false, first = false;
  for (size_t i = 0; i < length && !(opener && first); ++i) {
    const uint8_t b = bytes[i];
    if (b != 0x81) {  // not the wide-unit marker: an ASCII unit
      first |= qvFoldUnit(b) == first_;
      continue;
    }
    if (i + 2 >= length) break;
    const qvChar u = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
    i += 2;
    if (IsSurrogate(u)) return true;  // beyond the first plane: not looked into
    if (Marked(openers, u)) {
      opener = true;
      first |= firsts && Marked(firsts, u);
    }
  }
  return opener && first;
}

bool qvPinyinTerm::Matches(const qvChar* name, size_t n) const {
  if (length_ == 0 || !name || n == 0) return false;
  Ready();
  return words_ == 1 ? MatchesShort(name, n) : MatchesLong(name, n);
}

// One word of positions. Per unit: `d` shifted by one, with the start of a
// new run at bit 0, says where the term stands before this unit.
bool qvPinyinTerm::MatchesShort(const qvChar* name, size_t n) const {
  const uint64_t* mask = masks_.data();
  const uint64_t* openers = openers_.data();
  const uint64_t accept = uint64_t{1} << (length_ - 1);
  uint64_t d = 0;
  for (size_t i = 0; i < n; ++i) {
    const qvChar u = name[i];
    if (u < 128) {
      d = ((d << 1) | 1) & mask[u];
    } else {
      if (!IsSurrogate(u) && !Marked(openers, u)) {
        d = 0;
        continue;
      }
      const uint16_t* list = table_->ReadingList(CodePointAt(name, n, &i));
      if (!list) {
        d = 0;  // a unit the ASCII term cannot hold
        continue;
      }
      d = ReadOn(d, list);
    }
    if (d & accept) return true;
  }
  return false;
}

uint64_t qvPinyinTerm::ReadOn(uint64_t d, const uint16_t* list) const {
  const uint64_t* mask = masks_.data();
  const qvPinyinTable::Spelling* spellings = table_->Spellings();
  const uint64_t start = (d << 1) | 1;
  uint64_t next = 0;
  for (uint16_t r = 1; r <= list[0]; ++r) {
    const qvPinyinTable::Spelling& s = spellings[list[r]];
    uint64_t x = start;
    for (size_t k = 0; k < s.length; ++k) {
      x &= mask[static_cast<unsigned char>(s.letters[k])];
      if (!x) break;
      next |= x;  // the reading's first k+1 letters end here
      x <<= 1;
    }
  }
  return next;
}

// MatchesShort's steps over the packed bytes: a wide unit is read where
// it stands (the decoder stops at a cut one, and so does this), ASCII
// bytes index the masks directly (upper case shares lower case's masks).
qvPinyinTerm::Packed qvPinyinTerm::MatchPacked(const uint8_t* bytes, size_t length) const {
  if (length_ == 0) return Packed::kNo;
  Ready();
  if (words_ != 1) return MayOpenPacked(bytes, length) ? Packed::kMaybe : Packed::kNo;
  const uint64_t* mask = masks_.data();
  const uint64_t* openers = openers_.data();
  // With no position standing, only an ideograph that can begin the term
  // changes anything; most are not such, and are passed over unread.
  const uint64_t* firsts = firstLetter_ ? table_->BmpInitials(firstLetter_) : nullptr;
  const uint64_t accept = uint64_t{1} << (length_ - 1);
  uint64_t d = 0;
  for (size_t i = 0; i < length;) {
    const uint8_t b = bytes[i];
    if (!(b & 0x80)) {
      d = ((d << 1) | 1) & mask[b];
      ++i;
    } else {
      if (i + 3 > length) break;
      const qvChar u = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
      i += 3;
      if (u < 128) {
        d = ((d << 1) | 1) & mask[u];
      } else if (!IsSurrogate(u) && !Marked(d ? openers : firsts ? firsts : kNoIdeographs, u)) {
        d = 0;
        continue;
      } else {
        char32_t cp = u;
        if (IsHighSurrogate(u) && i + 3 <= length && (bytes[i] & 0x80)) {
          const qvChar low = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
          if (IsLowSurrogate(low)) {
            cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00);
            i += 3;
          }
        }
        const uint16_t* list = table_->ReadingList(cp);
        d = list ? ReadOn(d, list) : 0;
      }
    }
    if (d & accept) return Packed::kMatch;
  }
  return d ? Packed::kOpen : Packed::kNo;
}

// The same over words_ words, for terms longer than 64 units.
bool qvPinyinTerm::MatchesLong(const qvChar* name, size_t n) const {
  const size_t w = words_;
  const qvPinyinTable::Spelling* spellings = table_->Spellings();
  const size_t acceptWord = (length_ - 1) / 64;
  const uint64_t accept = uint64_t{1} << ((length_ - 1) % 64);
  uint64_t d[kMaxWords] = {};
  uint64_t start[kMaxWords];
  uint64_t next[kMaxWords];
  uint64_t x[kMaxWords];
  for (size_t i = 0; i < n; ++i) {
    const qvChar u = name[i];
    if (u < 128) {
      const uint64_t* mask = &masks_[u * w];
      uint64_t carry = 1;
      for (size_t k = 0; k < w; ++k) {
        const uint64_t v = d[k];
        d[k] = ((v << 1) | carry) & mask[k];
        carry = v >> 63;
      }
    } else {
      const uint16_t* list =
          IsSurrogate(u) || Marked(openers_.data(), u) ? table_->ReadingList(CodePointAt(name, n, &i)) : nullptr;
      if (!list) {
        for (size_t k = 0; k < w; ++k) d[k] = 0;
        continue;
      }
      uint64_t carry = 1;
      for (size_t k = 0; k < w; ++k) {
        start[k] = (d[k] << 1) | carry;
        carry = d[k] >> 63;
        next[k] = 0;
      }
      for (uint16_t r = 1; r <= list[0]; ++r) {
        const qvPinyinTable::Spelling& s = spellings[list[r]];
        for (size_t k = 0; k < w; ++k) x[k] = start[k];
        for (size_t l = 0; l < s.length; ++l) {
          const uint64_t* mask = &masks_[static_cast<unsigned char>(s.letters[l]) * w];
          uint64_t any = 0;
          for (size_t k = 0; k < w; ++k) {
            x[k] &= mask[k];
            any |= x[k];
            next[k] |= x[k];
          }
          if (!any) break;
          carry = 0;
          for (size_t k = 0; k < w; ++k) {
            const uint64_t v = x[k];
            x[k] = (v << 1) | carry;
            carry = v >> 63;
          }
        }
      }
      for (size_t k = 0; k < w; ++k) d[k] = next[k];
    }
    if (d[acceptWord] & accept) return true;
  }
  return false;
}
