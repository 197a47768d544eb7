#include "qvAsciiTermFinder.h"

#include "qvPackedName.h"

namespace {

// Folds 'A'..'Z'; wide markers and unit bytes of 128 or more map to 0xFF,
// which no term byte equals.
struct FoldTable {
  uint8_t map[256];
  constexpr FoldTable() : map() {
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i < 128 ? kLowerCase.map[i] : 0xFF);
  }
};
constexpr FoldTable kFold{};

__m128i Broadcast(uint8_t c) { return _mm_set1_epi8(static_cast<char>(c)); }
uint8_t CaseBit(uint8_t c) { return c >= 'a' && c <= 'z' ? 0x20 : 0; }

}  // namespace

void qvAsciiTermFinder::Set(const qvChar* term, size_t length) {
  length_ = length < sizeof term_ ? length : sizeof term_ - 1;
  for (size_t i = 0; i < length_; ++i) term_[i] = static_cast<uint8_t>(term[i]);
  lead_ = length_ < 3 ? static_cast<int>(length_) : 3;
  if (lead_ < 1) lead_ = 1;
  const uint8_t first = term_[0], second = length_ > 1 ? term_[1] : 0, third = length_ > 2 ? term_[2] : 0;
  first_ = Broadcast(first);
  firstCase_ = Broadcast(CaseBit(first));
  second_ = Broadcast(second);
  secondCase_ = Broadcast(CaseBit(second));
  third_ = Broadcast(third);
  thirdCase_ = Broadcast(CaseBit(third));
}

bool qvAsciiTermFinder::VerifyAll(const uint8_t* q, uint32_t bits, const uint8_t* end) const {
  for (; bits; bits &= bits - 1)
    if (Verify(q + __builtin_ctz(bits), end)) return true;
  return false;
}

bool qvAsciiTermFinder::Verify(const uint8_t* at, const uint8_t* end) const {
  if (static_cast<size_t>(end - at) < length_) return false;
  for (size_t j = 0; j < length_; ++j)
    if (kFold.map[at[j]] != term_[j]) return false;
  return true;
}

bool qvAsciiTermFinder::FindScalar(const uint8_t* name, const uint8_t* end) const {
  for (const uint8_t* at = name; at + length_ <= end; ++at)
    if (kFold.map[*at] == term_[0] && Verify(at, end)) return true;
  return false;
}
