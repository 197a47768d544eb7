// The record store: packed names, records, the extension table, the paged
// containers, the collation and the sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "qvCollation.h"
#include "qvDirMap.h"
#include "qvExtTable.h"
#include "qvMemoryPool.h"
#include "qvOutVector.h"
#include "qvPackedName.h"
#include "qvRecordList.h"
#include "qvRecords.h"
#include "qvResource.h"
#include "qvSort.h"
#include "qvWriteMgr.h"

namespace {

std::vector<uint8_t> Pack(const std::u16string& s) {
  std::vector<uint8_t> out(PackedName::EncodedLength(s.data(), s.size()));
  PackedName::Encode(s.data(), s.size(), out.data());
  return out;
}

int Collate(const std::u16string& a, const std::u16string& b) {
  auto pa = Pack(a), pb = Pack(b);
  int d = qvCollation::CompareNames(pa.data(), pa.size(), pb.data(), pb.size());
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

struct WithRanks : ::testing::Test {
  void SetUp() override {
    size_t size = 0;
    qvCollation::SetRankTable(static_cast<const uint16_t*>(qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size)));
    ASSERT_EQ(size, qvCollation::kRankCount * 2);
  }
};

}  // namespace

TEST(PackedNameTest, LengthsFlagsAndRoundTrip) {
  auto ascii = Pack(u"Report.txt");
  EXPECT_EQ(ascii.size(), 10u);
  std::u16string cjk = u"a报b";
  auto packed = Pack(cjk);
  EXPECT_EQ(packed.size(), cjk.size() + 2);
  EXPECT_EQ(packed[1], QV_WIDE_MARKER);
  qvChar out[8];
  EXPECT_EQ(PackedName::Decode(packed.data(), packed.size(), out, 8), 3u);
  EXPECT_EQ(std::u16string(out), cjk);
  auto mixed = Pack(u"AbC\u00C9");
  EXPECT_EQ(PackedName::DecodeLowerCase(mixed.data(), mixed.size(), out, 8), 4u);
  EXPECT_EQ(std::u16string(out), u"abc\u00C9");  // only A..Z fold
  // A wide unit cut off by the end is dropped, never read past.
  EXPECT_EQ(PackedName::Decode(packed.data(), 3, out, 8), 1u);
  // The output is bounded by its capacity, terminator included.
  EXPECT_EQ(PackedName::Decode(ascii.data(), ascii.size(), out, 4), 3u);
  EXPECT_EQ(out[3], 0);
}

TEST(RecordTest, FileRecordLengthWidthAndIconSlot) {
  uint8_t buf[600];
  std::vector<uint8_t> name255(255, 'x'), name256(256, 'y');
  uint32_t f = FileRecord::MakeFlags(77, 255, false, false, 0);
  EXPECT_FALSE(f & FileRecord::kLongLength);
  FileRecord::Write(buf, f, 9, name255.data(), 255, 0);
  EXPECT_EQ(FileRecord::NameLength(buf), 255);
  EXPECT_EQ(FileRecord::Size(buf), 9u + 255);
  f = FileRecord::MakeFlags(77, 256, true, true, 5);
  EXPECT_TRUE(f & FileRecord::kLongLength);
  EXPECT_TRUE(f & FileRecord::kNonAscii);
  FileRecord::Write(buf, f, 9, name256.data(), 256, 5);
  EXPECT_EQ(FileRecord::NameLength(buf), 256);
  EXPECT_EQ(FileRecord::Name(buf)[0], 'y');
  EXPECT_EQ(FileRecord::ExtId(buf), 5u);
  EXPECT_EQ(FileRecord::Size(buf), FileRecord::SizeFor(256, true, 5));

  struct Case {
    uint32_t id;
    size_t width;
    bool icon;
  } cases[] = {{3, 1, true}, {4, 1, false}, {255, 1, false}, {256, 2, false}, {65535, 2, false}, {65536, 4, false}};
  for (const Case& c : cases) {
    uint8_t r[64];
    uint32_t flags = FileRecord::MakeFlags(1, 3, false, true, c.id);
    FileRecord::Write(r, flags, kNullRef, reinterpret_cast<const uint8_t*>("abc"), 3, c.id);
    EXPECT_EQ(FileRecord::ExtWidthBytes(flags), c.width) << c.id;
    EXPECT_EQ((flags & FileRecord::kIconSlot) != 0, c.icon) << c.id;
    EXPECT_EQ(FileRecord::ExtId(r), c.id);
    EXPECT_EQ(FileRecord::Size(r), 9 + 3 + c.width + (c.icon ? 4 : 0));
    if (c.icon) {
      EXPECT_EQ(FileRecord::IconSlot(r), -1);
    }
  }
  // A record number beyond 27 bits cannot leak into the flag bits.
  EXPECT_EQ(FileRecord::MakeFlags(0xFFFFFFFF, 1, false, false, 0), FileRecord::kRecordNumberMask);
}

