// Finds one folded ASCII term in PackedName bytes, sixteen bytes at a
// time: candidates are the positions where the term's first two bytes
// occur (either case), each then compared in full.
//
// On a name without wide units this is the exact substring test. On a
// name with wide units the bytes of a unit can look like ASCII, so a find
// there only says the name may hold the term.
//
// Reads never leave the record: a window of sixteen bytes ends at the end
// of the name and may reach back into the record's header, never before
// its first byte. Find runs once per name of every scan, so it is inline.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "qvTypes.h"

class qvAsciiTermFinder {
 public:
  // The term's units must lie in 1..127 and be folded; length at least 1.
  void Set(const qvChar* term, size_t length);
  size_t Length() const { return length_; }

  // Whether name[0..length) holds the term; `record` is the first byte of
  // the record that holds the name.
  bool Find(const uint8_t* record, const uint8_t* name, size_t length) const {
    if (length < length_) return false;
    const uint8_t* end = name + length;
    if (static_cast<size_t>(end - record) < reach_) return FindScalar(name, end);
    // A window covers start positions q..q+15 and reads q..q+reach-1.
    const uint8_t* q = name;
    for (; q + reach_ <= end; q += 16)
      if (uint32_t bits = Candidates(q); bits && VerifyAll(q, bits, end)) return true;
    if (q > end - length_) return false;  // every start position was covered
    // The last window ends at the name's end; positions before q are done.
    const uint8_t* last = end - reach_;
    uint32_t bits = Candidates(last) & ~((1u << (q - last)) - 1);
    return bits && VerifyAll(last, bits, end);
  }

 private:
  uint32_t Candidates(const uint8_t* q) const {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    __m128i hit = _mm_cmpeq_epi8(_mm_or_si128(a, firstCase_), first_);
    if (length_ > 1) {
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
      hit = _mm_and_si128(hit, _mm_cmpeq_epi8(_mm_or_si128(b, secondCase_), second_));
    }
    return static_cast<uint32_t>(_mm_movemask_epi8(hit));
  }
  // A candidate agrees on the first two bytes, and every window keeps its
  // candidates inside the name: a term of one or two bytes is found.
  bool VerifyAll(const uint8_t* q, uint32_t bits, const uint8_t* end) const {
    if (length_ <= 2) return true;
    for (; bits; bits &= bits - 1)
      if (Verify(q + __builtin_ctz(bits), end)) return true;
    return false;
  }
  bool Verify(const uint8_t* at, const uint8_t* end) const;
  bool FindScalar(const uint8_t* name, const uint8_t* end) const;

  // The first two bytes, and per byte 0x20 where it is a letter: ORed into
  // a name byte, that folds both cases into one.
  __m128i first_ = _mm_setzero_si128(), firstCase_ = _mm_setzero_si128();
  __m128i second_ = _mm_setzero_si128(), secondCase_ = _mm_setzero_si128();
  size_t length_ = 0;
  size_t reach_ = 16;  // bytes a window reads
  uint8_t term_[QV_QUERY_MAX] = {};
};
