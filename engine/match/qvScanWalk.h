// The pieces every scan is made of: the stored names as the records keep
// them, the walk over the folder and file lists (shared with a second
// thread on long lists), the decoding of a name into folded units and the
// prefilter that passes over names without the query's longest ASCII run.
// The caller of Walk holds the engine lock.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "qvAsciiTermFinder.h"
#include "qvExtFilter.h"
#include "qvIdleCore.h"
#include "qvIndex.h"
#include "qvPackedName.h"
#include "qvPatternSet.h"
#include "qvScanHelper.h"
#include "qvWholeNameTerm.h"

namespace qvscan {

// A stored name as the records keep it.
struct StoredName {
  const uint8_t* record;
  const uint8_t* bytes;
  size_t length;  // bytes
  bool wide;      // holds a unit of 128 or more
  bool file;      // a file record (else a folder record)
};

inline StoredName FolderName(const uint8_t* r) {
  uint16_t field = LoadU16(r + 8);
  return {r, r + DirRecord::kHeaderSize, static_cast<size_t>(field & DirRecord::kLengthMask),
          (field & DirRecord::kNonAscii) != 0, false};
}

inline StoredName FileName(const uint8_t* r) {
  uint32_t flags = LoadU32(r);
  bool longLength = (flags & FileRecord::kLongLength) != 0;
  size_t length = longLength ? LoadU16(r + 8) : r[8];
  return {r, r + (longLength ? 10 : 9), length, (flags & FileRecord::kNonAscii) != 0, true};
}

// --- walking the lists -------------------------------------------------------

// No software prefetch: after every scan the records are laid out in list
// order (see qvCompact.h), which the hardware prefetcher follows, and
// prefetches issued ahead of it only crowd the line buffers.

// Below this many items a second thread costs more than it saves.
constexpr size_t kSplitItems = 1 << 16;

inline std::atomic<unsigned> gScanThreads{std::thread::hardware_concurrency() > 1 ? 2u : 1u};
// Whether a scan offers the helper a share when no core stands idle: only
// tests do, so that the shared walk is tried on a loaded machine too.
inline std::atomic<bool> gHelperWhenBusy{false};
// Whether the scans that have a loop for 32-byte vectors use it: where the
// processor has them, unless a test turns it off to try the other loop.
inline std::atomic<bool> gWideVectors{qvAsciiTermFinder::HasWideVectors()};
inline bool WideVectors() { return gWideVectors.load(std::memory_order_relaxed); }

// A test may make a first cut a whole page at a time (a loop compiled for
// wider vectors than the rest of the engine, say): `test.Cut<Files>(page,
// from, to, filter, out)` writes the records of slots [from, to) that pass
// the filter and may pass the test, and returns how many; the test is then
// asked about those alone.
template <typename Test, bool Files>
concept CutsPages = requires(Test& t, const RecordPage& page, uint8_t** out) {
  { t.template Cut<Files>(page, uint32_t{}, uint32_t{}, static_cast<const qvExtFilter*>(nullptr), out) };
};
constexpr uint32_t kCutBatch = 256;

template <bool Files, typename Test, typename Hit>
bool WalkPages(const RecordList& list, size_t from, size_t to, const qvExtFilter* filter, Test& test,
               Hit&& hit) {
  for (size_t p = from; p < to; ++p) {
    const RecordPage* page = list.Page(p);
    const uint32_t end = page->end;
    if constexpr (CutsPages<Test, Files>) {
      uint8_t* cut[kCutBatch];
      for (uint32_t i = page->first; i < end; i += kCutBatch) {
        const uint32_t n = test.template Cut<Files>(*page, i, std::min(end, i + kCutBatch), filter, cut);
        for (uint32_t k = 0; k < n; ++k)
          if (test(Files ? FileName(cut[k]) : FolderName(cut[k])) && !hit(cut[k])) return false;
      }
    } else {
      for (uint32_t i = page->first; i < end; ++i) {
        uint8_t* r = page->slots[i];
        if constexpr (Files) {
          // The filter is the cheaper test and the outcome is the same.
          if (filter && !filter->Passes(r)) continue;
          if (!test(FileName(r))) continue;
        } else {
          if (!test(FolderName(r))) continue;
        }
        if (!hit(r)) return false;
      }
    }
  }
  return true;
}

// The file list's pages, handed out one at a time: to this thread from the
// front, to the helper from the back. Whoever runs takes the next one, so
// a helper that starts late (an idle core can take milliseconds to wake
// in a virtual machine) or shares this thread's core costs nothing; the
// two meet where their speeds put them. Front and back share one word.
class PageClaims {
 public:
  explicit PageClaims(size_t pages) : word_(Pack(0, pages)) {}
  bool Front(size_t* page) {
    uint64_t w = word_.load(std::memory_order_relaxed);
    do {
      if (FrontOf(w) >= BackOf(w)) return false;
      *page = FrontOf(w);
    } while (!word_.compare_exchange_weak(w, Pack(FrontOf(w) + 1, BackOf(w)), std::memory_order_relaxed));
    return true;
  }
  bool Back(size_t* page) {
    uint64_t w = word_.load(std::memory_order_relaxed);
    do {
      if (FrontOf(w) >= BackOf(w)) return false;
      *page = BackOf(w) - 1;
    } while (!word_.compare_exchange_weak(w, Pack(FrontOf(w), BackOf(w) - 1), std::memory_order_relaxed));
    return true;
  }

