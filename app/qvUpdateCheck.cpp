#include "qvUpdateCheck.h"

#include <limits>

namespace qvUpdateCheck {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// atoi's reading, kept within int32 so that an over-long number cannot wrap.
int32_t LeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<int32_t>(-value);
  return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

}  // namespace

uint32_t LatestVersion(std::string_view answer) {
  size_t bar = answer.find('|');
  if (bar == std::string_view::npos) return 0;
  // The part after the bar is a second number nothing uses.
  return static_cast<uint32_t>(LeadingInteger(answer.substr(0, bar)));
}

bool Offered(std::string_view answer) { return LatestVersion(answer) > kThisVersion; }

}  // namespace qvUpdateCheck
