// Random names and random queries: every search must return exactly the
// records a plainly written matcher accepts, in store order.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "qvPackedName.h"
#include "qvScans.h"
#include "qvSearchDriver.h"
#include "match_reference.h"
#include "search_helpers.h"

namespace {

using qvmatchref::Glob;
using qvmatchref::Words;

using qvsearchtest::E;
using qvsearchtest::SearchEngine;

// A name matches when it holds every plain term and matches every term
// with "?" or "*" as a whole; terms of stars only say nothing, and a query
// of nothing else matches no name.
bool BruteMatch(const std::vector<std::u16string>& terms, const std::u16string& name) {
  bool any = false;
  for (const auto& t : terms) {
    if (t.find_first_not_of(u'*') == std::u16string::npos) continue;
    any = true;
    bool wild = t.find_first_of(u"?*") != std::u16string::npos;
    if (wild ? !Glob(t, name) : name.find(t) == std::u16string::npos) return false;
  }
  return any;
}

std::u16string StoredName(const uint8_t* bytes, size_t length) {
  std::vector<qvChar> units(length + 1);
  size_t n = PackedName::Decode(bytes, length, units.data(), units.size());
  return std::u16string(units.data(), n);
}

class RandomSearch : public ::testing::Test {
 protected:
  std::mt19937 rng{20240611};
  size_t Pick(size_t n) { return static_cast<size_t>(rng() % n); }

  std::u16string RandomName() {
    static const std::u16string alphabet =
        u"abcABx.. -\u00E9\u00C9\u62A5\u4E61\u0161\x01\x1f?*";
    size_t len = Pick(10) < 7 ? 1 + Pick(8) : 9 + Pick(32);
    std::u16string s;
    for (size_t i = 0; i < len; ++i) s += alphabet[Pick(alphabet.size())];
    if (Pick(3) == 0) s += std::u16string(u".") + (Pick(2) ? u"jpg" : Pick(2) ? u"JPG" : u"png");
    return s;
  }

