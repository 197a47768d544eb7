// The folder map's lookup over many pages, against a plain ordered map:
// pages filled by appends, by ordered inserts (windows that do not start
// at slot 0), with folders cleared, and with empty pages among full ones.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "qvDirMap.h"
#include "qvPagedInsert.h"

namespace {

bool KeyLess(const DirMapEntry& a, const DirMapEntry& b) { return a.key < b.key; }

// Every key of the reference and its neighbours, and keys below and above
// all of them, give what the reference gives.
void ExpectSameAnswers(const DirMap& map, const std::map<DirKey, RecordRef>& reference) {
  auto expect = [&](DirKey key) {
    auto it = reference.find(key);
    const DirMapEntry* e = map.Find(key);
    if (it == reference.end()) {
      ASSERT_EQ(e, nullptr) << "key " << key;
    } else {
      ASSERT_NE(e, nullptr) << "key " << key;
      ASSERT_EQ(e->key, key);
      ASSERT_EQ(e->record, it->second) << "key " << key;
    }
  };
  expect(0);
  expect(UINT32_MAX);
  for (const auto& [key, ref] : reference) {
    expect(key);
    if (key > 0) expect(key - 1);
    if (key < UINT32_MAX) expect(key + 1);
  }
}

TEST(DirMapFind, AppendedPagesMatchAPlainMap) {
  qvHeap heap;
  DirMap map(heap);
  std::map<DirKey, RecordRef> reference;
  ExpectSameAnswers(map, reference);  // one empty page
  // Keys 3, 6, 9, ...: every other key between them is absent. 37 pages,
  // the last one partly filled.
  for (uint32_t i = 1; i <= 37 * 1024 - 100; ++i) {
    ASSERT_TRUE(map.Append(i * 3, i));
    reference[i * 3] = i;
  }
  ASSERT_EQ(map.PageCount(), 37u);
  ExpectSameAnswers(map, reference);
  // A cleared folder keeps its entry with a null ref.
  map.ClearEntry(map.Find(3 * 5000));
  reference[3 * 5000] = kNullRef;
  ExpectSameAnswers(map, reference);
}

TEST(DirMapFind, InsertedPagesWithWindowsMatchAPlainMap) {
  std::mt19937 rng(11);
  qvHeap heap;
  DirMap map(heap);
  std::map<DirKey, RecordRef> reference;
  for (RecordRef i = 1; reference.size() < 30000; ++i) {
    DirKey key = rng() % 200000;  // dense enough for neighbours to hit
    if (reference.count(key)) continue;
    ASSERT_TRUE(qvPaged::Insert(map, DirMapEntry{key, i}, KeyLess));
    reference[key] = i;
  }
  ASSERT_GT(map.PageCount(), 30u);
  bool shifted = false;
  for (size_t p = 0; p < map.PageCount(); ++p) shifted |= map.Page(p)->first > 0;
  EXPECT_TRUE(shifted) << "no page window moved off slot 0: the case is not exercised";
  ExpectSameAnswers(map, reference);
  // Removals that empty whole stretches (pages freed on the way).
  for (auto it = reference.begin(); it != reference.end();) {
    if (it->first % 7 != 0 && it->first < 150000) {
      ++it;
      continue;
    }
    ASSERT_TRUE(qvPaged::Remove(map, DirMapEntry{it->first, it->second}, KeyLess,
                                [](const DirMapEntry&) { return true; }));
    it = reference.erase(it);
  }
  ExpectSameAnswers(map, reference);
}

TEST(DirMapFind, EmptyPagesAmongFullOnesAreSkipped) {
  qvHeap heap;
  DirMap map(heap);
  std::map<DirKey, RecordRef> reference;
  for (uint32_t i = 1; i <= 8 * 1024; ++i) {
    ASSERT_TRUE(map.Append(i * 2, i));
    reference[i * 2] = i;
  }
  // Empty pages at the front, in the middle (a run of three) and at the end.
  for (size_t at : {size_t{8}, size_t{5}, size_t{5}, size_t{5}, size_t{2}, size_t{0}}) {
    DirMapPage* page = map.InsertPage(at);
    ASSERT_NE(page, nullptr);
    page->first = page->end = 17;
  }
  ASSERT_EQ(map.PageCount(), 14u);
  ExpectSameAnswers(map, reference);
  // Only empty pages around one full page.
  const size_t kept = 11;
  DirMapPage* last = map.Page(kept);
  ASSERT_GT(last->Count(), 0u);
  for (size_t p = 0; p < map.PageCount(); ++p)
    if (p != kept) map.Page(p)->first = map.Page(p)->end = 0;
  std::map<DirKey, RecordRef> tail;
  for (uint32_t k = last->first; k < last->end; ++k) tail[last->entries[k].key] = last->entries[k].record;
  ExpectSameAnswers(map, tail);
}

}  // namespace