 private:
  static uint64_t Pack(uint64_t front, uint64_t back) { return front << 32 | back; }
  static size_t FrontOf(uint64_t w) { return static_cast<size_t>(w >> 32); }
  static size_t BackOf(uint64_t w) { return static_cast<size_t>(w & 0xFFFFFFFFu); }
  std::atomic<uint64_t> word_;
};

// Walks the folder list (unless a filter is set: folders have no
// extension) and the file list; the caller holds the engine lock, which
// keeps both lists still until the helper's share is settled. With two
// threads, enough items and a core standing idle, the helper walks file
// pages from the back while this thread walks the folders, then file pages
// from the front; the helper's hits follow once it is done, page by page,
// so the hits keep store order. A helper that has not begun when this thread is done is
// not waited for.
// `makeTest` gives each thread a test of its own.
template <typename MakeTest>
bool Walk(qvIndex& app, const qvExtFilter* filter, MakeTest&& makeTest) {
  RecordList& folders = app.folderList;
  RecordList& files = app.fileList;
  const size_t folderItems = filter ? 0 : folders.Count();
  const size_t pages = files.PageCount();
  // The page count fits the claim word's halves: a list has far fewer.
  PageClaims claims(pages);
  const bool shared = gScanThreads.load(std::memory_order_relaxed) > 1 && pages > 1 &&
                      folderItems + files.Count() >= kSplitItems &&
                      (gHelperWhenBusy.load(std::memory_order_relaxed) || qvIdleCore::Available());

  qvScanHelper& helper = qvScanHelper::Get();
  std::vector<uint8_t*>& helperHits = helper.Hits();
  std::vector<size_t>& helperPages = helper.Pages();
  bool helperOk = true;
  // The helper's share: file pages from the back, for as long as there are
  // pages this thread has not claimed.
  auto share = [&] {
    try {
      auto test = makeTest();
      size_t p;
      while (helperOk && claims.Back(&p)) {
        helperPages.push_back(helperHits.size());
        helperOk = WalkPages<true>(files, p, p + 1, filter, test, [&](uint8_t* r) {
          helperHits.push_back(r);
          return true;
        });
      }
    } catch (const std::bad_alloc&) {
      helperOk = false;  // out of memory: the hits so far are kept
    }
  };
  const bool offered =
      shared && helper.Offer([](void* job) { (*static_cast<decltype(share)*>(job))(); }, &share);
  bool ok = true;
  try {
    auto test = makeTest();
    if (!filter)
      ok = WalkPages<false>(folders, 0, folders.PageCount(), nullptr, test,
                            [&](uint8_t* r) { return app.folderResults.Append(r); });
    size_t p;
    while (ok && claims.Front(&p))
      ok = WalkPages<true>(files, p, p + 1, filter, test, [&](uint8_t* r) { return app.fileResults.Append(r); });
  } catch (...) {
    // The share refers to this frame.
    if (offered) helper.Settle();
    throw;
  }
  if (offered && helper.Settle()) {
    // The helper walked its pages last first: append them first to last.
    size_t end = helperHits.size();
    for (size_t k = helperPages.size(); ok && k-- > 0;) {
      size_t begin = helperPages[k];
      for (size_t i = begin; ok && i < end; ++i) ok = app.fileResults.Append(helperHits[i]);
      end = begin;
    }
    ok = ok && helperOk;
  }
  return ok;
}

// --- decoding and pre-tests --------------------------------------------------

// The folded units of a name. Every record lies in one pool block, so a
// name never has more units than a block has bytes.
class DecodedName {
 public:
  static constexpr size_t kCapacity = CMemoryPool::kBlockSize + 1;