TEST(ExtTableTest, BuiltinsCaseFoldingGrowthAndOrder) {
  qvHeap heap;
  ExtTable t(heap);
  t.Reset();
  EXPECT_EQ(t.Count(), 4u);
  EXPECT_EQ(t.Icon(1), ExtTable::kOwnIcon);
  std::u16string abc = u"ABC";
  uint32_t id = t.FindOrAdd(abc.data(), 3);
  EXPECT_EQ(id, 4u);
  EXPECT_EQ(abc, u"abc");  // lowered in place
  EXPECT_EQ(std::u16string(t.Text(id)), u"abc");
  EXPECT_EQ(t.Icon(id), ExtTable::kIconUnknown);
  std::u16string mixed = u"Abc";
  EXPECT_EQ(t.FindOrAdd(mixed.data(), 3), id);
  std::u16string exe = u"EXE";
  EXPECT_EQ(t.FindOrAdd(exe.data(), 3), 1u);
  // Fill past the capacity: the table grows by 64 and keeps every id.
  for (int i = 0; i < 600; ++i) {
    std::u16string s = u"e" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                       std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
    t.FindOrAdd(s.data(), s.size());
  }
  EXPECT_EQ(t.Capacity(), 512u + 64u * ((t.Count() - 512 + 63) / 64));
  for (uint32_t k = 1; k < t.Count(); ++k) {
    std::u16string a = t.Sorted(k - 1).text, b = t.Sorted(k).text;
    EXPECT_LT(a, b);
  }
  EXPECT_EQ(t.Find(u"abc", 3), static_cast<int64_t>(id));
  EXPECT_EQ(t.Find(u"ab", 2), -1);  // a prefix is not a match
  EXPECT_EQ(t.Find(u"abcd", 4), -1);
  EXPECT_LT(t.Compare(4, 1), 0);  // abc < exe
}

TEST(ContainersTest, RecordListPagesAndRemoval) {
  qvHeap heap;
  RecordList list(heap);
  std::vector<uint8_t> fake(5000);
  for (size_t i = 0; i < 4096; ++i) list.Append(&fake[i]);
  EXPECT_EQ(list.PageCount(), 1u);
  list.Append(&fake[4096]);  // the 4097th starts the second page
  EXPECT_EQ(list.PageCount(), 2u);
  EXPECT_EQ(list.Page(1)->Count(), 1u);
  EXPECT_EQ(list.At(4096), &fake[4096]);
  list.RemoveIf([&](const uint8_t* r) { return (r - fake.data()) % 2 == 1; });
  EXPECT_EQ(list.Count(), 2049u);
  EXPECT_EQ(list.At(1), &fake[2]);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.PageCount(), 1u);
}

TEST(ContainersTest, DirMapFindAcrossPageBoundaries) {
  qvHeap heap;
  DirMap map(heap);
  // Keys 10, 20, ... over three pages.
  for (uint32_t i = 1; i <= 2100; ++i) map.Append(i * 10, i);
  ASSERT_EQ(map.PageCount(), 3u);
  EXPECT_EQ(map.FindRecord(10), 1u);
  EXPECT_EQ(map.FindRecord(10240), 1024u);  // last of page 0
  EXPECT_EQ(map.FindRecord(10250), 1025u);  // first of page 1
  EXPECT_EQ(map.FindRecord(21000), 2100u);
  EXPECT_EQ(map.Find(10245), nullptr);  // between two pages' ranges
  EXPECT_EQ(map.Find(5), nullptr);
  EXPECT_EQ(map.Find(999999), nullptr);  // above every key
  map.ClearEntry(map.Find(20));
  EXPECT_EQ(map.FindRecord(20), kNullRef);
  EXPECT_EQ(map.Count(), 2099u);
}

TEST(ContainersTest, PoolNeverSpansBlocksAndRefsResolve) {
  qvHeap heap;
  CMemoryPool pool(heap, 0);
  RecordRef a, b, c;
  uint8_t* pa = pool.Alloc(4000, &a);
  uint8_t* pb = pool.Alloc(100, &b);  // would cross 4096: a new block
  EXPECT_EQ(pool.BlockCount(), 2u);
  EXPECT_EQ(pool.Resolve(a), pa);
  EXPECT_EQ(pool.Resolve(b), pb);
  EXPECT_EQ(pool.Block(1), pb);
  uint8_t* pc = pool.Alloc(96, &c);  // still fits the old block's room? no: the current block is the new one
  EXPECT_EQ(pc, pb + 100);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(pool.Alloc(4097), nullptr);
  EXPECT_EQ(pool.Resolve(c + 200), nullptr);  // past what was allocated
  CMemoryPool second(heap, 0x80000000u);
  EXPECT_EQ(second.Resolve(a), nullptr);  // another pool's ref
}

