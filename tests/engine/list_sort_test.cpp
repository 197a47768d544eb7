// The sort of the lists key after key: the chained keys agree with the full
// comparison, and a scan's lists come out in the full comparison's order
// for names that share long prefixes, differ only in case, mix ASCII with
// ideographs and other wide units, or repeat in many folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cctype>
#include <random>
#include <tuple>

#include "engine_fixture.h"
#include "qvCollation.h"
#include "qvExtCase.h"
#include "qvExtTable.h"
#include "qvMemoryPool.h"
#include "qvPackedName.h"
#include "qvRecordList.h"
#include "qvRecords.h"
#include "qvResource.h"
#include "qvSort.h"
#include "qvSortedRuns.h"

using E = qvStreamVolumeSource;

namespace {

std::vector<uint8_t> Pack(const std::u16string& s) {
  std::vector<uint8_t> out(PackedName::EncodedLength(s.data(), s.size()));
  PackedName::Encode(s.data(), s.size(), out.data());
  return out;
}

// Names drawn from a few shared stems, so that runs of equal first keys
// are long and the later keys and the full comparison all get work.
class NameMaker {
 public:
  explicit NameMaker(uint32_t seed) : rng_(seed) {}

  std::u16string Next() {
    static const char16_t* const kStems[] = {u"report", u"Report_", u"IMG_20", u"项目文档", u"项目", u"a",
                                             u"setup-", u"\u00E9t\u00E9", u"\u56D7\u5EFE", u"x\uFFF0"};
    static const char16_t kUnits[] = {u'a', u'B', u'b', u'z', u'.', u' ', u'-', u'_', u'0', u'7', u'9', u'(',
                                      u'~', u'\u00E9', u'\u4E00', u'\u554A', u'\u963F', u'\u9FA5', u'\u56D7',
                                      u'\u3042', u'\uFFFE', u'\u5F20', u'\u8D75'};
    std::u16string s = kStems[rng_() % std::size(kStems)];
    size_t more = rng_() % 14;
    for (size_t i = 0; i < more; ++i) s += kUnits[rng_() % std::size(kUnits)];
    if (rng_() % 4 == 0) s = Recase(s);
    return s;
  }
  uint32_t Pick(uint32_t n) { return rng_() % n; }

 private:
  std::u16string Recase(std::u16string s) {
    for (auto& c : s)
      if (c < 0x80 && std::isalpha(c) && rng_() % 2) c ^= 0x20;
    return s;
  }
  std::mt19937 rng_;
};

struct ListSort : ::testing::Test {
  void SetUp() override {
    size_t size = 0;
    qvCollation::SetRankTable(static_cast<const uint16_t*>(qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size)));
    ASSERT_EQ(size, qvCollation::kRankCount * 2);
  }
};

}  // namespace

// Walking two names key after key: the first keys that differ order the
// names as the full comparison does; equal keys stop at the same byte; and
// names whose keys ran out together with the names compare equal.
TEST_F(ListSort, KeyChainsAgreeWithTheFullComparison) {
  NameMaker maker(3);
  int decidedLate = 0;
  for (int i = 0; i < 200000; ++i) {
    auto a = Pack(maker.Next()), b = Pack(maker.Next());
    // Sometimes a wide unit cut off by the end of the bytes.
    if (maker.Pick(10) == 0) a.push_back(0x81);
    int full = qvCollation::CompareNames(a.data(), a.size(), b.data(), b.size());
    size_t fa = 0, fb = 0;
    for (int level = 0;; ++level) {
      uint64_t ka = qvCollation::SortKeyAt(a.data(), a.size(), &fa);
      uint64_t kb = qvCollation::SortKeyAt(b.data(), b.size(), &fb);
      if (ka != kb) {
        ASSERT_EQ(ka < kb, full < 0) << i << " level " << level;
        if (level > 0) ++decidedLate;
        break;
      }
      ASSERT_EQ(fa, fb) << i << " level " << level;
      if (fa == qvCollation::kNameEnded) {
        ASSERT_EQ(full, 0) << i;
        break;
      }
      if (fa == qvCollation::kNoNextKey) break;
      ASSERT_LT(level, 1024);
    }
  }
  EXPECT_GT(decidedLate, 1000);  // the later keys did decide
}