  // Out of line: it is the slow path, and keeping it out of the walk's
  // loop leaves that loop its registers.
  [[gnu::noinline]] size_t Decode(const StoredName& n) {
    if (n.wide || n.length >= kCapacity)
      return PackedName::DecodeLowerCase(n.bytes, n.length, units_, kCapacity);
    // ASCII only: widen and fold sixteen bytes at a time.
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80 - 'A'));
    const __m128i upperLimit = _mm_set1_epi8(static_cast<char>(0x80 - 'A' + 'Z' + 1 - 0x100));
    const __m128i caseBit = _mm_set1_epi8(0x20);
    size_t i = 0;
    for (; i + 16 <= n.length; i += 16) {
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(n.bytes + i));
      // 'A'..'Z' move to the bottom of the signed range.
      __m128i upper = _mm_cmplt_epi8(_mm_add_epi8(b, bias), upperLimit);
      b = _mm_or_si128(b, _mm_and_si128(upper, caseBit));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(units_ + i), _mm_unpacklo_epi8(b, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(units_ + i + 8), _mm_unpackhi_epi8(b, zero));
    }
    for (; i < n.length; ++i) units_[i] = qvFoldUnit(n.bytes[i]);
    return n.length;
  }
  const qvChar* Units() const { return units_; }

 private:
  qvChar units_[kCapacity];
};

// Units 1..127 other than the pattern characters of a wildcard text.
inline bool IsRunUnit(qvChar c, bool wild) {
  return c >= 1 && c < 128 && !(wild && (c == u'?' || c == u'*'));
}

inline void LongestRun(const qvChar* t, size_t n, bool wild, const qvChar*& best, size_t& bestLength) {
  for (size_t i = 0; i < n;) {
    while (i < n && !IsRunUnit(t[i], wild)) ++i;
    size_t j = i;
    while (j < n && IsRunUnit(t[j], wild)) ++j;
    if (j - i > bestLength) {
      best = t + i;
      bestLength = j - i;
    }
    i = j;
  }
}

