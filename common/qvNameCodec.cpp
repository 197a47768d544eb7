#include "qvNameCodec.h"

namespace qvNameCodec {

namespace {

// Length of the valid UTF-8 sequence at s (1..4), or 0 when the bytes there
// do not start one. Overlong forms, surrogates and values above U+10FFFF
// are invalid.
size_t ValidSequence(const unsigned char* s, size_t left, uint32_t* cp) {
  unsigned char c = s[0];
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t n;
  uint32_t v;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    v = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    v = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    v = c & 0x07;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (n == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) return 0;
  if (n == 4 && (v < 0x10000 || v > 0x10FFFF)) return 0;
  *cp = v;
  return n;
}

}  // namespace

size_t Decode(const char* bytes, size_t length, qvChar* out, size_t capacity) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0, w = 0;
  while (i < length) {
    uint32_t cp;
    size_t n = ValidSequence(s + i, length - i, &cp);
    if (n == 0) {
      cp = 0xDC00 + s[i];
      n = 1;
    }
    size_t need = cp >= 0x10000 ? 2 : 1;
    if (out) {
      if (w + need > capacity) break;
      if (need == 2) {
        out[w] = static_cast<qvChar>(0xD800 + ((cp - 0x10000) >> 10));
        out[w + 1] = static_cast<qvChar>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out[w] = static_cast<qvChar>(cp);
      }
    }
    w += need;
    i += n;
  }
  return w;
}

size_t Encode(const qvChar* units, size_t length, char* out, size_t capacity) {
  size_t w = 0;
  for (size_t i = 0; i < length; ++i) {
    uint32_t u = units[i];
    unsigned char buf[4];
    size_t n;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      buf[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      buf[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      buf[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 4;
      if (out && w + n > capacity) break;
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      buf[0] = static_cast<unsigned char>(u - 0xDC00);  // an escaped raw byte
      n = 1;
    } else if (u < 0x80) {
      buf[0] = static_cast<unsigned char>(u);
      n = 1;
    } else if (u < 0x800) {
      buf[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
      buf[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      n = 2;
    } else {
      buf[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
      buf[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      buf[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      n = 3;
    }
    if (out) {
      if (w + n > capacity) break;
      for (size_t k = 0; k < n; ++k) out[w + k] = static_cast<char>(buf[k]);
    }
    w += n;
  }
  return w;
}

qvString DecodeToString(std::string_view bytes) {
  qvString s(Decode(bytes.data(), bytes.size(), nullptr, 0), u'\0');
  Decode(bytes.data(), bytes.size(), s.data(), s.size());
  return s;
}

std::string EncodeToString(std::u16string_view units) {
  std::string s(Encode(units.data(), units.size(), nullptr, 0), '\0');
  Encode(units.data(), units.size(), s.data(), s.size());
  return s;
}

}  // namespace qvNameCodec
