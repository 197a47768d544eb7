#include "qvExtendedScan.h"

#include "qvRecordPath.h"
#include "qvScanWalk.h"
#include "qvWholeNameTerm.h"

using namespace qvscan;

qvExtendedScan::Outcome qvExtendedScan::Prepare(CPatternSet& set, const qvChar* query,
                                                const qvMatchOptions& options) {
  options_ = options;
  parts_ = qvSplitQuery(query, options);
  wholeName_ = options.wholeName;
  error_.clear();
  set.Clear();
  pathSet_.Clear();
  regex_.reset();
  if (parts_.regex) {
    if (parts_.pattern.empty()) return Outcome::kNothing;
    regex_ = std::make_unique<qvRegexTerm>();
    if (!regex_->Compile(parts_.pattern, parts_.matchCase, &error_)) return Outcome::kInvalid;
  } else {
    nameText_ = parts_.nameQuery;
    nameText_.push_back(0);
    bool compiled = set.CompileQuery(nameText_.data(), !parts_.matchCase);
    // Terms that contradict each other find nothing; without a name term
    // (or with stars alone) the path terms decide.
    if (!parts_.nameQuery.empty() && !compiled) return Outcome::kNothing;
    if (set.Empty() && parts_.pathTerms.empty()) return Outcome::kNothing;
  }
  pinyin_.clear();
  anyPinyin_ = false;
  // Readings are letters of no case: a search that matches case spells
  // by them nothing it would not also find folded, so it goes without.
  if (options.pinyin && !parts_.matchCase) {
    qvString folded;
    for (const qvPlainTerm* t = set.Plain(); t; t = t->next) {
      folded.assign(t->text, t->length);
      for (qvChar& c : folded) c = qvFoldUnit(c);
      auto term = std::make_unique<qvPinyinTerm>();
      if (!term->Set(folded.data(), folded.size())) term.reset();
      anyPinyin_ |= term != nullptr;
      pinyin_.push_back(std::move(term));
    }
  }
  // Path terms fold as the names do.
  std::vector<qvString> terms = parts_.pathTerms;
  if (!parts_.matchCase)
    for (qvString& t : terms)
      for (qvChar& c : t) c = qvFoldUnit(c);
  slowPath_ = parts_.pathWildcards || terms.size() > qvFolderMarks::kMaxPathTerms;
  if (slowPath_) {
    qvString text;
    for (const qvString& t : terms) text += t + u" ";
    text.push_back(0);
    if (!pathSet_.CompileQuery(text.data(), !parts_.matchCase) || pathSet_.Empty()) return Outcome::kNothing;
    terms.clear();
  }
  pathByMarks_ = !terms.empty();
  useMarks_ = !options.showHidden || pathByMarks_;
  if (useMarks_ && !marks_.Build(index_, terms, parts_.matchCase)) return Outcome::kNothing;
  return Outcome::kReady;
}

// The test one thread runs on every name; the scan's parts are shared and
// read only.
class qvExtendedTester {
 public:
  qvExtendedTester(const qvExtendedScan& scan, const CPatternSet& set, const Prefilter& pre,
                   const qvWholeNameTerm& runTerm, bool singleTerm)
      : scan_(scan), index_(scan.index_), set_(set), pre_(pre), runTerm_(runTerm), singleTerm_(singleTerm) {
    if (scan.regex_) regexScratch_ = std::make_unique<qvRegexTerm::Scratch>(*scan.regex_);
  }