  std::u16string RandomQuery() {
    static const std::u16string alphabet = u"aaabbcABx.-\u00E9\u62A5\u4E61\x01????***";
    std::u16string q;
    if (Pick(4) == 0) q += u' ';
    size_t terms = Pick(12) == 0 ? 0 : 1 + Pick(3);
    for (size_t t = 0; t < terms; ++t) {
      if (t) q += Pick(3) ? u" " : u"  ";
      size_t len = 1 + Pick(4);
      for (size_t i = 0; i < len; ++i) q += alphabet[Pick(alphabet.size())];
    }
    if (Pick(4) == 0) q += u' ';
    return q;
  }
};

TEST_F(RandomSearch, EveryScanAgreesWithAPlainMatcher) {
  std::vector<E::Entry> entries;
  std::vector<uint64_t> folders = {5};
  for (uint64_t ref = 16; ref < 16 + 1200; ++ref) {
    uint64_t parent = folders[Pick(folders.size())];
    if (Pick(5) == 0) {
      entries.push_back(E::Folder(ref, parent, RandomName()));
      folders.push_back(ref);
    } else {
      entries.push_back(E::File(ref, parent, RandomName()));
    }
  }
  SearchEngine s(std::move(entries));
  ASSERT_NE(s.engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();

  // The store as the plain matcher sees it: folded names, extension texts.
  struct Item {
    uint8_t* record;
    std::u16string name;
    std::u16string ext;
    bool hasExt;
  };
  std::vector<Item> folderItems, fileItems;
  std::set<std::u16string> knownExts;
  for (size_t i = 0; i < app->folderList.Count(); ++i) {
    uint8_t* r = app->folderList.At(i);
    folderItems.push_back({r, qvmatchref::Fold(StoredName(DirRecord::Name(r), DirRecord::NameLength(r))), u"", false});
  }
  for (size_t i = 0; i < app->fileList.Count(); ++i) {
    uint8_t* r = app->fileList.At(i);
    Item item{r, qvmatchref::Fold(StoredName(FileRecord::Name(r), FileRecord::NameLength(r))), u"", FileRecord::HasExtension(r)};
    if (item.hasExt) item.ext = app->extTable.Text(FileRecord::ExtId(r));
    knownExts.insert(item.ext);
    fileItems.push_back(item);
  }

  const std::u16string filters[] = {u"jpg", u"JPG png", u"xyz", u"xyz jpg", u"  ", u"png"};
  std::map<qvScanKind, int> kinds;
  int withHits = 0;
  const int kCases = 3000;
  for (int c = 0; c < kCases; ++c) {
    std::u16string query = RandomQuery();
    std::u16string filter = Pick(4) == 0 ? filters[Pick(std::size(filters))] : u"";
    // Every other case with the loops for 32-byte vectors off, where this
    // processor has them: both loops must give the same hits.
    const bool wide = c % 2 == 0;
    SetScanWideVectors(wide);
    s.Search(query, filter);

    std::vector<std::u16string> terms = Words(qvmatchref::Fold(query));
    std::vector<std::u16string> filterWords = Words(qvmatchref::Fold(filter));
    std::set<std::u16string> ids;
    for (const auto& w : filterWords)
      if (knownExts.count(w)) ids.insert(w);
    std::vector<uint8_t*> expected;
    if (!terms.empty() && (filterWords.empty() || !ids.empty())) {
      if (filterWords.empty())
        for (const Item& it : folderItems)
          if (BruteMatch(terms, it.name)) expected.push_back(it.record);
      for (const Item& it : fileItems)
        if ((filterWords.empty() || (it.hasExt && ids.count(it.ext))) && BruteMatch(terms, it.name))
          expected.push_back(it.record);
    }
    std::vector<uint8_t*> actual;
    for (size_t i = 0; i < app->folderResults.Count(); ++i) actual.push_back(app->folderResults.At(i));
    for (size_t i = 0; i < app->fileResults.Count(); ++i) actual.push_back(app->fileResults.At(i));
    ASSERT_EQ(actual, expected) << "case " << c << " query '" << qvNameCodec::EncodeToString(query)
                                << "' filter '" << qvNameCodec::EncodeToString(filter) << "'"
                                << (ScanWideVectors() ? " (32-byte vectors)" : "");
    withHits += !expected.empty();

    // The single-name test the live update uses agrees too.
    CPatternSet& set = app->patternSet;
    std::u16string compiled = query;
    if (set.CompileQuery(compiled.data())) {
      ++kinds[ChooseScan(set)];
      if (c % 8 == 0) {
        for (const Item& it : fileItems) {
          std::u16string name = StoredName(FileRecord::Name(it.record), FileRecord::NameLength(it.record));
          ASSERT_EQ(set.MatchName(name.data(), name.size()), BruteMatch(terms, it.name))
              << "case " << c << " name '" << qvNameCodec::EncodeToString(it.name) << "'";
        }
      }
    }
  }
  SetScanWideVectors(true);
  // Every scan has been exercised, and the queries are not all empty.
  for (qvScanKind k : {qvScanKind::kFixed, qvScanKind::kStar, qvScanKind::kMixed, qvScanKind::kPlainAscii,
                       qvScanKind::kPlainWide, qvScanKind::kNone})
    EXPECT_GT(kinds[k], 30) << static_cast<int>(k);
  EXPECT_GT(withHits, kCases / 4);
}

// Lists long enough to be walked by two threads: the hits of the second
// half must follow those of the first, exactly as one thread finds them.
TEST_F(RandomSearch, SplitListsKeepStoreOrder) {
  std::vector<E::Entry> entries;
  const std::u16string alphabet = u"abcdAB._\u62A5";
  for (uint64_t ref = 16; ref < 16 + 160000; ++ref) {
    std::u16string name;
    for (size_t i = 0, n = 2 + Pick(14); i < n; ++i) name += alphabet[Pick(alphabet.size())];
    entries.push_back(ref % 2 ? E::File(ref, 5, name) : E::Folder(ref, 5, name));
  }
  SearchEngine s(std::move(entries));
  ASSERT_NE(s.engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  ASSERT_GE(app->folderList.Count(), 1u << 16);
  ASSERT_GE(app->fileList.Count(), 1u << 16);
  auto results = [&] {
    std::vector<uint8_t*> all;
    for (size_t i = 0; i < app->folderResults.Count(); ++i) all.push_back(app->folderResults.At(i));
    for (size_t i = 0; i < app->fileResults.Count(); ++i) all.push_back(app->fileResults.At(i));
    return all;
  };
  const unsigned threads = ScanThreads();
  SetScanHelperWhenBusy(true);
  for (const char16_t* q : {u"ab", u"abc dab", u"a?c*", u"*d.a*", u"??b?", u"\u62A5a", u"*?"}) {
    SetScanThreads(1);
    s.Search(q);
    std::vector<uint8_t*> one = results();
    SetScanThreads(2);
    s.Search(q);
    EXPECT_EQ(results(), one) << qvNameCodec::EncodeToString(q);
    EXPECT_GT(one.size(), 10u) << qvNameCodec::EncodeToString(q);
  }
  SetScanHelperWhenBusy(false);
  SetScanThreads(threads);
}

}  // namespace
