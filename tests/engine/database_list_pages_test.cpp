// The list pages a load makes ahead (RecordList::ReservePages): appends
// take them without a further allocation, they move with TakePages, and
// every one goes back to the heap whichever way it leaves the list.
#include <gtest/gtest.h>

#include <vector>

#include "qvHeap.h"
#include "qvRecordList.h"

namespace {

// Distinct fake record pointers: the list never reads through them.
uint8_t* Fake(size_t i) { return reinterpret_cast<uint8_t*>(uintptr_t{0x1000} + 16 * i); }

void AppendRange(RecordList& list, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) ASSERT_TRUE(list.Append(Fake(i)));
}

void ExpectRange(const RecordList& list, size_t count) {
  ASSERT_EQ(list.Count(), count);
  size_t i = 0;
  list.ForEach([&](uint8_t* r) { EXPECT_EQ(r, Fake(i++)); });
  EXPECT_EQ(i, count);
}

TEST(ListPages, AppendsTakeTheReservedPages) {
  qvHeap heap;
  {
    RecordList list(heap);
    const size_t records = 200 * RecordPage::kSlots + 5;  // more than three blocks
    list.ReservePages(records);
    const size_t made = heap.BytesInUse();
    AppendRange(list, 0, records);
    EXPECT_EQ(heap.BytesInUse(), made) << "an append allocated although its page was made";
    ExpectRange(list, records);
    // Asking again for what is already there makes nothing.
    list.ReservePages(10);
    EXPECT_EQ(heap.BytesInUse(), made);
  }
  EXPECT_EQ(heap.BytesInUse(), 0u);
}

TEST(ListPages, PagesMoveWithTheirBlocksAndAreFreedOnce) {
  qvHeap heap;
  {
    RecordList first(heap), second(heap);
    const size_t n1 = 70 * RecordPage::kSlots + 100, n2 = 90 * RecordPage::kSlots + 7;
    first.ReservePages(n1);
    second.ReservePages(n2);
    AppendRange(first, 0, n1);
    AppendRange(second, n1, n1 + n2);
    ASSERT_TRUE(first.TakePages(second));
    ExpectRange(first, n1 + n2);
    EXPECT_EQ(second.Count(), 0u);
    // The emptied list still works, with a page of its own.
    ASSERT_TRUE(second.Append(Fake(0)));
    EXPECT_EQ(second.Count(), 1u);
    // Pages cut from a block leave the list one by one.
    while (first.PageCount() > 3) first.RemovePage(1);
    EXPECT_EQ(first.Count(), first.Page(0)->Count() + first.Page(1)->Count() + first.Page(2)->Count());
    // Clear keeps one page that outlives the blocks.
    first.Clear();
    EXPECT_EQ(first.Count(), 0u);
    AppendRange(first, 0, 3 * RecordPage::kSlots);
    ExpectRange(first, 3 * RecordPage::kSlots);
    first.Clear();
    first.ReservePages(5 * RecordPage::kSlots);
    AppendRange(first, 0, 2 * RecordPage::kSlots);
  }
  EXPECT_EQ(heap.BytesInUse(), 0u) << "a block or a page was not given back";
}

TEST(ListPages, ReservedPagesServeInsertsAnywhere) {
  qvHeap heap;
  {
    RecordList list(heap);
    list.ReservePages(4 * RecordPage::kSlots);
    RecordPage* page = list.InsertPage(0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->first, 0u);
    EXPECT_EQ(page->end, 0u);
    page->slots[0] = Fake(1);
    page->end = 1;
    list.AdjustCount(1);
    EXPECT_EQ(list.At(0), Fake(1));
  }
  EXPECT_EQ(heap.BytesInUse(), 0u);
}

}  // namespace