TEST_F(ListSort, FirstKeyIsSortKey) {
  NameMaker maker(5);
  for (int i = 0; i < 20000; ++i) {
    auto a = Pack(maker.Next());
    size_t from = 0;
    ASSERT_EQ(qvCollation::SortKeyAt(a.data(), a.size(), &from), qvCollation::SortKey(a.data(), a.size()));
  }
}

// Above and below the size that takes a second thread; the outcome is a
// permutation in the full comparison's order either way.
TEST_F(ListSort, SortByKeysGivesTheFullOrder) {
  struct Item {
    uint64_t key;
    const std::vector<uint8_t>* name;
  };
  for (size_t n : {0u, 1u, 7u, 1000u, 70000u}) {
    NameMaker maker(static_cast<uint32_t>(n) + 1);
    std::vector<std::vector<uint8_t>> names;
    for (size_t i = 0; i < n; ++i) names.push_back(Pack(maker.Next()));
    std::vector<Item> items;
    for (const auto& name : names) items.push_back({qvCollation::SortKey(name.data(), name.size()), &name});
    auto keyAt = [](const Item& item, size_t* from) {
      return qvCollation::SortKeyAt(item.name->data(), item.name->size(), from);
    };
    auto nameLess = [](const Item& x, const Item& y) {
      return qvCollation::CompareNames(x.name->data(), x.name->size(), y.name->data(), y.name->size()) < 0;
    };
    auto sameNames = [](Item*, size_t) {};
    std::vector<const std::vector<uint8_t>*> out;
    qvSortByKeysOnTwoThreads(items.data(), items.size(), keyAt, nameLess, sameNames, nameLess,
                             [&](const Item& item) { out.push_back(item.name); });
    ASSERT_EQ(out.size(), n);
    for (size_t i = 1; i < out.size(); ++i)
      ASSERT_LE(qvCollation::CompareNames(out[i - 1]->data(), out[i - 1]->size(), out[i]->data(), out[i]->size()), 0)
          << "n=" << n << " at " << i;
    std::vector<const std::vector<uint8_t>*> in;
    for (const auto& name : names) in.push_back(&name);
    std::sort(in.begin(), in.end());
    std::sort(out.begin(), out.end());
    EXPECT_EQ(in, out) << "n=" << n;
  }
}

