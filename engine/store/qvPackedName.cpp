#include "qvPackedName.h"

namespace PackedName {

size_t EncodedLength(const qvChar* units, size_t count) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) n += units[i] < 128 ? 1 : 3;
  return n;
}

size_t Encode(const qvChar* units, size_t count, uint8_t* out) {
  size_t w = 0;
  for (size_t i = 0; i < count; ++i) {
    qvChar u = units[i];
    if (u < 128) {
      out[w++] = static_cast<uint8_t>(u);
    } else {
      out[w++] = QV_WIDE_MARKER;
      out[w++] = static_cast<uint8_t>(u & 0xFF);
      out[w++] = static_cast<uint8_t>(u >> 8);
    }
  }
  return w;
}

namespace {

template <bool Fold>
size_t DecodeImpl(const uint8_t* bytes, size_t length, qvChar* out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t i = 0, w = 0;
  while (i < length && w + 1 < capacity) {
    uint8_t b = bytes[i];
    if (b & 0x80) {
      if (i + 3 > length) break;
      out[w++] = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
      i += 3;
    } else {
      out[w++] = Fold ? kLowerCase.map[b] : b;
      ++i;
    }
  }
  out[w] = 0;
  return w;
}

}  // namespace

size_t Decode(const uint8_t* bytes, size_t length, qvChar* out, size_t capacity) {
  return DecodeImpl<false>(bytes, length, out, capacity);
}

size_t DecodeLowerCase(const uint8_t* bytes, size_t length, qvChar* out, size_t capacity) {
  return DecodeImpl<true>(bytes, length, out, capacity);
}

size_t UnitCount(const uint8_t* bytes, size_t length) {
  size_t i = 0, n = 0;
  while (i < length) {
    i += (bytes[i] & 0x80) ? 3 : 1;
    ++n;
  }
  return n;
}

}  // namespace PackedName
