#include "qvRegexTerm.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include "qvConvert.h"
#include "qvPackedName.h"

#include <string_view>

// A pattern that backtracks without end ("(a+)+$") would hold the engine
// lock for as long as it runs over every name: each name gets this many
// steps, and a name that needs more is taken as not matching.
constexpr uint32_t kMatchSteps = 200000;
constexpr uint32_t kMatchDepth = 5000;

qvRegexTerm::~qvRegexTerm() {
  if (code_) pcre2_code_free(code_);
  if (limits_) pcre2_match_context_free(limits_);
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
  if (!limits_) {
    limits_ = pcre2_match_context_create(nullptr);
    if (limits_) {
      pcre2_set_match_limit(limits_, kMatchSteps);
      pcre2_set_depth_limit(limits_, kMatchDepth);
    }
  }
  wantsPath_ = pattern.find(u'/') != qvString::npos;
  requiredRun_ = qvRegexRequiredRun(pattern, !matchCase);
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
  int rc = pcre2_match(term_.code_, reinterpret_cast<PCRE2_SPTR>(units), length, 0, 0, data_, term_.limits_);
  return rc >= 0;
}

namespace {

bool IsAsciiWord(qvChar c) { return c < 128 && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }
bool IsAsciiDigit(qvChar c) { return c >= '0' && c <= '9'; }

}  // namespace

// Walks the pattern's top level keeping runs of literal characters: a
// quantifier that may leave its character out ("?", "*", "{") takes it
// off the run; "+" keeps it but ends the run; classes, groups, "." and
// anchors end it. What a group holds, alternatives included, is skipped:
// the top level's runs are in every match whatever the group matched. An
// alternative at the top level, and any construct read otherwise, give no
// run at all. (A character that ends a run still counts for the
// quantifier after it: the run is ended before, so the quantifier takes
// nothing more off.)
qvString qvRegexRequiredRun(const qvString& p, bool caseless) {
  if (p.find(u"\\Q") != qvString::npos) return {};
  // "(?:" only groups; any other "(?" may change how the rest reads.
  for (size_t at = p.find(u"(?"); at != qvString::npos; at = p.find(u"(?", at + 2))
    if (at + 2 >= p.size() || p[at + 2] != u':') return {};
  qvString best, run;
  auto end = [&] {
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  int depth = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    qvChar c = p[i];
    qvChar literal = 0;
    if (c == u'\\') {
      if (i + 1 >= p.size()) return {};
      qvChar e = p[++i];
      if (IsAsciiWord(e) || IsAsciiDigit(e)) {
        // Only the one-letter classes and assertions are known to be one
        // unit wide here; anything else (\x41, \p{..}, \1) gives up.
        if (std::u16string_view(u"dDwWsSbBhHvVRN").find(e) == std::u16string_view::npos) return {};
        end();
        continue;
      }
      literal = e;
    } else if (c == u'[') {
      end();
      size_t j = i + 1;
      if (j < p.size() && p[j] == u'^') ++j;
      if (j < p.size() && p[j] == u']') ++j;
      while (j < p.size() && p[j] != u']') j += p[j] == u'\\' ? 2 : 1;
      if (j >= p.size()) return {};
      i = j;
      continue;
    } else if (c == u'(') {
      end();
      ++depth;
      if (i + 2 < p.size() && p[i + 1] == u'?' && p[i + 2] == u':') i += 2;
      continue;
    } else if (c == u'|') {
      if (depth == 0) return {};
      end();
      continue;
    } else if (c == u')') {
      end();
      if (--depth < 0) return {};
      continue;
    } else if (c == u'.' || c == u'^' || c == u'$') {
      end();
      continue;
    } else if (c == u'?' || c == u'*' || c == u'{') {
      // The character before may be absent: it leaves the run.
      if (!run.empty()) run.pop_back();
      end();
      if (c == u'{') {
        size_t close = p.find(u'}', i);
        if (close == qvString::npos) return {};
        i = close;
      }
      continue;
    } else if (c == u'+') {
      end();
      continue;
    } else {
      literal = c;
    }
    // Without case, "k" and "s" also match the Kelvin sign and the long s,
    // which the ASCII run would not find.
    const bool foldsWide = caseless && ((literal | 0x20) == 'k' || (literal | 0x20) == 's');
    if (depth > 0 || literal == 0 || literal >= 128 || foldsWide) {
      end();
      continue;
    }
    // A quantifier after this character decides whether it stays.
    run.push_back(literal);
  }
  end();
  return best;
}
