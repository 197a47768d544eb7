// Pinyin matching: a term typed in plain ASCII letters finds the names whose
// Chinese ideographs it spells, each ideograph by the first letters of one
// of its readings ("bg", "baog" and "baogao" all find 报告).
#pragma once

#include <emmintrin.h>

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "qvTypes.h"

// Readings of CJK ideographs, from the embedded table (its format and the
// choices behind it are described in tools/gen-pinyin-table.py). Readings
// are toneless lower-case syllables; ü is kept both as v and as u.
class qvPinyinTable {
 public:
  // The embedded table, checked once. Should the check fail it is empty:
  // no ideograph has a reading and pinyin finds nothing.
  static const qvPinyinTable& Get();

  // Reads a table in the generator's format; `data` must outlive the
  // table and be 8-byte aligned. A blob that fails any check of its
  // bounds and ids gives an empty table.
  qvPinyinTable(const void* data, size_t size);
  qvPinyinTable(const qvPinyinTable&) = delete;
  qvPinyinTable& operator=(const qvPinyinTable&) = delete;

  bool Valid() const { return valid_; }
  size_t IdeographCount() const { return valid_ ? entryCount_ : 0; }
  size_t SyllableCount() const { return spellings_.size(); }
  // The letters of syllable `id`, which must be below SyllableCount().
  std::string_view Syllable(uint16_t id) const {
    const Spelling& s = spellings_[id];
    return {s.letters, s.length};
  }

  // Syllable ids of code point cp (empty when not an ideograph with
  // readings), in ascending order.
  std::span<const uint16_t> Readings(char32_t cp) const {
    const uint16_t* list = ReadingList(cp);
    if (!list) return {};
    return {list + 1, list[0]};
  }

  // The letters of one syllable, at most seven.
  struct Spelling {
    uint8_t length;
    char letters[7];
  };
  const Spelling* Spellings() const { return spellings_.data(); }

  // For letter a..z: 65536 bits, bit cp set when code point cp of the
  // first plane has a reading that begins with that letter. Valid tables
  // only.
  static constexpr size_t kBmpWords = 0x10000 / 64;
  const uint64_t* BmpInitials(char letter) const { return initials_.get() + (letter - 'a') * kBmpWords; }

  // The readings of cp as a count followed by that many syllable ids, or
  // null when it has none. Inline: the matcher asks once per ideograph.
  const uint16_t* ReadingList(char32_t cp) const {
    if (cp < bmpSize_) {
      const uint16_t list = bmp_[cp];
      return list == 0 ? nullptr : pool_ + (list - 1);
    }
    const size_t t = cp >> 6;
    if (t >= topCount_) return nullptr;
    const uint16_t page = top_[t];
    if (page == kNoPage) return nullptr;
    const uint64_t bits = pageBits_[page];
    const uint64_t bit = uint64_t{1} << (cp & 63);
    if (!(bits & bit)) return nullptr;
    return pool_ + entries_[pageBase_[page] + std::popcount(bits & (bit - 1))];
  }

 private:
  static constexpr uint16_t kNoPage = 0xFFFF;
  static constexpr uint16_t kNoList = 0xFFFF;
  static constexpr size_t kBmpSize = 0x10000;

  bool Load(const unsigned char* data, size_t size);

  bool valid_ = false;
  size_t topCount_ = 0;  // 0 while the table is empty: every lookup misses
  size_t entryCount_ = 0;
  const uint64_t* pageBits_ = nullptr;
  const uint32_t* pageBase_ = nullptr;
  const uint16_t* top_ = nullptr;
  const uint16_t* entries_ = nullptr;
  const uint16_t* pool_ = nullptr;
  std::vector<Spelling> spellings_;
  // The first plane unpacked, where nearly all names' ideographs lie: the
  // reading list of each code point plus one, or 0. Both arrays come
  // zeroed from calloc, so that a page no ideograph lies in is never
  // written: a process that asks for a few readings touches few pages.
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  size_t bmpSize_ = 0;  // kBmpSize once the table is valid
  std::unique_ptr<uint16_t[], Free> bmp_;
  std::unique_ptr<uint64_t[], Free> initials_;
};

