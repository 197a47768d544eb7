#include "qvWildcard.h"

size_t qvFindPattern(const qvChar* name, size_t from, size_t to, const qvChar* pattern, size_t n) {
  if (to < from || to - from < n) return QV_NOT_FOUND;
  for (size_t p = from, last = to - n; p <= last; ++p)
    if (qvMatchesAt(name + p, pattern, n)) return p;
  return QV_NOT_FOUND;
}

bool qvFitsPattern(const qvChar* pattern, size_t m, const qvChar* term, size_t n) {
  if (n > m) return false;
  for (size_t offset = 0; offset + n <= m; ++offset) {
    size_t j = 0;
    while (j < n && (pattern[offset + j] == u'?' || pattern[offset + j] == term[j])) ++j;
    if (j == n) return true;
  }
  return false;
}

bool qvWildcardTest(const qvWildTerm& term, const qvChar* name, size_t length) {
  if (length < term.MinLength()) return false;
  const qvChar* t = term.text;
  const size_t n = term.length;
  size_t firstStar = 0;
  while (firstStar < n && t[firstStar] != u'*') ++firstStar;
  size_t lastStar = n;
  while (lastStar > 0 && t[lastStar - 1] != u'*') --lastStar;
  if (firstStar == n) return false;  // a wildcard record always holds a "*"
  --lastStar;

  // The literal units number at most `length`, so the anchored runs cannot
  // overlap and from <= to below.
  size_t from = 0, to = length;
  if (term.flags & qvWildTerm::kAnchoredStart) {
    if (!qvMatchesAt(name, t, firstStar)) return false;
    from = firstStar;
  }
  if (term.flags & qvWildTerm::kAnchoredEnd) {
    size_t tail = n - lastStar - 1;
    if (!qvMatchesAt(name + length - tail, t + lastStar + 1, tail)) return false;
    to = length - tail;
  }
  for (size_t i = firstStar + 1; i < lastStar;) {
    size_t j = i;
    while (t[j] != u'*') ++j;  // lastStar bounds the run
    size_t at = qvFindPattern(name, from, to, t + i, j - i);
    if (at == QV_NOT_FOUND) return false;
    from = at + (j - i);
    i = j + 1;
  }
  return true;
}
