// Finds one folded ASCII term in PackedName bytes, sixteen start positions
// at a time: candidates are the positions where the term's first one to
// three bytes (its lead) occur in either case, each then compared in full.
//
// On a name without wide units this is the exact substring test. On a
// name with wide units the bytes of a unit can look like ASCII, so a find
// there only says the name may hold the term.
//
// Find and FindWith never read outside the record: a window ends at the
// end of the name at the latest and may reach back into the record's
// header, never before its first byte (FindInPool, for records in a pool,
// may). Find runs once per name of every scan, so it is inline; the hot
// scans call FindWith or FindInPool with the lead fixed, which keeps the
// loop free of tests on the term.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "qvTypes.h"

class qvAsciiTermFinder {
 public:
  // The term's units must lie in 1..127 and be folded; length at least 1.
  void Set(const qvChar* term, size_t length);
  size_t Length() const { return length_; }
  // How many of the term's first bytes each window compares: 1 to 3.
  int Lead() const { return lead_; }

  // Whether name[0..length) holds the term; `record` is the first byte of
  // the record that holds the name.
  bool Find(const uint8_t* record, const uint8_t* name, size_t length) const {
    switch (lead_) {
      case 1:
        return FindWith<1>(record, name, length);
      case 2:
        return FindWith<2>(record, name, length);
      default:
        return FindWith<3>(record, name, length);
    }
  }

  // Bytes before a record that FindInPool may read: a record pool keeps
  // at least this many readable bytes before each of its records.
  static constexpr size_t kPoolReadBehind = 34;