// One query term matched against names by pinyin.
//
// Matching runs the term's positions as a set of bits over the name (the
// shift-and method): bit i says the term's first i+1 units end at the
// current unit. An ASCII unit moves every position whose next term unit
// it equals; an ideograph moves each position along every prefix of each
// of its readings that the term spells from there.
class qvPinyinTerm {
 public:
  // The longest term handled; query terms hold at most 1023 units.
  static constexpr size_t kMaxLength = 1024;

  // With the embedded table, built only when a test first needs it: an
  // answer that meets no name with wide units never builds it.
  qvPinyinTerm() : table_(nullptr) {}
  explicit qvPinyinTerm(const qvPinyinTable& table) : table_(&table) {}
  qvPinyinTerm(const qvPinyinTerm&) = delete;
  qvPinyinTerm& operator=(const qvPinyinTerm&) = delete;

  // term: folded units (ASCII lower-case). False when the term cannot match
  // by pinyin (it holds no ASCII letter, or holds a non-ASCII unit, or is
  // longer than kMaxLength): the caller then uses the plain test alone.
  // Units other than letters ("?" and "*" included) stand for themselves.
  bool Set(const qvChar* term, size_t n);
  size_t Length() const { return length_; }

  // True when some run of the name (folded UTF-16 units, lone surrogates
  // possible: they match only themselves) matches the term: each CJK
  // ideograph of the run by any non-empty prefix of one of its readings,
  // every other unit by itself (ASCII compared after folding). So bg, baog,
  // baogao, bgao find 报告; 2024nbg finds 2024年报告; 行 is found by xing and
  // hang. Safe to call from several threads at once; allocates nothing.
  bool Matches(const qvChar* name, size_t n) const;

  // The same test run on a name as the index packs it (see qvPackedName.h),
  // without decoding it first. kOpen: no match, but the name's last units
  // leave the term part-way spelled, so text after them (a file's
  // extension) may complete it. Terms longer than 64 units get only the
  // quick look below: kMaybe when it cannot rule the name out.
  enum class Packed { kNo, kMatch, kOpen, kMaybe };
  Packed MatchPacked(const uint8_t* bytes, size_t length) const;

  // Whether a name as the index packs it holds an ideograph that can be
  // the first one of a pinyin match: one with a reading that begins with
  // the term's first letter, or one right after an ASCII unit that equals
  // a unit of the term whose next unit begins one of its readings (or a
  // surrogate, not looked into). Without one, the term matches the name
  // only as typed. `record` is the first byte of the record that holds the
  // name: a window of sixteen bytes that ends at the name's end may reach
  // back into it. Inline: the scan asks it of every wide name.
  bool HoldsOpenerPacked(const uint8_t* record, const uint8_t* bytes, size_t length) const {
    if (!ready_.load(std::memory_order_acquire)) [[unlikely]] {
      if (!MayHoldIdeograph(bytes, length)) return false;  // the table is not needed yet
      MakeReady();
    }
    const uint8_t* const end = bytes + length;
    if (end - record < 16 || bytes == record) return HoldsOpenerScalar(bytes, length);
    // Every marker byte is looked at, wherever it stands, with the byte
    // before it (the record's last header byte for the first unit): a
    // marker that is part of a unit (0x81 is a possible byte of one) reads
    // two bytes as a unit that is none, and a byte before a real marker is
    // an ASCII unit only if it is below 128, else the last byte of a wide
    // unit, whose block holds block 0. A wrong guess can say yes, never
    // no. Surrogates are in every block.
    if (length > 32) return HoldsOpenerLong(bytes, length);
    if (length < 3) return false;  // no whole wide unit
    // Bit i: byte i of the name is a marker. Both windows are read either
    // way, without a branch: the first sixteen bytes (or, for a shorter
    // name, the sixteen that end with it, reaching back into the record's
    // header), and the last sixteen.
    const bool two = length >= 16;
    const uint8_t* first = two ? bytes : end - 16;
    const uint32_t last = Markers(end - 16) << ((length - 16) & 31);
    uint32_t bits = Markers(first) >> (bytes - first);
    bits |= two ? last : 0;
    bits &= (1u << (length - 2)) - 1;  // positions with a whole unit after them
    // Four markers are looked at without a branch (one with no marker left
    // reads the first unit's place and counts for nothing), then any more.
    uint64_t found = 0;
    auto look = [&] {
      const uint64_t word = StartsAt(bytes + (bits ? __builtin_ctz(bits) : 0));
      found |= bits ? word : 0;
      bits &= bits - 1;
    };
    look();
    look();
    look();
    look();
    while (bits) look();
    return found & 1;
  }

