#include "qvHex.h"

#include <cstring>

namespace {

int HexDigits(const unsigned char* bytes, int64_t count, char* text, int size) {
  static const char kDigits[] = "0123456789ABCDEF";
  // 64-bit arithmetic: count * 2 must not wrap for large counts.
  if (!bytes || !text || count <= 0 || size <= 0 || count * 2 >= size) return 0;
  for (int64_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  text[2 * count] = 0;
  return 1;
}

int DigitValue(qvChar c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

int ToHexStr(const void* bytes, int count, char* text, int size) {
  return HexDigits(static_cast<const unsigned char*>(bytes), count, text, size);
}

int StrToHex(const char* bytes, char* text, int size) {
  if (!bytes || !text || size <= 0) return 0;
  auto length = static_cast<int64_t>(std::strlen(bytes));
  if (length * 2 >= size) return 0;
  if (length == 0) {
    text[0] = 0;
    return 1;
  }
  return HexDigits(reinterpret_cast<const unsigned char*>(bytes), length, text, size);
}

uint16_t Swap16(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }

uint32_t Swap32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) |
         (value << 24);
}

uint32_t HexStrToRGB(const qvChar* text) {
  if (!text) return 0;
  while (*text == u' ' || *text == u'\t') ++text;
  if (text[0] == u'0' && (text[1] == u'x' || text[1] == u'X') && DigitValue(text[2]) >= 0)
    text += 2;
  uint32_t rgb = 0;  // 0xRRGGBB
  for (int d; (d = DigitValue(*text)) >= 0; ++text)
    rgb = ((rgb << 4) | static_cast<uint32_t>(d)) & 0xFFFFFFu;
  return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

const qvChar* RGBToHexStr(uint32_t colour) {
  static const char kDigits[] = "0123456789abcdef";
  // Per thread, so that two threads formatting colours do not mix digits.
  thread_local qvChar text[7];
  const unsigned channels[3] = {colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF};
  for (int i = 0; i < 3; ++i) {
    text[2 * i] = static_cast<qvChar>(kDigits[channels[i] >> 4]);
    text[2 * i + 1] = static_cast<qvChar>(kDigits[channels[i] & 0x0F]);
  }
  text[6] = 0;
  return text;
}