// Every block keeps the pool's read-behind bytes readable before it: it
// follows the block before it in its chunk, or begins that many bytes
// into a fresh chunk (chunks are page-aligned). Trimming the last chunk
// keeps the pages its blocks use.
TEST(ContainersTest, PoolBlocksKeepReadableBytesBeforeThem) {
  qvHeap heap;
  CMemoryPool pool(heap, 0);
  while (pool.BlockCount() < 1200) ASSERT_NE(pool.Alloc(3000), nullptr);  // past several chunks
  size_t chunkStarts = 0;
  for (size_t i = 0; i < pool.BlockCount(); ++i) {
    const auto at = reinterpret_cast<uintptr_t>(pool.Block(i));
    const bool follows = i > 0 && pool.Block(i) == pool.Block(i - 1) + CMemoryPool::kBlockSize;
    if (!follows) {
      EXPECT_EQ(at % 4096, CMemoryPool::kReadBehind) << "block " << i;
      ++chunkStarts;
    }
  }
  EXPECT_GE(chunkStarts, 4u);
  const size_t before = heap.BytesInUse();
  pool.Trim();
  EXPECT_LT(heap.BytesInUse(), before);  // the unused tail of the last chunk went back
  uint8_t* last = pool.Block(pool.BlockCount() - 1);
  last[CMemoryPool::kBlockSize - 1] = 1;  // still mapped
  EXPECT_NE(pool.Alloc(100), nullptr);  // and the pool goes on after a trim
}

// A pool and a list filled aside (the second half of a merge) join the
// first: every record stays where it was and in its place in the order,
// the first pool's refs still resolve, and both go on growing after.
TEST(ContainersTest, PoolAndListFilledAsideJoinTheFirst) {
  qvHeap heap;
  CMemoryPool pool(heap, 0), aside(heap, 0);
  RecordList list(heap), asideList(heap);
  std::vector<std::pair<RecordRef, size_t>> refs;  // and the record's place in `order`
  std::vector<uint8_t*> order;
  auto add = [&](CMemoryPool& p, RecordList& l, uint32_t i) {
    RecordRef ref;
    uint8_t* r = p.Alloc(20 + i % 300, &ref);
    ASSERT_NE(r, nullptr);
    StoreU32(r, i);
    ASSERT_TRUE(l.Append(r));
    if (&p == &pool) refs.push_back({ref, order.size()});
    order.push_back(r);
  };
  for (uint32_t i = 0; i < 5000; ++i) add(pool, list, i);
  for (uint32_t i = 5000; i < 14000; ++i) add(aside, asideList, i);
  const size_t blocks = pool.BlockCount() + aside.BlockCount();
  ASSERT_TRUE(pool.Adopt(aside));
  ASSERT_TRUE(list.TakePages(asideList));
  EXPECT_EQ(pool.BlockCount(), blocks);
  EXPECT_EQ(aside.BlockCount(), 1u);  // empty, and usable again
  EXPECT_EQ(asideList.Count(), 0u);
  for (uint32_t i = 14000; i < 15000; ++i) add(pool, list, i);
  ASSERT_EQ(list.Count(), order.size());
  size_t k = 0;
  list.ForEach([&](const uint8_t* r) {
    EXPECT_EQ(r, order[k]);
    EXPECT_EQ(LoadU32(r), k);
    ++k;
  });
  for (auto [ref, at] : refs) EXPECT_EQ(pool.Resolve(ref), order[at]);

  // An empty list takes another's pages without an empty page between.
  RecordList empty(heap), filled(heap);
  for (int i = 0; i < 3; ++i) filled.Append(order[i]);
  ASSERT_TRUE(empty.TakePages(filled));
  EXPECT_EQ(empty.PageCount(), 1u);
  EXPECT_EQ(empty.At(2), order[2]);
  EXPECT_TRUE(filled.Append(order[5]));
  EXPECT_EQ(filled.At(0), order[5]);
}