  // A quick look at a name as the index packs it (see qvPackedName.h):
  // false when no unit of it can open a reading the term spells (no
  // ideograph with a reading that begins with a letter of the term, no
  // surrogate), so Matches could only find the term as typed.
  bool MayOpenPacked(const uint8_t* bytes, size_t length) const;
  // Every code point of the first plane with a reading lies in this range
  // (a test holds the table to it): a name with no unit in it and none
  // beyond the first plane holds no ideograph, and needs no table.
  static constexpr qvChar kFirstIdeograph = 0x3400, kLastIdeograph = 0xFAFF;
  static bool MayHoldIdeograph(const uint8_t* bytes, size_t length);

  // The term's first unit, folded, and the same when it is a letter a..z
  // (else 0): what MayOpenPacked looks for first. Neither needs the table.
  qvChar First() const { return first_; }
  char FirstLetter() const { return first_ >= u'a' && first_ <= u'z' ? static_cast<char>(first_) : 0; }

 private:
  static constexpr size_t kMaxWords = kMaxLength / 64;

  // The parts of the term that need the readings table, made at the first
  // test that needs them (on whichever thread asks first; Set starts over).
  void Ready() const {
    if (!ready_.load(std::memory_order_acquire)) [[unlikely]]
      MakeReady();
  }
  void MakeReady() const;
  void SetStarts(const qvChar* term, size_t n) const;
  // HoldsOpenerPacked unit by unit, for names too near their record's start.
  bool HoldsOpenerScalar(const uint8_t* bytes, size_t length) const;
  // The same sixteen bytes at a time, for names longer than 32 bytes.
  bool HoldsOpenerLong(const uint8_t* bytes, size_t length) const;
  // Bit i: byte w[i] is the wide-unit marker.
  static uint32_t Markers(const uint8_t* w) {
    const __m128i marker = _mm_set1_epi8(static_cast<char>(0x81));
    return static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)), marker)));
  }
  // For the marker at m: bit 0 says the unit after it can begin the match
  // after the byte before it.
  uint64_t StartsAt(const uint8_t* m) const {
    const unsigned u = m[1] | (m[2] << 8);
    return starts_[startsAfter_[m[-1]] + (u >> 6)] >> (u & 63);
  }
  bool MatchesShort(const qvChar* name, size_t n) const;
  // Positions `d` moved along every prefix of each reading in `list`.
  uint64_t ReadOn(uint64_t d, const uint16_t* list) const;
  bool MatchesLong(const qvChar* name, size_t n) const;

  mutable std::mutex readyLock_;
  mutable std::atomic<bool> ready_{false};
  std::vector<qvChar> term_;  // as Set was given it, for MakeReady
  // Written by MakeReady, before ready_ is set, and read only after: the
  // table (the embedded one when none was given), openers_, starts_,
  // startsAfter_ and firstLetter_.
  mutable const qvPinyinTable* table_;
  size_t length_ = 0;
  size_t words_ = 0;  // 64-bit words of a position set
  // For each ASCII unit c, words_ words: bit i set when term[i] == c
  // (upper-case letters share their lower-case masks).
  std::vector<uint64_t> masks_;
  // The first plane's ideographs with a reading that begins with a letter
  // of the term, one bit each: any other leaves no position standing, and
  // most ideographs of a name are such, so they are told apart with one
  // look into these 8 KB.
  mutable std::vector<uint64_t> openers_;
  // Blocks of kBmpWords words, one bit per ideograph of the first plane:
  // block 0 holds those with a reading that begins with the term's first
  // letter; the block of an ASCII unit c adds those with a reading that
  // begins with a letter the term has right after c. startsAfter_[c] is
  // the word offset of c's block (upper case shares lower case's; bytes
  // of 128 and more have block 0). Every block holds the surrogates: they
  // are not looked into, and may open anything.
  mutable std::vector<uint64_t> starts_;
  mutable uint32_t startsAfter_[256] = {};
  qvChar first_ = 0;              // the term's first unit, folded
  mutable char firstLetter_ = 0;  // the same when it is a letter a..z and the table valid, else 0
};
