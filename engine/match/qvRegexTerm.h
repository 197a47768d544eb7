// A query that is one regular expression, compiled once per search for
// 16-bit units (our names' own form) with the JIT where the machine has
// it. A lone surrogate in a name (a byte that was not UTF-8) is matched
// as U+FFFD: "." and negated classes take it like any other character.
#pragma once

#include <cstddef>
#include <string>

#include "qvTypes.h"

struct pcre2_real_code_16;
struct pcre2_real_match_data_16;
struct pcre2_real_match_context_16;

class qvRegexTerm {
 public:
  qvRegexTerm() = default;
  ~qvRegexTerm();
  qvRegexTerm(const qvRegexTerm&) = delete;
  qvRegexTerm& operator=(const qvRegexTerm&) = delete;

  // False with the reason in `error` (UTF-8, e.g. "missing closing
  // parenthesis at 3") when the pattern is not valid.
  bool Compile(const qvString& pattern, bool matchCase, std::string* error);

  // The pattern names "/": it is tested against whole paths.
  bool WantsPath() const { return wantsPath_; }

  // An ASCII unit every match holds, folded, or 0: names without it in
  // either case are passed over without running the matcher.
  char RequiredByte() const { return required_; }

  // The longest run of ASCII characters every match holds as they stand,
  // read from the pattern's text where that is plain (no alternation, no
  // inline options), else empty: names without it are passed over.
  const qvString& RequiredRun() const { return requiredRun_; }

  // Per thread: the space a match works in.
  class Scratch {
   public:
    explicit Scratch(const qvRegexTerm& term);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    bool Matches(const qvChar* units, size_t length);

   private:
    const qvRegexTerm& term_;
    pcre2_real_match_data_16* data_ = nullptr;
    qvString copy_;
  };

 private:
  pcre2_real_code_16* code_ = nullptr;
  pcre2_real_match_context_16* limits_ = nullptr;
  bool wantsPath_ = false;
  char required_ = 0;
  qvString requiredRun_;
};

// The run RequiredRun gives for a pattern; exposed for the tests.
qvString qvRegexRequiredRun(const qvString& pattern, bool caseless);