TEST(ContainersTest, OutVectorPagesAndWriteMgrChunks) {
  qvHeap heap;
  COutVector v(heap);
  std::vector<uint8_t> fake(16400);
  for (size_t i = 0; i < 16385; ++i) v.Append(&fake[i % fake.size()]);
  EXPECT_EQ(v.PageCount(), 2u);
  EXPECT_EQ(v.At(16384), &fake[16384]);
  v.Reset();  // pages kept
  EXPECT_EQ(v.PageCount(), 2u);
  EXPECT_EQ(v.Count(), 0u);
  v.Clear();
  EXPECT_EQ(v.PageCount(), 1u);

  CWriteMgr w(heap);
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  w.Append(bytes.data(), 4090);
  w.Append(bytes.data() + 4090, 910);  // spans two chunks
  EXPECT_EQ(w.Total(), 5000u);
  uint32_t v32 = 0xA1B2C3D4;
  EXPECT_TRUE(w.Patch(4094, &v32, 4));  // across the chunk edge
  EXPECT_FALSE(w.Patch(4998, &v32, 4));
}

TEST_F(WithRanks, CollationRules) {
  EXPECT_EQ(Collate(u"A", u"b"), -1);
  EXPECT_EQ(Collate(u"abc", u"ABC"), 0);
  EXPECT_EQ(Collate(u"a", u"报"), -1);       // ASCII before CJK
  EXPECT_EQ(Collate(u"报", u"\u00E9"), -1);  // CJK before other wide units
  EXPECT_EQ(Collate(u"\u00E9", u"\u00E8"), 1);
  EXPECT_EQ(Collate(u"ab", u"abc"), -1);     // the shorter first
  EXPECT_EQ(Collate(u"啊", u"安"), -1);
  EXPECT_EQ(Collate(u"阿", u"安"), -1);
  EXPECT_EQ(Collate(u"安", u"八"), -1);
  EXPECT_EQ(Collate(u"把", u"张"), -1);
  EXPECT_EQ(Collate(u"张", u"赵"), -1);
  EXPECT_EQ(Collate(u"赵", u"座"), -1);
  // Two unranked ideographs decide nothing, and the comparison ends there.
  EXPECT_EQ(Collate(u"x\u56D7a", u"x\u5EFEb"), 0);
  EXPECT_EQ(Collate(u"座", u"\u9F6A"), -1);  // unranked after all others
}

TEST(SortTest, MatchesAReferenceSortOnEveryShape) {
  std::mt19937 rng(7);
  for (size_t n : {0u, 1u, 2u, 31u, 32u, 33u, 100u, 1000u, 50000u}) {
    for (int shape = 0; shape < 4; ++shape) {
      std::vector<int> v(n);
      for (size_t i = 0; i < n; ++i) {
        v[i] = shape == 0 ? static_cast<int>(rng() % 1000)
             : shape == 1 ? static_cast<int>(i)
             : shape == 2 ? static_cast<int>(n - i)
                          : 5;  // all equal
      }
      std::vector<int> expected = v;
      std::sort(expected.begin(), expected.end());
      qvQuickSort(v.data(), v.size(), [](int a, int b) { return a < b; });
      EXPECT_EQ(v, expected) << "n=" << n << " shape=" << shape;
    }
  }
}

TEST_F(WithRanks, SortKeysNeverContradictTheFullComparison) {
  std::mt19937 rng(11);
  const char16_t pool[] = {u'a', u'B', u'b', u'.', u' ', u'0', u'\u00E9', u'\u4E00', u'\u554A', u'\u963F',
                           u'\u56D7', u'\u5EFE', u'\uFFF0', u'\uFFFE', u'Z', u'\u9FA5', u'\u3042'};
  // Up to 12 units: past the key's eight bytes, and often ASCII only so
  // that long shared prefixes are common.
  auto randomName = [&] {
    std::u16string s(rng() % 13, u'a');
    bool ascii = rng() % 2;
    for (auto& c : s) c = ascii ? pool[rng() % 6] : pool[rng() % (sizeof pool / sizeof pool[0])];
    return s;
  };
  // Sometimes a wide unit cut off by the end of the bytes (a damaged name).
  auto packed = [&] {
    auto bytes = Pack(randomName());
    if (rng() % 8 == 0) bytes.push_back(static_cast<uint8_t>(0x80 | (rng() % 2)));
    return bytes;
  };
  for (int i = 0; i < 400000; ++i) {
    auto a = packed(), b = packed();
    uint64_t ka = qvCollation::SortKey(a.data(), a.size()), kb = qvCollation::SortKey(b.data(), b.size());
    if (ka == kb) continue;
    int full = qvCollation::CompareNames(a.data(), a.size(), b.data(), b.size());
    auto hex = [](const std::vector<uint8_t>& v) {
      std::string out;
      for (uint8_t c : v) out += std::to_string(c) + " ";
      return out;
    };
    ASSERT_EQ(ka < kb, full < 0) << i << ": " << hex(a) << "| " << hex(b);
    ASSERT_NE(full, 0) << i;
  }
}
