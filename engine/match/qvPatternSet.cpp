#include "qvPatternSet.h"

#include <cstring>

#include "qvPackedName.h"
#include "qvWildcard.h"

// Exact units; "?" is an ordinary unit here.
bool qvContainsUnits(const qvChar* hay, size_t hn, const qvChar* needle, size_t n) {
  if (n > hn) return false;
  if (n == 0) return true;
  const qvChar first = needle[0];
  for (size_t p = 0, last = hn - n; p <= last; ++p) {
    if (hay[p] != first) continue;
    size_t j = 1;
    while (j < n && hay[p + j] == needle[j]) ++j;
    if (j == n) return true;
  }
  return false;
}

namespace {

template <typename T>
void FreeList(qvHeap& heap, T*& head) {
  while (head) {
    T* next = head->next;
    heap.Free(head, sizeof(T));
    head = next;
  }
}

}  // namespace

void CPatternSet::Clear() {
  FreeList(heap_, plain_);
  if (fixed_) heap_.Free(fixed_, sizeof(qvPlainTerm));
  fixed_ = nullptr;
  FreeList(heap_, star_);
  FreeList(heap_, mixed_);
  asciiOnly_ = 1;
}

bool CPatternSet::CompileQuery(qvChar* text, bool foldCase) {
  Clear();
  if (!text) return false;
  size_t end = 0;
  while (end < QV_TERM_CAPACITY - 1 && text[end]) ++end;
  size_t i = 0;
  while (i < end && text[i] == u' ') ++i;
  bool seen = false;
  while (i < end) {
    size_t start = i;
    unsigned kind = kPlain;
    size_t stars = 0;
    for (; i < end && text[i] != u' '; ++i) {
      qvChar c = text[i];
      if (c == u'?') {
        kind |= kQuestion;
      } else if (c == u'*') {
        kind |= kStar;
        ++stars;
      } else if (c >= 128) {
        asciiOnly_ = 0;
      } else if (foldCase) {
        text[i] = kLowerCase.map[c];
      }
    }
    seen = true;
    if (!AddTerm(text + start, i - start, kind, stars)) {
      Clear();
      return false;
    }
    while (i < end && text[i] == u' ') ++i;
  }
  return seen;
}

bool CPatternSet::AddTerm(const qvChar* term, size_t n, unsigned kind, size_t stars) {
  switch (kind) {
    case kStar:
    case kBoth: return AddWildcard(term, n, kind, stars);
    case kQuestion: return AddQuestion(term, n);
    default: return AddPlain(term, n);
  }
}

bool CPatternSet::AddWildcard(const qvChar* term, size_t n, unsigned kind, size_t stars) {
  if (stars >= n) return true;  // only stars: matches anything, adds nothing
  if (fixed_ && fixed_->length < n - stars) return false;
  auto* w = static_cast<qvWildTerm*>(heap_.Alloc(sizeof(qvWildTerm)));
  if (!w) return false;
  w->flags = 0;
  if (term[0] != u'*') w->flags |= qvWildTerm::kAnchoredStart;
  if (term[n - 1] != u'*') w->flags |= qvWildTerm::kAnchoredEnd;
  uint32_t k = 0, kept = 0;
  for (size_t i = 0; i < n; ++i) {
    if (term[i] == u'*') {
      if (k > 0 && w->text[k - 1] == u'*') continue;
      ++kept;
    }
    w->text[k++] = term[i];
  }
  w->text[k] = 0;
  w->length = k;
  w->stars = kept;
  qvWildTerm*& list = kind == kStar ? star_ : mixed_;
  w->next = list;
  list = w;
  return true;
}

bool CPatternSet::AddQuestion(const qvChar* term, size_t n) {
  if (fixed_) {
    if (fixed_->length != n) return false;
    for (size_t i = 0; i < n; ++i) {
      if (fixed_->text[i] == u'?') fixed_->text[i] = term[i];
      else if (term[i] != u'?' && term[i] != fixed_->text[i]) return false;
    }
    return true;
  }
  for (const qvPlainTerm* p = plain_; p; p = p->next)
    if (!qvFitsPattern(term, n, p->text, p->length)) return false;
  for (const qvWildTerm* w : {star_, mixed_})
    for (; w; w = w->next)
      if (w->MinLength() > n) return false;
  fixed_ = NewPlain(term, n);
  return fixed_ != nullptr;
}

bool CPatternSet::AddPlain(const qvChar* term, size_t n) {
  if (fixed_) {
    if (!qvFitsPattern(fixed_->text, fixed_->length, term, n)) return false;
    if (n == fixed_->length) std::memcpy(fixed_->text, term, n * sizeof(qvChar));
  }
  if (!plain_) {
    plain_ = NewPlain(term, n);
    return plain_ != nullptr;
  }
  // The first term stays at the head; the rest descend by length, so only
  // records at least as long as this one can make it redundant.
  qvPlainTerm* after = plain_;
  if (plain_->length >= n && qvContainsUnits(plain_->text, plain_->length, term, n)) return true;
  for (qvPlainTerm* p = plain_->next; p && p->length >= n; p = p->next) {
    if (qvContainsUnits(p->text, p->length, term, n)) return true;
    after = p;
  }
  qvPlainTerm* r = NewPlain(term, n);
  if (!r) return false;
  r->next = after->next;
  after->next = r;
  return true;
}

qvPlainTerm* CPatternSet::NewPlain(const qvChar* term, size_t n) {
  auto* r = static_cast<qvPlainTerm*>(heap_.Alloc(sizeof(qvPlainTerm)));
  if (!r) return nullptr;
  r->length = static_cast<uint32_t>(n);
  std::memcpy(r->text, term, n * sizeof(qvChar));
  r->text[n] = 0;
  r->next = nullptr;
  return r;
}

bool CPatternSet::MatchName(qvChar* name, size_t length) const {
  if (everyChangeDue_) return true;
  for (size_t i = 0; i < length; ++i) name[i] = qvFoldUnit(name[i]);
  return Matches(name, length);
}

bool CPatternSet::Matches(const qvChar* name, size_t length) const {
  if (Empty()) return false;
  return FixedPasses(name, length) && PlainPasses(name, length) && StarPasses(name, length) &&
         MixedPasses(name, length);
}

bool CPatternSet::FixedPasses(const qvChar* name, size_t length) const {
  return !fixed_ || (fixed_->length == length && qvMatchesAt(name, fixed_->text, length));
}

bool CPatternSet::PlainPasses(const qvChar* name, size_t length) const {
  for (const qvPlainTerm* p = plain_; p; p = p->next)
    if (!qvContainsUnits(name, length, p->text, p->length)) return false;
  return true;
}

bool CPatternSet::StarPasses(const qvChar* name, size_t length) const {
  for (const qvWildTerm* w = star_; w; w = w->next)
    if (!qvWildcardTest(*w, name, length)) return false;
  return true;
}

bool CPatternSet::MixedPasses(const qvChar* name, size_t length) const {
  for (const qvWildTerm* w = mixed_; w; w = w->next)
    if (!qvWildcardTest(*w, name, length)) return false;
  return true;
}

size_t CPatternSet::MinNameLength() const {
  size_t n = fixed_ ? fixed_->length : 0;
  for (const qvPlainTerm* p = plain_; p; p = p->next)
    if (p->length > n) n = p->length;
  for (const qvWildTerm* w : {star_, mixed_})
    for (; w; w = w->next)
      if (w->MinLength() > n) n = w->MinLength();
  return n;
}