// A volume big enough for the two-thread sort: the same names in many
// folders, names equal but for case, and equal base names with and
// without extensions.
TEST_F(ListSort, ScannedListsFollowTheFullComparison) {
  NameMaker maker(9);
  std::vector<E::Entry> entries;
  uint64_t ref = 16;
  std::vector<uint64_t> folders = {5};
  for (int i = 0; i < 3000; ++i) {
    uint64_t parent = folders[maker.Pick(static_cast<uint32_t>(folders.size()))];
    entries.push_back(E::Folder(ref, parent, maker.Next()));
    folders.push_back(ref++);
  }
  static const char16_t* const kExts[] = {u"", u".txt", u".TXT", u".jpg", u".tar.gz", u".", u".c", u".项目"};
  for (int i = 0; i < 40000; ++i) {
    uint64_t parent = folders[maker.Pick(static_cast<uint32_t>(folders.size()))];
    entries.push_back(E::File(ref++, parent, maker.Next() + kExts[maker.Pick(std::size(kExts))]));
  }
  auto* engine = MakeEngine({MakeVolume("/", entries)}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  ASSERT_EQ(app->folderList.Count(), 3001u);
  ASSERT_EQ(app->fileList.Count(), 40000u);
  std::vector<const uint8_t*> folderOrder, fileOrder;
  app->folderList.ForEach([&](const uint8_t* r) { folderOrder.push_back(r); });
  app->fileList.ForEach([&](const uint8_t* r) { fileOrder.push_back(r); });
  for (size_t i = 1; i < folderOrder.size(); ++i)
    ASSERT_LE(qvCollation::CompareFolders(folderOrder[i - 1], folderOrder[i]), 0) << i;
  for (size_t i = 1; i < fileOrder.size(); ++i)
    ASSERT_LE(qvCollation::CompareFiles(fileOrder[i - 1], fileOrder[i], app->extTable), 0) << i;
  // Every record once.
  std::sort(folderOrder.begin(), folderOrder.end());
  std::sort(fileOrder.begin(), fileOrder.end());
  EXPECT_EQ(std::adjacent_find(folderOrder.begin(), folderOrder.end()), folderOrder.end());
  EXPECT_EQ(std::adjacent_find(fileOrder.begin(), fileOrder.end()), fileOrder.end());
  engine->Release();
}

// Runs far shorter than a scan's, so that many are sorted on the helper
// and merged, the last one partly filled, and their records cross many
// chunks; equal base names with different extensions in different runs;
// files whose folder is not found are left out; the real case of an
// extension follows its record into the pool; and every chunk the runs
// took is given back by the end of the merge.
TEST_F(ListSort, RunsSortedWhileReadingMergeIntoTheFileOrder) {
  constexpr DirKey kMissingFolder = 13, kFolder = 7;
  constexpr RecordRef kFolderRef = 0x1234;
  struct Finder : qvSortedRuns::ParentFinder {
    RecordRef Find(DirKey key) override { return key == kFolder ? kFolderRef : kNullRef; }
  } finder;
  qvHeap heap;
  ExtTable ext(heap);
  RecordList list(heap);
  CMemoryPool pool(heap, 0);
  ExtCaseMap extCase;
  NameMaker maker(21);
  static const char16_t* const kExts[] = {u"", u".txt", u".TXT", u".jpg", u".tar.gz", u".c", u".项目", u".Zz"};
  struct Kept {
    std::vector<uint8_t> bytes;  // the record as made, its parent as linked
    std::u16string realExt;      // empty when lower-case
    bool operator<(const Kept& o) const { return std::tie(bytes, realExt) < std::tie(o.bytes, o.realExt); }
    bool operator==(const Kept& o) const { return bytes == o.bytes && realExt == o.realExt; }
  };
  std::vector<Kept> kept;
  // A long name now and then: the records cross the chunks' ends.
  const std::u16string longTail(300, u'q');
  size_t afterMerge = 0;
  {
    qvSortedRuns runs(heap, 97);
    for (int i = 0; i < 6000; ++i) {
      std::u16string name = maker.Next() + (i % 50 == 0 ? longTail : u"") + kExts[maker.Pick(std::size(kExts))];
      long dot = qvFindExtensionDot(name.data(), name.size());
      size_t baseUnits = dot < 0 ? name.size() : static_cast<size_t>(dot);
      uint32_t extId = 0;
      std::u16string e, lowered;
      if (dot >= 0) {
        e = lowered = name.substr(baseUnits + 1);
        extId = ext.FindOrAdd(lowered.data(), lowered.size());  // lower-cases in place
      }
      auto base = Pack(name.substr(0, baseUnits));
      size_t size = FileRecord::SizeFor(base.size(), dot >= 0, extId);
      uint8_t* r = runs.Add(size);
      ASSERT_NE(r, nullptr);
      uint32_t flags = FileRecord::MakeFlags(static_cast<uint32_t>(i), base.size(), base.size() > baseUnits, dot >= 0,
                                             extId);
      bool dropped = i % 13 == 0;
      FileRecord::Write(r, flags, dropped ? kMissingFolder : kFolder, base.data(), static_cast<uint16_t>(base.size()),
                        extId);
      bool realCase = ExtCaseMap::NeedsEntry(e.data(), e.size());
      if (realCase) runs.SetRealCase(r, e.data(), e.size());
      if (dropped) continue;
      Kept k{std::vector<uint8_t>(r, r + size), realCase ? e : u""};
      FileRecord::SetParent(k.bytes.data(), kFolderRef);
      kept.push_back(std::move(k));
    }
    runs.Close();
    EXPECT_EQ(runs.Arrange(finder, finder, ext), 6000 / 13 + 1);  // it keeps no state
    ASSERT_TRUE(runs.MergeInto(pool, list, extCase, ext, nullptr));
    afterMerge = heap.BytesInUse();
  }
  EXPECT_EQ(afterMerge, heap.BytesInUse()) << "the runs still held pages after the merge";
  std::vector<const uint8_t*> order;
  list.ForEach([&](const uint8_t* r) { order.push_back(r); });
  ASSERT_EQ(order.size(), kept.size());
  for (size_t i = 1; i < order.size(); ++i)
    ASSERT_LE(qvCollation::CompareFiles(order[i - 1], order[i], ext), 0) << i;
  std::vector<Kept> out;
  for (const uint8_t* r : order) {
    const qvString* real = extCase.Get(r);
    out.push_back({std::vector<uint8_t>(r, r + FileRecord::Size(r)), real ? std::u16string(*real) : u""});
  }
  std::sort(out.begin(), out.end());
  std::sort(kept.begin(), kept.end());
  EXPECT_TRUE(out == kept);
  EXPECT_GT(extCase.Size(), 0u);
}

// Equal base names meet in every run and are told apart by their
// extensions alone: the extensions' ids were made in the reverse of their
// texts' order, so that an order by id would show; short names (whose
// keys read them whole) and long ones (which the names' comparison
// decides) both, with and without an extension.
TEST_F(ListSort, EqualNamesAcrossRunsFollowTheExtensionsTexts) {
  constexpr DirKey kFolder = 7;
  struct Finder : qvSortedRuns::ParentFinder {
    RecordRef Find(DirKey) override { return 0x40; }
  } finder;
  qvHeap heap;
  ExtTable ext(heap);
  for (const char16_t* text : {u"zz", u"yy", u"m", u"ab", u"aa", u"a"}) {
    std::u16string t = text;
    ext.FindOrAdd(t.data(), t.size());
  }
  static const char16_t* const kNames[] = {u"notes", u"Notes", u"report_2024_final_version", u"REPORT_2024_final_version",
                                           u"\u9879\u76EE"};
  static const char16_t* const kExts[] = {u"zz", u"yy", u"m", u"ab", u"aa", u"a", nullptr};
  RecordList list(heap);
  CMemoryPool pool(heap, 0);
  ExtCaseMap extCase;
  std::mt19937 rng(5);
  {
    qvSortedRuns runs(heap, 31);
    for (uint32_t i = 0; i < 1500; ++i) {
      std::u16string base = kNames[rng() % std::size(kNames)];
      const char16_t* e = kExts[rng() % std::size(kExts)];
      uint32_t extId = 0;
      if (e) {
        std::u16string lowered = e;
        extId = ext.FindOrAdd(lowered.data(), lowered.size());
      }
      auto packed = Pack(base);
      size_t size = FileRecord::SizeFor(packed.size(), e != nullptr, extId);
      uint8_t* r = runs.Add(size);
      ASSERT_NE(r, nullptr);
      FileRecord::Write(r, FileRecord::MakeFlags(i, packed.size(), packed.size() > base.size(), e != nullptr, extId),
                        kFolder, packed.data(), static_cast<uint16_t>(packed.size()), extId);
    }
    runs.Close();
    ASSERT_EQ(runs.Arrange(finder, finder, ext), 0);
    ASSERT_TRUE(runs.MergeInto(pool, list, extCase, ext, nullptr));
  }
  ASSERT_EQ(list.Count(), 1500u);
  std::vector<const uint8_t*> order;
  list.ForEach([&](const uint8_t* r) { order.push_back(r); });
  auto extText = [&](const uint8_t* r) {
    return FileRecord::HasExtension(r) ? std::u16string(ext.Text(FileRecord::ExtId(r))) : std::u16string(u"\uFFFF");
  };
  for (size_t i = 1; i < order.size(); ++i) {
    ASSERT_LE(qvCollation::CompareFiles(order[i - 1], order[i], ext), 0) << i;
    const uint8_t* a = order[i - 1];
    const uint8_t* b = order[i];
    if (qvCollation::CompareNames(FileRecord::Name(a), FileRecord::NameLength(a), FileRecord::Name(b),
                                  FileRecord::NameLength(b)) == 0) {
      ASSERT_LE(extText(a), extText(b)) << i;  // no extension last
    }
  }
}
