// Matching of "?" and "*" terms against a decoded, folded name: "?" is any
// one unit, "*" any run of units. Other units compare exactly.
#pragma once

#include <cstddef>

#include "qvPatternSet.h"
#include "qvTypes.h"

constexpr size_t QV_NOT_FOUND = static_cast<size_t>(-1);

// True when name[0..n) agrees with pattern[0..n), "?" matching any unit.
inline bool qvMatchesAt(const qvChar* name, const qvChar* pattern, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (pattern[i] != u'?' && pattern[i] != name[i]) return false;
  return true;
}

// The first position p in [from, to - n] where the pattern agrees with
// name[p..p+n), or QV_NOT_FOUND.
size_t qvFindPattern(const qvChar* name, size_t from, size_t to, const qvChar* pattern, size_t n);

// True when a term of n units fits some window of an m-unit "?" pattern:
// at each position the pattern has "?" or the term's unit.
bool qvFitsPattern(const qvChar* pattern, size_t m, const qvChar* term, size_t n);

// The wildcard test of one term: the anchored start and end runs, then
// each run between two "*" searched left to right, each after the last.
bool qvWildcardTest(const qvWildTerm& term, const qvChar* name, size_t length);
