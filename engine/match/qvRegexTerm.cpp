#include "qvRegexTerm.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include "qvConvert.h"
#include "qvPackedName.h"

qvRegexTerm::~qvRegexTerm() {
  if (code_) pcre2_code_free(code_);
}

bool qvRegexTerm::Compile(const qvString& pattern, bool matchCase, std::string* error) {
  if (code_) pcre2_code_free(code_);
  code_ = nullptr;
  uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_UCP;
  if (!matchCase) flags |= PCRE2_CASELESS;
  int code = 0;
  PCRE2_SIZE offset = 0;
  code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &code, &offset,
                        nullptr);
  if (!code_) {
    PCRE2_UCHAR message[256];
    int n = pcre2_get_error_message(code, message, sizeof message / sizeof message[0]);
    qvString text = n > 0 ? qvString(reinterpret_cast<const qvChar*>(message), static_cast<size_t>(n)) : u"?";
    if (error) *error = UnicodeToUtf8(text) + " (" + std::to_string(offset) + ")";
    return false;
  }
  // Without the JIT the interpreter answers the same, only slower.
  pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
  wantsPath_ = pattern.find(u'/') != qvString::npos;
  required_ = 0;
  // The rightmost unit every match holds. Whether the pattern takes it in
  // either case is not told (an inner "(?i)" may), so it is looked for
  // folded, in either case.
  uint32_t unit = 0, type = 0;
  if (pcre2_pattern_info(code_, PCRE2_INFO_LASTCODETYPE, &type) == 0 && type == 1 &&
      pcre2_pattern_info(code_, PCRE2_INFO_LASTCODEUNIT, &unit) == 0 && unit > 0 && unit < 128)
    required_ = static_cast<char>(kLowerCase.map[unit]);
  return true;
}

qvRegexTerm::Scratch::Scratch(const qvRegexTerm& term) : term_(term) {
  if (term.code_) data_ = pcre2_match_data_create_from_pattern(term.code_, nullptr);
}

qvRegexTerm::Scratch::~Scratch() {
  if (data_) pcre2_match_data_free(data_);
}

namespace {

bool IsHigh(qvChar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(qvChar c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Where the units hold a lone surrogate (a byte of a name that was not
// UTF-8), a copy with U+FFFD in its place, so that "." and "[^x]" match
// it as they match any character; else null.
const qvChar* WithoutLoneSurrogates(const qvChar* units, size_t length, qvString* copy) {
  size_t i = 0;
  for (; i < length; ++i) {
    if (IsHigh(units[i]) && i + 1 < length && IsLow(units[i + 1])) ++i;
    else if (IsHigh(units[i]) || IsLow(units[i])) break;
  }
  if (i == length) return nullptr;
  copy->assign(units, length);
  for (; i < length; ++i) {
    if (IsHigh((*copy)[i]) && i + 1 < length && IsLow((*copy)[i + 1])) ++i;
    else if (IsHigh((*copy)[i]) || IsLow((*copy)[i])) (*copy)[i] = 0xFFFD;
  }
  return copy->data();
}

}  // namespace

bool qvRegexTerm::Scratch::Matches(const qvChar* units, size_t length) {
  if (!data_) return false;
  if (const qvChar* fixed = WithoutLoneSurrogates(units, length, &copy_)) units = fixed;
  int rc = pcre2_match(term_.code_, reinterpret_cast<PCRE2_SPTR>(units), length, 0, 0, data_, nullptr);
  return rc >= 0;
}