  // FindWith for a name whose record lies in a record pool, on a processor
  // with 32-byte vectors (see HasWideVectors): one window of 32 start
  // positions ends at the name's end and reaches back before the record
  // as far as it must. Names of up to 31 + kLead bytes, all but a few,
  // take no branch on their length or their record's size; the positions
  // before the name are masked off.
  template <int kLead>
  [[gnu::target("avx2")]] bool FindInPool(const uint8_t* record, const uint8_t* name, size_t length) const {
    constexpr size_t kReach = 31 + kLead;
    static_assert(kReach <= kPoolReadBehind);
    if (length > kReach) return FindWith<kLead>(record, name, length);
    const uint8_t* end = name + length;
    const uint8_t* q = end - kReach;
    __m256i hit = WideMatches(q, first_, firstCase_);
    if constexpr (kLead > 1) hit = _mm256_and_si256(hit, WideMatches(q + 1, second_, secondCase_));
    if constexpr (kLead > 2) hit = _mm256_and_si256(hit, WideMatches(q + 2, third_, thirdCase_));
    const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(hit)) &
                          static_cast<uint32_t>(~uint64_t{0} << (kReach - length));
    if (!bits) return false;
    if (length_ <= kLead) return true;  // the lead is the whole term
    return VerifyAll(q, bits, end);
  }
  // FindWith for a name of at most 32 bytes held in a vector, its byte i
  // in lane byte i (the bytes past `length` of no meaning), on a processor
  // with 32-byte vectors: a reader that puts the name together in a vector
  // tests it without reading back the bytes it just stored, a read that
  // would wait for the store. `bytes` holds the same name in memory, read
  // only for the few candidates compared in full.
  template <int kLead>
  [[gnu::target("avx2")]] bool FindInVector(__m256i name, const uint8_t* bytes, size_t length) const {
    const __m256i high = _mm256_permute2x128_si256(name, name, 0x81);  // bytes 16..31, then zeros
    __m256i hit = VectorMatches(name, first_, firstCase_);
    if constexpr (kLead > 1)
      hit = _mm256_and_si256(hit, VectorMatches(_mm256_alignr_epi8(high, name, 1), second_, secondCase_));
    if constexpr (kLead > 2)
      hit = _mm256_and_si256(hit, VectorMatches(_mm256_alignr_epi8(high, name, 2), third_, thirdCase_));
    // The start positions whose lead lies inside the name.
    const size_t starts = length + 1 > kLead ? length + 1 - kLead : 0;
    const uint32_t bits =
        static_cast<uint32_t>(_mm256_movemask_epi8(hit)) & static_cast<uint32_t>((uint64_t{1} << starts) - 1);
    if (!bits) return false;
    if (length_ <= kLead) return true;  // the lead is the whole term
    return VerifyAll(bytes, bits, bytes + length);
  }

  // Whether this processor runs FindInPool.
  static bool HasWideVectors() { return __builtin_cpu_supports("avx2"); }

  // Find for a finder whose Lead() is kLead.
  template <int kLead>
  bool FindWith(const uint8_t* record, const uint8_t* name, size_t length) const {
    // A window covers start positions q..q+15 and reads q..q+kReach-1.
    constexpr size_t kReach = 15 + kLead;
    if (length < length_) return false;
    const uint8_t* end = name + length;
    if (static_cast<size_t>(end - record) < kReach) return FindScalar(name, end);
    const uint8_t* last = end - kReach;  // the window that ends at the name's end
    if (length <= kReach + 16) {
      // Nearly every name: two windows, and no branch on its length, whose
      // outcome would be a coin toss from one name to the next. One window
      // ends at the name's end, the other begins at its start (or is the
      // same window again on a name shorter than one); the positions before
      // the name, read from the header, are masked off.
      // Written as min and max, which compile to conditional moves.
      const uint8_t* first = end - std::max(length, kReach);
      const uint32_t mask = 0xFFFFu << (kReach - std::min(length, kReach));
      const uint32_t a = Candidates<kLead>(last) & mask, b = Candidates<kLead>(first) & mask;
      if (!(a | b)) return false;
      if (length_ <= kLead) return true;  // the lead is the whole term
      return VerifyAll(last, a, end) || VerifyAll(first, b, end);
    }
    const uint8_t* q = name;
    for (; q + kReach <= end; q += 16)
      if (uint32_t bits = Candidates<kLead>(q); bits && (length_ <= kLead || VerifyAll(q, bits, end))) return true;
    if (q > end - length_) return false;  // every start position was covered
    // The last window; positions before q are done.
    uint32_t bits = Candidates<kLead>(last) & ~((1u << (q - last)) - 1);
    return bits && (length_ <= kLead || VerifyAll(last, bits, end));
  }

 private:
  template <int kLead>
  uint32_t Candidates(const uint8_t* q) const {
    __m128i hit = Matches(q, first_, firstCase_);
    if constexpr (kLead > 1) hit = _mm_and_si128(hit, Matches(q + 1, second_, secondCase_));
    if constexpr (kLead > 2) hit = _mm_and_si128(hit, Matches(q + 2, third_, thirdCase_));
    return static_cast<uint32_t>(_mm_movemask_epi8(hit));
  }
  [[gnu::target("avx2")]] static __m256i WideMatches(const uint8_t* q, __m128i byte, __m128i caseBit) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    return _mm256_cmpeq_epi8(_mm256_or_si256(a, _mm256_broadcastsi128_si256(caseBit)),
                             _mm256_broadcastsi128_si256(byte));
  }
  [[gnu::target("avx2")]] static __m256i VectorMatches(__m256i a, __m128i byte, __m128i caseBit) {
    return _mm256_cmpeq_epi8(_mm256_or_si256(a, _mm256_broadcastsi128_si256(caseBit)),
                             _mm256_broadcastsi128_si256(byte));
  }
  static __m128i Matches(const uint8_t* q, __m128i byte, __m128i caseBit) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    return _mm_cmpeq_epi8(_mm_or_si128(a, caseBit), byte);
  }
  // Whether a candidate of `bits` (start positions from q) holds the whole
  // term. Out of line: few names get this far.
  [[gnu::noinline]] bool VerifyAll(const uint8_t* q, uint32_t bits, const uint8_t* end) const;
  bool Verify(const uint8_t* at, const uint8_t* end) const;
  [[gnu::noinline]] bool FindScalar(const uint8_t* name, const uint8_t* end) const;

  // The lead's bytes, and per byte 0x20 where it is a letter: ORed into a
  // name byte, that folds both cases into one.
  __m128i first_ = _mm_setzero_si128(), firstCase_ = _mm_setzero_si128();
  __m128i second_ = _mm_setzero_si128(), secondCase_ = _mm_setzero_si128();
  __m128i third_ = _mm_setzero_si128(), thirdCase_ = _mm_setzero_si128();
  size_t length_ = 0;
  int lead_ = 1;
  uint8_t term_[QV_QUERY_MAX] = {};
};
