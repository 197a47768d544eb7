#include "qvExclusionValue.h"

namespace {

// Bytes of the well-formed UTF-8 character at `at` (no overlong forms, no
// surrogates, nothing above U+10FFFF: what any UTF-8 reader keeps as it
// is), or 0.
size_t Utf8Length(const std::string& s, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t n = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  unsigned char second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90))
    return 0;
  return n;
}

// Bytes the profile form would alter (blanks trimmed, quotes taken off,
// comments) or that part the list.
bool NeedsEscape(unsigned char c) {
  return c <= 0x20 || c == 0x7F || c == '%' || c == '|' || c == '"' || c == '\'' || c == ';' || c == '#';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string qvEncodeExclusions(const std::vector<std::string>& rules) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string value;
  for (const std::string& rule : rules) {
    if (rule.empty()) continue;
    if (!value.empty()) value.push_back('|');
    for (size_t i = 0; i < rule.size();) {
      auto c = static_cast<unsigned char>(rule[i]);
      size_t n = c < 0x80 ? (NeedsEscape(c) ? 0 : 1) : Utf8Length(rule, i);
      if (n > 0) {
        value.append(rule, i, n);
        i += n;
      } else {
        value += {'%', kHex[c >> 4], kHex[c & 15]};
        ++i;
      }
    }
  }
  return value;
}

std::vector<std::string> qvDecodeExclusions(const std::string& value) {
  std::vector<std::string> rules;
  std::string rule;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i == value.size() || value[i] == '|') {
      if (!rule.empty()) rules.push_back(std::move(rule));
      rule.clear();
    } else if (value[i] == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
      rule.push_back(static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2])));
      i += 2;
    } else {
      rule.push_back(value[i]);
    }
  }
  return rules;
}
