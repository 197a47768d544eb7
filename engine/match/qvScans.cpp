#include "qvScans.h"

#include "qvAsciiAutomaton.h"
#include "qvScanWalk.h"

using namespace qvscan;

void SetScanThreads(unsigned threads) { gScanThreads.store(threads > 1 ? 2 : 1, std::memory_order_relaxed); }
unsigned ScanThreads() { return gScanThreads.load(std::memory_order_relaxed); }
void SetScanHelperWhenBusy(bool on) { gHelperWhenBusy.store(on, std::memory_order_relaxed); }
void SetScanWideVectors(bool on) { gWideVectors.store(on && qvAsciiTermFinder::HasWideVectors()); }
bool ScanWideVectors() { return WideVectors(); }

bool ScanFixed(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter) {
  const size_t m = set.Fixed()->length;
  const Prefilter pre(set);
  return Walk(app, filter, [&] {
    return [&, d = DecodedName()](const StoredName& n) mutable {
      // A name of m units takes m to 3m bytes.
      if (n.length < m || (!n.wide && n.length != m) || n.length > 3 * m) return false;
      if (n.wide && UnitCount(n) != m) return false;
      if (!pre.MayMatch(n)) return false;
      size_t len = d.Decode(n);
      const qvChar* u = d.Units();
      return set.FixedPasses(u, len) && set.PlainPasses(u, len) && set.StarPasses(u, len) &&
             set.MixedPasses(u, len);
    };
  });
}

namespace {

// The star and mixed scans: names long enough and holding the prefilter's
// run are decoded, then `passes` decides on the folded units.
template <typename Passes>
bool ScanDecoded(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter, Passes passes) {
  const size_t minLength = set.MinNameLength();
  const Prefilter pre(set);
  return Walk(app, filter, [&] {
    return [&, d = DecodedName()](const StoredName& n) mutable {
      if (n.length < minLength || !pre.MayMatch(n)) return false;
      size_t len = d.Decode(n);
      return len >= minLength && passes(d.Units(), len);
    };
  });
}

// A wide name that holds the one term's bytes: the automaton decides, or
// the decoded name does. Out of line, and apart from the walk's loop.
[[gnu::noinline]] bool WideNamePasses(const CPatternSet& set, const qvAsciiAutomaton* automaton,
                                      const uint8_t* bytes, size_t length) {
  if (automaton) return automaton->Hit(bytes, length);
  DecodedName d;
  size_t len = d.Decode(StoredName{nullptr, bytes, length, true, true});
  return set.PlainPasses(d.Units(), len);
}

}  // namespace

bool ScanStar(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter) {
  return ScanDecoded(app, set, filter, [&](const qvChar* u, size_t len) {
    return set.StarPasses(u, len) && set.PlainPasses(u, len) && set.MixedPasses(u, len);
  });
}

bool ScanMixed(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter) {
  return ScanDecoded(app, set, filter, [&](const qvChar* u, size_t len) {
    return set.MixedPasses(u, len) && set.PlainPasses(u, len);
  });
}

bool ScanPlainAscii(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter) {
  const size_t minBytes = PlainMinBytes(set);
  // The longest term, found sixteen bytes at a time, rules out most names.
  // A lone term found in a name without wide units is a hit; otherwise the
  // automaton decides, or, for terms holding control codes (possible in
  // Linux names, beyond the automaton's rows), the decoded name does.
  const Prefilter pre(set);
  const bool single = !set.Plain()->next && pre.active && pre.finder.Length() == set.Plain()->length;
  qvAsciiAutomaton automaton(app.heap);
  const bool useAutomaton = automaton.Build(set.Plain());
  if (single) {
    // The common case, one word typed: each thread keeps its own copy of
    // the finder, whose masks then stay in registers through the walk.
    const qvAsciiAutomaton* decider = useAutomaton ? &automaton : nullptr;
    return WithLead(pre.finder, [&](auto lead) {
      // Once the term is found: a name without wide units is a hit.
      auto decide = [&set, decider](const StoredName& n) {
        return !n.wide || WideNamePasses(set, decider, n.bytes, n.length);
      };
      if (WideVectors())
        return Walk(app, filter, [&] {
          return WideVectorCut<decltype(lead)::value, decltype(decide)>{pre.finder, decide};
        });
      return Walk(app, filter, [&] {
        return [finder = pre.finder, minBytes, decide](const StoredName& n) {
          if (n.length < minBytes ||
              !finder.template FindWith<decltype(lead)::value>(n.record, n.bytes, n.length))
            return false;
          return decide(n);
        };
      });
    });
  }
  return Walk(app, filter, [&] {
    return [&, d = DecodedName()](const StoredName& n) mutable {
      if (n.length < minBytes || !pre.MayMatch(n)) return false;
      if (useAutomaton) return automaton.Hit(n.bytes, n.length);
      size_t len = d.Decode(n);
      return set.PlainPasses(d.Units(), len);
    };
  });
}

bool ScanPlainWide(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter) {
  const size_t minBytes = PlainMinBytes(set);
  const Prefilter pre(set);
  return Walk(app, filter, [&] {
    return [&, d = DecodedName()](const StoredName& n) mutable {
      if (!n.wide || n.length < minBytes || !pre.MayMatch(n)) return false;
      size_t len = d.Decode(n);
      return set.PlainPasses(d.Units(), len);
    };
  });
}