// The longest run of ASCII units that every matching name holds: a piece
// of a plain term or of a literal run of a pattern. Its bytes must occur in
// the packed name, which the finder tells without decoding; names without
// it are passed over.
struct Prefilter {
  Prefilter() = default;
  // An ASCII run every matching name holds, given directly.
  void SetRun(const qvChar* text, size_t length) {
    if (length >= QV_TERM_CAPACITY) length = QV_TERM_CAPACITY - 1;
    for (size_t i = 0; i < length; ++i) run[i] = qvFoldUnit(text[i]);
    runLength = length;
    active = length > 0;
    if (active) finder.Set(run, length);
  }
  explicit Prefilter(const CPatternSet& set) {
    const qvChar* best = nullptr;
    size_t length = 0;
    for (const qvPlainTerm* p = set.Plain(); p; p = p->next)
      LongestRun(p->text, p->length, false, best, length);
    if (set.Fixed()) LongestRun(set.Fixed()->text, set.Fixed()->length, true, best, length);
    for (const qvWildTerm* w : {set.Star(), set.Mixed()})
      for (; w; w = w->next) LongestRun(w->text, w->length, true, best, length);
    active = length > 0;
    // Folded here: a search that matches case keeps its terms as typed,
    // and the run is then a necessary test of either case.
    for (size_t i = 0; i < length; ++i) run[i] = qvFoldUnit(best[i]);
    runLength = length;
    if (active) finder.Set(run, length);
  }
  bool MayMatch(const StoredName& n) const { return !active || finder.Find(n.record, n.bytes, n.length); }

  qvAsciiTermFinder finder;
  bool active = false;
  qvChar run[QV_TERM_CAPACITY];
  size_t runLength = 0;
};

// The first cut of a one-term scan on a processor with 32-byte vectors
// (see WideVectors), a page at a time in a loop compiled for them: one
// window per name, reaching back before short names (every record lies in
// a record pool, which keeps CMemoryPool::kReadBehind readable bytes before
// it). Each record is written down and counted only if it goes on, so the
// loop has no branch on the outcome. A record goes on when its name holds
// the term's bytes, when it is wide and `keepWide`, or when it is a file
// whose extension `extTerm` says the term may reach into; `rest` then
// decides on it.
template <int kLead, typename Rest>
struct WideVectorCut {
  static_assert(qvAsciiTermFinder::kPoolReadBehind <= CMemoryPool::kReadBehind);
  qvAsciiTermFinder finder;
  Rest rest;
  bool keepWide = false;
  const qvWholeNameTerm* extTerm = nullptr;

  template <bool Files>
  [[gnu::target("avx2")]] uint32_t Cut(const RecordPage& page, uint32_t from, uint32_t to,
                                       const qvExtFilter* filter, uint8_t** out) const {
    uint32_t n = 0;
    for (uint32_t i = from; i < to; ++i) {
      uint8_t* r = page.slots[i];
      if constexpr (Files)
        if (filter && !filter->Passes(r)) continue;
      const StoredName name = Files ? FileName(r) : FolderName(r);
      bool keep = finder.template FindInPool<kLead>(r, name.bytes, name.length) | (keepWide & name.wide);
      if constexpr (Files)
        if (extTerm && FileRecord::HasExtension(r)) {
          const uint32_t ext = FileRecord::ExtId(r);
          keep |= extTerm->InExtension(ext) || extTerm->Spans(ext) != 0;
        }
      out[n] = r;
      n += keep;
    }
    return n;
  }
  bool operator()(const StoredName& n) { return rest(n); }
};

// Calls `f` with the finder's lead as a constant (std::integral_constant),
// for a scan that calls FindWith on every name.
template <typename F>
decltype(auto) WithLead(const qvAsciiTermFinder& finder, F&& f) {
  switch (finder.Lead()) {
    case 1:
      return f(std::integral_constant<int, 1>{});
    case 2:
      return f(std::integral_constant<int, 2>{});
    default:
      return f(std::integral_constant<int, 3>{});
  }
}

inline size_t UnitCount(const StoredName& n) {
  return n.wide ? PackedName::UnitCount(n.bytes, n.length) : n.length;
}

// Bytes the longest plain term takes when packed: a name with fewer
// cannot hold it.
inline size_t PlainMinBytes(const CPatternSet& set) {
  size_t n = 0;
  for (const qvPlainTerm* t = set.Plain(); t; t = t->next) {
    size_t b = PackedName::EncodedLength(t->text, t->length);
    if (b > n) n = b;
  }
  return n;
}

}  // namespace qvscan
