#include "qvNameCandidates.h"

qvNameCandidates::qvNameCandidates(const qvExtendedScan& scan, const CPatternSet& set, const ExtTable& extensions)
    : scan_(scan) {
  // The run and the extension facts exactly as qvExtendedScan::Scan makes them.
  if (!scan.regex_) pre_ = qvscan::Prefilter(set);
  else if (!scan.regex_->WantsPath()) pre_.SetRun(scan.regex_->RequiredRun().data(), scan.regex_->RequiredRun().size());
  if (pre_.active && (scan.wholeName_ || scan.regex_)) runTerm_.Build(extensions, pre_.run, pre_.runLength);
  extMatters_ = pre_.active && (scan.wholeName_ || scan.regex_) && runTerm_.AnyExtension();
}

// The tester's first cut beyond the run in the base name: the run in the
// extension, across the dot, or a name pinyin may spell.
bool qvNameCandidates::MayMatchWithoutRun(const qvscan::StoredName& n, bool hasExt, uint32_t ext) const {
  if (n.file && hasExt && extMatters_) {
    if (runTerm_.InExtension(ext)) return true;
    uint64_t spans = runTerm_.Spans(ext);
    if (spans && n.wide) return true;
    for (; spans; spans &= spans - 1)
      if (runTerm_.BaseEndsWithHead(n.bytes, n.length, static_cast<unsigned>(__builtin_ctzll(spans)))) return true;
  }
  if (scan_.anyPinyin_ && n.wide)
    for (const auto& term : scan_.pinyin_)
      if (term && term->MayOpenPacked(n.bytes, n.length)) return true;
  return false;
}
