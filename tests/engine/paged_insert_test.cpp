// Ordered insertion and removal in the paged containers: after every step
// the items ascend across pages, every window is valid, and the counts
// agree with a plain reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "qvDirMap.h"
#include "qvPagedInsert.h"
#include "qvRecordList.h"

namespace {

// Records are bytes holding a value; the list orders them by that value.
struct Values {
  std::vector<std::unique_ptr<uint8_t[]>> storage;
  uint8_t* Make(uint32_t v) {
    storage.emplace_back(new uint8_t[4]);
    std::memcpy(storage.back().get(), &v, 4);
    return storage.back().get();
  }
  static uint32_t Of(const uint8_t* r) {
    uint32_t v;
    std::memcpy(&v, r, 4);
    return v;
  }
};

bool ByValue(uint8_t* a, uint8_t* b) { return Values::Of(a) < Values::Of(b); }

std::vector<uint8_t*> Items(RecordList& list) {
  std::vector<uint8_t*> out;
  for (size_t p = 0; p < list.PageCount(); ++p) {
    RecordPage* page = list.Page(p);
    EXPECT_LE(page->first, page->end);
    EXPECT_LE(page->end, RecordPage::kSlots);
    if (list.PageCount() > 1) {
      EXPECT_GT(page->Count(), 0u) << "an empty page stays";
    }
    for (uint32_t s = page->first; s < page->end; ++s) out.push_back(page->slots[s]);
  }
  return out;
}

void CheckAgainst(RecordList& list, std::vector<uint32_t> reference) {
  std::sort(reference.begin(), reference.end());
  auto items = Items(list);
  ASSERT_EQ(items.size(), reference.size());
  ASSERT_EQ(list.Count(), reference.size());
  for (size_t i = 0; i < items.size(); ++i) ASSERT_EQ(Values::Of(items[i]), reference[i]) << i;
}

}  // namespace

TEST(PagedInsert, FillingOnePageFromBothSidesThenSplitting) {
  Values v;
  qvHeap heap;
  RecordList list(heap);
  std::vector<uint32_t> ref;
  // Ascending appends: the last page fills, then a new last page takes
  // its second half.
  for (uint32_t i = 0; i < 5000; ++i) {
    ASSERT_TRUE(qvPaged::Insert(list, v.Make(i * 2), ByValue));
    ref.push_back(i * 2);
  }
  CheckAgainst(list, ref);
  EXPECT_EQ(list.PageCount(), 2u);
  // Inserting into the full first page spills into its neighbour or
  // splits it.
  for (uint32_t i = 0; i < 3000; ++i) {
    ASSERT_TRUE(qvPaged::Insert(list, v.Make(i * 2 + 1), ByValue));
    ref.push_back(i * 2 + 1);
  }
  CheckAgainst(list, ref);
  // Descending inserts at the front.
  for (uint32_t i = 0; i < 6000; ++i) {
    ASSERT_TRUE(qvPaged::Insert(list, v.Make(0), ByValue));
    ref.push_back(0);
  }
  CheckAgainst(list, ref);
}

TEST(PagedInsert, RandomInsertsAndRemovalsAgreeWithAReference) {
  std::mt19937 rng(3);
  Values v;
  qvHeap heap;
  RecordList list(heap);
  std::vector<uint8_t*> live;
  std::vector<uint32_t> ref;
  for (int step = 0; step < 60000; ++step) {
    bool insert = live.empty() || rng() % 100 < 60;
    if (insert) {
      uint32_t value = rng() % 5000;  // many equal values
      uint8_t* r = v.Make(value);
      ASSERT_TRUE(qvPaged::Insert(list, r, ByValue));
      live.push_back(r);
      ref.push_back(value);
    } else {
      size_t k = rng() % live.size();
      uint8_t* target = live[k];
      // Removal finds the exact record among its equal neighbours.
      ASSERT_TRUE(qvPaged::Remove(list, target, ByValue, [&](uint8_t* r) { return r == target; }));
      live.erase(live.begin() + static_cast<long>(k));
      ref.erase(std::find(ref.begin(), ref.end(), Values::Of(target)));
    }
    if (step % 5000 == 0) CheckAgainst(list, ref);
  }
  CheckAgainst(list, ref);
  for (uint8_t* r : live) ASSERT_TRUE(qvPaged::Remove(list, r, ByValue, [&](uint8_t* x) { return x == r; }));
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.PageCount(), 1u);
  uint8_t* absent = v.Make(7);
  EXPECT_FALSE(qvPaged::Remove(list, absent, ByValue, [](uint8_t*) { return true; }));
}

TEST(PagedInsert, DirMapKeepsKeysStrictlyAscending) {
  std::mt19937 rng(5);
  qvHeap heap;
  DirMap map(heap);
  std::vector<uint32_t> keys;
  auto byKey = [](const DirMapEntry& a, const DirMapEntry& b) { return a.key < b.key; };
  for (int i = 0; i < 20000; ++i) {
    uint32_t key = rng();
    if (map.Find(key)) continue;
    ASSERT_TRUE(qvPaged::Insert(map, DirMapEntry{key, static_cast<RecordRef>(i)}, byKey));
    keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<uint32_t> got;
  for (size_t p = 0; p < map.PageCount(); ++p)
    for (uint32_t s = map.Page(p)->first; s < map.Page(p)->end; ++s) got.push_back(map.Page(p)->entries[s].key);
  EXPECT_EQ(got, keys);
  EXPECT_EQ(map.Count(), keys.size());
  for (uint32_t k : keys) ASSERT_NE(map.Find(k), nullptr) << k;
}
