// A search in the modes of qvMatchOptions: files tested by their whole
// name, case matched, terms holding "/" tested against paths, one regular
// expression, pinyin, hidden items left out. Names are walked as the
// designed scans walk them (store order, a second thread on long lists);
// cheap tests on the stored bytes come first, the name is decoded only
// for the names that pass them.
//
// The caller holds the engine lock from Prepare to the end of Scan.
#pragma once

#include <memory>
#include <string>

#include "qvFolderMarks.h"
#include "qvIndex.h"
#include "qvMatchOptions.h"
#include "qvPatternSet.h"
#include "qvPinyin.h"
#include "qvQueryParts.h"
#include "qvRegexTerm.h"

class qvExtFilter;

class qvExtendedScan {
 public:
  enum class Outcome { kReady, kNothing, kInvalid };

  explicit qvExtendedScan(qvIndex& index) : index_(index), pathSet_(index.heap) {}

  // Compiles the query into `set` (name terms) and the scan's own parts.
  // kNothing: no name can match (no term, or terms that contradict each
  // other); kInvalid: the regular expression is not valid (Error() says
  // why).
  Outcome Prepare(CPatternSet& set, const qvChar* query, const qvMatchOptions& options);
  const std::string& Error() const { return error_; }

  // Appends the hits to the index's results in store order. False when a
  // result page could not be allocated.
  bool Scan(const CPatternSet& set, const qvExtFilter* filter);

 private:
  friend class qvExtendedTester;
  friend class qvNameCandidates;  // the same first cut, outside a scan
  qvIndex& index_;
  qvMatchOptions options_;
  qvQueryParts parts_;
  qvString nameText_;  // compiled in place by the pattern set
  bool wholeName_ = false;
  bool useMarks_ = false;
  bool pathByMarks_ = false;  // path terms tested through the folder marks
  bool slowPath_ = false;  // path terms tested on built paths
  CPatternSet pathSet_;
  qvFolderMarks marks_;
  std::unique_ptr<qvRegexTerm> regex_;
  // Per plain term of the set, in its order: the term read as pinyin, or
  // null where it cannot be (no letter, a non-ASCII unit).
  std::vector<std::unique_ptr<qvPinyinTerm>> pinyin_;
  bool anyPinyin_ = false;
  std::string error_;
};
