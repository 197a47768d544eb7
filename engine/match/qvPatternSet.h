// A compiled query: the plain terms, at most one "?" pattern of fixed
// length, and the wildcard terms, split by whether they also hold "?".
// The engine keeps one, cleared and recompiled by every search.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"
#include "qvTypes.h"

// Terms come from a query field of 1023 units, so a term never holds more.
constexpr size_t QV_TERM_CAPACITY = QV_QUERY_MAX;  // 1023 units and a zero

struct qvPlainTerm {
  uint32_t length;
  qvChar text[QV_TERM_CAPACITY];
  qvPlainTerm* next;
};

// A term holding "*": runs of "*" are collapsed to one, and length and
// stars count the collapsed text, so length - stars is the fewest units a
// matching name can have.
struct qvWildTerm {
  static constexpr uint32_t kAnchoredStart = 1;  // does not begin with "*"
  static constexpr uint32_t kAnchoredEnd = 2;    // does not end with "*"
  uint32_t flags;
  uint32_t stars;
  uint32_t length;
  qvChar text[QV_TERM_CAPACITY];
  qvWildTerm* next;

  uint32_t MinLength() const { return length - stars; }
};

// Whether hay[0..hn) holds needle[0..n), unit for unit.
bool qvContainsUnits(const qvChar* hay, size_t hn, const qvChar* needle, size_t n);

class CPatternSet {
 public:
  explicit CPatternSet(qvHeap& heap) : heap_(heap) {}
  ~CPatternSet() { Clear(); }
  CPatternSet(const CPatternSet&) = delete;
  CPatternSet& operator=(const CPatternSet&) = delete;

  // Frees every record; the set is empty and ascii-only again.
  void Clear();

  // Clears the set and compiles the zero-terminated query (at most its
  // first 1023 units are read), lowering 'A'..'Z' of the text in place
  // unless the search matches case.
  // False when the text holds no term or its terms contradict each other;
  // after a contradiction the set is left empty, so it matches nothing.
  bool CompileQuery(qvChar* text, bool foldCase = true);

  // Folds 'A'..'Z' of the name in place and tests it: whether a live
  // change of an entry of this name calls for the search to run again.
  bool MatchName(qvChar* name, size_t length) const;

  // After a search in the extended modes a name alone cannot tell whether
  // an item matches (its extension, its path, the hidden switch decide
  // too): every change then calls for the search to run again.
  void SetEveryChangeDue(bool due) { everyChangeDue_ = due; }
  // A query is set whose result a live change can alter.
  bool Active() const { return everyChangeDue_ || !Empty(); }
  // The whole predicate on a name already folded. An empty set matches
  // nothing.
  bool Matches(const qvChar* name, size_t length) const;

  // The parts of the predicate, for scans that order them.
  bool FixedPasses(const qvChar* name, size_t length) const;
  bool PlainPasses(const qvChar* name, size_t length) const;
  bool StarPasses(const qvChar* name, size_t length) const;
  bool MixedPasses(const qvChar* name, size_t length) const;

  const qvPlainTerm* Plain() const { return plain_; }
  const qvPlainTerm* Fixed() const { return fixed_; }
  const qvWildTerm* Star() const { return star_; }
  const qvWildTerm* Mixed() const { return mixed_; }
  bool AsciiOnly() const { return asciiOnly_ != 0; }
  bool Empty() const { return !plain_ && !fixed_ && !star_ && !mixed_; }

  // The fewest units a matching name has: the longest plain term, the
  // fixed length, the most literal units of a wildcard term.
  size_t MinNameLength() const;

 private:
  enum Kind : unsigned { kPlain = 0, kQuestion = 1, kStar = 2, kBoth = 3 };

  bool AddTerm(const qvChar* term, size_t n, unsigned kind, size_t stars);
  bool AddWildcard(const qvChar* term, size_t n, unsigned kind, size_t stars);
  bool AddQuestion(const qvChar* term, size_t n);
  bool AddPlain(const qvChar* term, size_t n);
  qvPlainTerm* NewPlain(const qvChar* term, size_t n);

  qvHeap& heap_;
  qvPlainTerm* plain_ = nullptr;
  qvPlainTerm* fixed_ = nullptr;
  qvWildTerm* star_ = nullptr;
  qvWildTerm* mixed_ = nullptr;
  uint32_t asciiOnly_ = 1;
  bool everyChangeDue_ = false;
};
