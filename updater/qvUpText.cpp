#include "qvUpText.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <limits>

namespace qvUpText {

namespace {

// One iconv conversion; the descriptor is opened per call because the
// helpers run on more than one thread.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; returns false at the first byte sequence
  // it cannot take, leaving *in at that sequence.
  bool Convert(std::string_view* in, std::string* out) {
    char buffer[1024];
    while (!in->empty()) {
      char* src = const_cast<char*>(in->data());
      size_t srcLeft = in->size();
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out->append(buffer, static_cast<size_t>(dst - buffer));
      *in = in->substr(in->size() - srcLeft);
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence at the front of text, 0 when it is invalid.
size_t Utf8SequenceLength(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  if (n == 0) return 0;
  if (s[0] < 0x80) return 1;
  size_t len;
  uint32_t cp;
  if ((s[0] & 0xE0) == 0xC0) len = 2, cp = s[0] & 0x1F;
  else if ((s[0] & 0xF0) == 0xE0) len = 3, cp = s[0] & 0x0F;
  else if ((s[0] & 0xF8) == 0xF0) len = 4, cp = s[0] & 0x07;
  else return 0;
  if (n < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

uint32_t DecodeUtf8(std::string_view seq) {
  const auto* s = reinterpret_cast<const unsigned char*>(seq.data());
  if (seq.size() == 1) return s[0];
  uint32_t cp = s[0] & (0xFF >> (seq.size() + 1));
  for (size_t i = 1; i < seq.size(); ++i) cp = (cp << 6) | (s[i] & 0x3F);
  return cp;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    size_t len = Utf8SequenceLength(bytes);
    if (len == 0) return false;
    bytes.remove_prefix(len);
  }
  return true;
}

std::string AnsiToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  Converter gbk("UTF-8", "GBK");
  if (!gbk.ok()) return out;
  while (!gbk.Convert(&bytes, &out)) {
    out += "\xEF\xBF\xBD";  // U+FFFD for the byte GBK cannot take
    bytes.remove_prefix(1);
  }
  return out;
}

std::string Utf8ToGb2312Xml(std::string_view utf8) {
  std::string out;
  Converter gb("GB2312", "UTF-8");
  while (!utf8.empty()) {
    size_t len = Utf8SequenceLength(utf8);
    if (len == 0) {
      out += '?';
      utf8.remove_prefix(1);
      continue;
    }
    std::string_view seq = utf8.substr(0, len);
    utf8.remove_prefix(len);
    if (len == 1) {
      out += seq;
      continue;
    }
    std::string converted;
    std::string_view rest = seq;
    if (gb.ok() && gb.Convert(&rest, &converted)) {
      out += converted;
    } else {
      char ref[16];
      std::snprintf(ref, sizeof ref, "&#x%X;", DecodeUtf8(seq));
      out += ref;
    }
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

int32_t ParseNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;  // keeps reading, stays saturated
  }
  if (negative) return static_cast<int32_t>(-value);
  return value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

uint32_t ParseUnsigned32(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '-') return static_cast<uint32_t>(ParseNumber(text));
  if (i < text.size() && text[i] == '+') ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > std::numeric_limits<uint32_t>::max()) value = std::numeric_limits<uint32_t>::max();
  }
  return static_cast<uint32_t>(value);
}

}  // namespace qvUpText
