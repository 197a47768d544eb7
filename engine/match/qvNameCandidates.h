// The cheap half of the extended scan's test, on its own: whether a name,
// as stored bytes, may match a prepared query. A name it turns down never
// matches; a name it passes still goes through the whole test. It lets a
// reader of the saved index keep only the records a query may find (and
// their folders) without building the index first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvExtendedScan.h"
#include "qvScanWalk.h"
#include "qvWholeNameTerm.h"

class qvNameCandidates {
 public:
  // `scan` was prepared (kReady) with `set`; both outlive this object.
  qvNameCandidates(const qvExtendedScan& scan, const CPatternSet& set, const ExtTable& extensions);

  // False when the query has no ASCII run every match holds: then every
  // name is a candidate and the test narrows nothing.
  bool Narrows() const { return pre_.active; }

  // `n.record` must start at least 16 readable bytes before `n.bytes`;
  // `ext` is the file's extension id when `hasExt`.
  bool MayMatch(const qvscan::StoredName& n, bool hasExt, uint32_t ext) const {
    if (HiddenOut(n)) return false;
    if (!pre_.active) return true;
    return pre_.finder.Find(n.record, n.bytes, n.length) || MayMatchWithoutRun(n, hasExt, ext);
  }

  // The parts of MayMatch, for a reader that runs the finder in a loop of
  // its own (Narrows() must hold): a name the finder turns down may still
  // match through its extension or its pinyin, which only a wide name or a
  // file with an extension can, and only when ReachesBeyondRun.
  const qvAsciiTermFinder& Finder() const { return pre_.finder; }
  bool HiddenOut(const qvscan::StoredName& n) const {
    return !scan_.options_.showHidden && n.length > 0 && n.bytes[0] == '.';
  }
  bool ReachesBeyondRun(bool wide, bool hasExt) const { return (wide && scan_.anyPinyin_) || (hasExt && extMatters_); }
  bool MayMatchWithoutRun(const qvscan::StoredName& n, bool hasExt, uint32_t ext) const;

  // What the test asks of a name, for a reader that picks the names to
  // test from an index of their bytes: the run, folded (ASCII units); and
  // whether a name without it may still pass, through its extension or,
  // for a name with wide units, through pinyin. `visit(first, letter)`
  // gets each pinyin term's first unit (folded) and, when that is a
  // letter, the letter (else 0): the first cut's MayOpenPacked needs one
  // of the two in the name.
  const qvChar* Run() const { return pre_.run; }
  size_t RunLength() const { return pre_.runLength; }
  bool ExtMatters() const { return extMatters_; }
  bool AnyPinyin() const { return scan_.anyPinyin_; }
  template <class Visit>
  void ForEachPinyinFirst(Visit visit) const {
    for (const auto& term : scan_.pinyin_)
      if (term) visit(term->First(), term->FirstLetter());
  }

 private:
  const qvExtendedScan& scan_;
  qvscan::Prefilter pre_;
  qvWholeNameTerm runTerm_;
  bool extMatters_ = false;  // the run may reach into a file's extension
};
