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
  bool MayMatch(const qvscan::StoredName& n, bool hasExt, uint32_t ext) const;

 private:
  const qvExtendedScan& scan_;
  qvscan::Prefilter pre_;
  qvWholeNameTerm runTerm_;
};