  bool operator()(const StoredName& n) {
    const uint8_t* r = n.record;
    const bool file = n.file;
    const bool matchCase = scan_.parts_.matchCase;
    const RecordRef parentRef = file ? FileRecord::Parent(r) : DirRecord::Parent(r);
    const uint16_t marks = scan_.useMarks_ ? scan_.marks_.Of(parentRef) : 0;
    if (!scan_.options_.showHidden) {
      if (n.length > 0 && n.bytes[0] == '.') return false;
      if (qvFolderMarks::BelowHidden(marks)) return false;
    }
    // The parent's marks rule most items out before their name is read.
    qvFolderMarks::Verdict path = qvFolderMarks::Verdict::kPasses;
    if (scan_.pathByMarks_ && parentRef != kNullRef) {
      path = scan_.marks_.PathVerdict(marks);
      if (path == qvFolderMarks::Verdict::kFails) return false;
    }

    // The name terms see the extension in whole-name mode; a regular
    // expression and the path terms always do.
    const bool extFile = file && FileRecord::HasExtension(r);
    const bool hasExt = extFile && (scan_.wholeName_ || scan_.regex_);
    const bool extMatters = hasExt && runTerm_.AnyExtension();
    const uint32_t ext = extFile ? FileRecord::ExtId(r) : 0;
    bool nameKnown = false;  // the name terms are known to pass
    if (scan_.regex_ && !RequiredByteIn(n, hasExt, ext)) return false;
    if (pre_.active) {
      bool inBase = pre_.finder.Find(r, n.bytes, n.length);
      bool inExt = !inBase && extMatters && runTerm_.InExtension(ext);
      bool spans = !inBase && !inExt && extMatters && SpansDot(n, ext);
      // A name spelled in pinyin holds an ideograph that opens a reading
      // with a letter of a term.
      bool byPinyin = !inBase && !inExt && !spans && scan_.anyPinyin_ && n.wide && PinyinMayMatch(n);
      if (!inBase && !inExt && !spans && !byPinyin) return false;
      // One plain ASCII term: where it is found in a name without wide
      // units, it is in the whole name; nothing is decoded.
      nameKnown = singleTerm_ && !n.wide && !scan_.regex_;
    }

    const bool testName = !scan_.regex_ && !set_.Empty() && !nameKnown;
    const bool testPath =
        scan_.slowPath_ || (scan_.pathByMarks_ && (path != qvFolderMarks::Verdict::kPasses || parentRef == kNullRef));
    if (!scan_.regex_ && !testName && !testPath) return true;
    size_t baseLength = 0;
    size_t len = DecodeWholeName(n, extFile, ext, matchCase || scan_.regex_, &baseLength);
    const qvChar* u = units_;
    if (scan_.regex_) {
      if (scan_.regex_->WantsPath()) {
        const qvChar* path = Path(file, r, u, len);
        return regexScratch_->Matches(path, pathLength_);
      }
      return regexScratch_->Matches(u, len);
    }
    if (testName && !NameTermsPass(u, scan_.wholeName_ ? len : baseLength)) return false;
    if (scan_.slowPath_) {
      const qvChar* path = Path(file, r, u, len);
      return scan_.pathSet_.Matches(path, pathLength_);
    }
    return !scan_.pathByMarks_ || scan_.marks_.PathPasses(parentRef, marks, u, len);
  }

  // Some pinyin term spells a part of this name, or may once the
  // extension that follows the stored name is read too; told from the
  // stored bytes, so that the many wide names it does not spell are never
  // decoded.
  bool PinyinMayMatch(const StoredName& n) const {
    const bool extFollows = scan_.wholeName_ && n.file && FileRecord::HasExtension(n.record);
    for (const auto& term : scan_.pinyin_) {
      // Without such an ideograph the term is found as typed or not at
      // all, which the plain tests decide.
      if (!term || !term->HoldsOpenerPacked(n.record, n.bytes, n.length)) continue;
      switch (term->MatchPacked(n.bytes, n.length)) {
        case qvPinyinTerm::Packed::kNo: break;
        case qvPinyinTerm::Packed::kOpen:
          if (extFollows) return true;
          break;
        case qvPinyinTerm::Packed::kMatch:
        case qvPinyinTerm::Packed::kMaybe: return true;
      }
    }
    return false;
  }

 private:
  // The whole name, folded unless `asTyped`, into units_; `baseLength`
  // receives the length of the base name, which the designed test sees.
  size_t DecodeWholeName(const StoredName& n, bool hasExt, uint32_t ext, bool asTyped, size_t* baseLength) {
    size_t len = asTyped ? PackedName::Decode(n.bytes, n.length, units_, kUnits)
                         : PackedName::DecodeLowerCase(n.bytes, n.length, units_, kUnits);
    *baseLength = len;
    if (!hasExt) return len;
    const qvString* real = asTyped ? index_.extCase.Get(n.record) : nullptr;
    const qvChar* text = real ? real->c_str() : index_.extTable.Text(ext);
    if (!text || len + 1 >= kUnits) return len;
    units_[len++] = u'.';
    for (; *text && len + 1 < kUnits; ++text) units_[len++] = *text;
    units_[len] = 0;
    return len;
  }

  // The run spans the dot between the base name and this extension.
  bool SpansDot(const StoredName& n, uint32_t ext) const {
    uint64_t spans = runTerm_.Spans(ext);
    // Bytes of wide units can look like ASCII: a wide name is decoded
    // and decided by the full test.
    if (spans && n.wide) return true;
    for (; spans; spans &= spans - 1)
      if (runTerm_.BaseEndsWithHead(n.bytes, n.length, static_cast<unsigned>(__builtin_ctzll(spans))))
        return true;
    return false;
  }

  // The regular expression's required ASCII unit is in the name.
  bool RequiredByteIn(const StoredName& n, bool hasExt, uint32_t ext) const {
    const char need = scan_.regex_->RequiredByte();
    if (!need || scan_.regex_->WantsPath()) return true;
    for (size_t i = 0; i < n.length; ++i) {
      uint8_t b = n.bytes[i];
      if (b == QV_WIDE_MARKER) {
        i += 2;
        continue;
      }
      if (b < 128 && kLowerCase.map[b] == static_cast<uint8_t>(need)) return true;
    }
    if (!hasExt) return false;
    // The dot before the extension is in the whole name too.
    if (need == '.') return true;
    // The table keeps extensions folded.
    for (const qvChar* t = index_.extTable.Text(ext); t && *t; ++t)
      if (*t == static_cast<qvChar>(need)) return true;
    return false;
  }

  bool NameTermsPass(const qvChar* u, size_t len) const {
    if (!set_.FixedPasses(u, len) || !set_.StarPasses(u, len) || !set_.MixedPasses(u, len)) return false;
    if (!scan_.anyPinyin_) return set_.PlainPasses(u, len);
    size_t i = 0;
    for (const qvPlainTerm* t = set_.Plain(); t; t = t->next, ++i) {
      if (qvContainsUnits(u, len, t->text, t->length)) continue;
      if (i < scan_.pinyin_.size() && scan_.pinyin_[i] && scan_.pinyin_[i]->Matches(u, len)) continue;
      return false;
    }
    return true;
  }

  // The item's whole path (its folder's path, then the name) into path_;
  // a volume root's is its name and "/".
  const qvChar* Path(bool file, const uint8_t* r, const qvChar* name, size_t len) {
    path_.clear();
    const RecordRef parent = file ? FileRecord::Parent(r) : DirRecord::Parent(r);
    qvAppendFolderPath(index_, parent, &path_);
    if (!scan_.parts_.matchCase && !scan_.regex_)
      for (qvChar& c : path_) c = qvFoldUnit(c);
    path_.append(name, len);
    if (parent == kNullRef) path_.push_back(u'/');
    pathLength_ = path_.size();
    return path_.c_str();
  }

  static constexpr size_t kUnits = CMemoryPool::kBlockSize + 1 + 256;
  const qvExtendedScan& scan_;
  const qvIndex& index_;
  const CPatternSet& set_;
  const Prefilter& pre_;
  const qvWholeNameTerm& runTerm_;
  const bool singleTerm_;
  std::unique_ptr<qvRegexTerm::Scratch> regexScratch_;
  qvChar units_[kUnits];
  qvString path_;
  size_t pathLength_ = 0;
};

bool qvExtendedScan::Scan(const CPatternSet& set, const qvExtFilter* filter) {
  Prefilter pre;
  if (!regex_) pre = Prefilter(set);
  else if (!regex_->WantsPath()) pre.SetRun(regex_->RequiredRun().data(), regex_->RequiredRun().size());
  qvWholeNameTerm runTerm;
  if (pre.active && (wholeName_ || regex_)) runTerm.Build(index_.extTable, pre.run, pre.runLength);
  const bool singleTerm = !parts_.matchCase && set.Plain() && !set.Plain()->next && !set.Fixed() &&
                          !set.Star() && !set.Mixed() && pre.active && pre.runLength == set.Plain()->length;
  if (singleTerm && !useMarks_ && !slowPath_ && !regex_) {
    // One word typed, the window's usual case: the designed scan's fast
    // test on the base name, each thread with its own copy of the finder;
    // the rest (a wide name, an extension that may complete the word, a
    // name pinyin may spell) goes to the whole test.
    const bool extMatters = wholeName_ && runTerm.AnyExtension();
    // The one term's pinyin: most wide names hold no ideograph that can
    // begin it, which is told here before anything else is asked.
    const qvPinyinTerm* pinyin = anyPinyin_ ? pinyin_.front().get() : nullptr;
    auto oneTermTest = [&] {
      return [finder = pre.finder, extMatters, pinyin, &runTerm,
              whole = qvExtendedTester(*this, set, pre, runTerm, singleTerm)](const StoredName& n) mutable {
        if (finder.Find(n.record, n.bytes, n.length)) return !n.wide || whole(n);
        if (extMatters && n.file && FileRecord::HasExtension(n.record)) {
          const uint32_t ext = FileRecord::ExtId(n.record);
          if (runTerm.InExtension(ext) || runTerm.Spans(ext)) return whole(n);
        }
        return pinyin && n.wide && pinyin->HoldsOpenerPacked(n.record, n.bytes, n.length) &&
               whole.PinyinMayMatch(n) && whole(n);
      };
    };
    // With 32-byte vectors, a first cut keeps every name the test above
    // may pass, and the test decides on those alone.
    if (WideVectors())
      return WithLead(pre.finder, [&](auto lead) {
        return Walk(index_, filter, [&] {
          auto test = oneTermTest();
          return WideVectorCut<decltype(lead)::value, decltype(test)>{pre.finder, std::move(test), pinyin != nullptr,
                                                                      extMatters ? &runTerm : nullptr};
        });
      });
    return Walk(index_, filter, oneTermTest);
  }
  return Walk(index_, filter, [&] { return qvExtendedTester(*this, set, pre, runTerm, singleTerm); });
}
