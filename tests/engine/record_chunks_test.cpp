// The chunks that hold a full scan's file records until they are merged:
// ranges read back whole across chunk ends, a chunk shared by two ranges
// outlives the first of them, a range of its own takes no more than it
// said, and pages go back as a range is read.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qvHeap.h"
#include "qvRecordChunks.h"

namespace {

// Record i: `size` bytes, its first four holding i, the rest i's low byte.
size_t SizeOf(uint32_t i) { return i % 97 == 0 ? 1037 : 9 + i % 40; }

void Fill(uint8_t* p, uint32_t i) {
  std::memset(p, static_cast<int>(i & 0xFF), SizeOf(i));
  std::memcpy(p, &i, 4);
}

// The numbers of the records a range holds, read in order; checks each
// record's bytes on the way.
std::vector<uint32_t> ReadRange(const qvRecordChunks& chunks, const qvRecordChunks::Range& range) {
  std::vector<uint32_t> out;
  if (range.empty) return out;
  for (uint32_t c = range.firstChunk; c <= range.lastChunk; ++c) {
    const uint8_t* end = chunks.End(range, c);
    for (const uint8_t* p = chunks.Begin(range, c); p < end;) {
      uint32_t i;
      std::memcpy(&i, p, 4);
      for (size_t k = 4; k < SizeOf(i); ++k)
        if (p[k] != static_cast<uint8_t>(i & 0xFF)) {
          ADD_FAILURE() << "record " << i << " byte " << k;
          return out;
        }
      out.push_back(i);
      p += SizeOf(i);
    }
  }
  return out;
}

std::vector<uint32_t> AddRecords(qvRecordChunks& chunks, uint32_t first, uint32_t count) {
  std::vector<uint32_t> made;
  for (uint32_t i = first; i < first + count; ++i) {
    uint8_t* p = chunks.Alloc(SizeOf(i));
    EXPECT_NE(p, nullptr);
    if (!p) break;
    Fill(p, i);
    made.push_back(i);
  }
  return made;
}

size_t TotalSize(uint32_t first, uint32_t count) {
  size_t n = 0;
  for (uint32_t i = first; i < first + count; ++i) n += SizeOf(i);
  return n;
}

}  // namespace

TEST(RecordChunks, RangesThatFollowEachOtherShareTheChunkBetweenThem) {
  qvHeap heap;
  {
    qvRecordChunks chunks(heap);
    std::vector<qvRecordChunks::Range> ranges;
    std::vector<std::vector<uint32_t>> made;
    // Three ranges of about 1.6 MB: each but the first begins in a chunk
    // the one before ends in.
    for (uint32_t r = 0; r < 3; ++r) {
      chunks.OpenRange();
      made.push_back(AddRecords(chunks, r * 40000, 40000));
      ranges.push_back(chunks.CloseRange());
    }
    ASSERT_EQ(chunks.ChunkCount(), 3u);
    EXPECT_EQ(ranges[1].firstChunk, ranges[0].lastChunk);
    EXPECT_EQ(ranges[2].firstChunk, ranges[1].lastChunk);
    for (size_t r = 0; r < 3; ++r) EXPECT_EQ(ReadRange(chunks, ranges[r]), made[r]) << r;

    // A range done: the chunk it shares with the next one stays.
    chunks.ReleaseRange(ranges[0]);
    EXPECT_EQ(chunks.ChunksHeld(), 3u);
    EXPECT_EQ(ReadRange(chunks, ranges[1]), made[1]);
    chunks.ReleaseRange(ranges[1]);
    EXPECT_EQ(chunks.ChunksHeld(), 2u);
    EXPECT_EQ(ReadRange(chunks, ranges[2]), made[2]);
    chunks.ReleaseRange(ranges[2]);
    EXPECT_EQ(chunks.ChunksHeld(), 0u);
    EXPECT_EQ(heap.BytesInUse(), 0u);
  }
  EXPECT_EQ(heap.BytesInUse(), 0u);
}

TEST(RecordChunks, ARangeOfItsOwnTakesWhatItSaidAndGivesPagesBackAsItIsRead) {
  qvHeap heap;
  qvRecordChunks chunks(heap);
  // Another range first, so that the next one would start mid-chunk if
  // it did not take chunks of its own.
  chunks.OpenRange();
  std::vector<uint32_t> before = AddRecords(chunks, 0, 1000);
  qvRecordChunks::Range shared = chunks.CloseRange();
  const size_t sharedBytes = heap.BytesInUse();

  const uint32_t count = 150000;  // about 4.4 MB: two whole chunks and a cut one
  const size_t bytes = TotalSize(1000, count);
  chunks.OpenRange(bytes);
  std::vector<uint32_t> made = AddRecords(chunks, 1000, count);
  qvRecordChunks::Range own = chunks.CloseRange();
  EXPECT_NE(own.firstChunk, shared.lastChunk);
  EXPECT_EQ(own.firstOffset, 0u);
  // Only the last chunk is cut, to whole pages: a record that does not fit
  // the end of a whole chunk wastes less than the longest record there.
  const size_t taken = heap.BytesInUse() - sharedBytes;
  EXPECT_GE(taken, bytes);
  EXPECT_LT(taken, bytes + 4096 + 2 * 1037);
  ASSERT_EQ(ReadRange(chunks, own), made);

  // Read it as a merge does, giving back what is behind.
  const size_t atStart = heap.BytesInUse();
  size_t atQuarter = 0;  // still inside the first chunk
  uint32_t seen = 0;
  for (uint32_t c = own.firstChunk; c <= own.lastChunk; ++c) {
    const uint8_t* end = chunks.End(own, c);
    for (const uint8_t* p = chunks.Begin(own, c); p < end;) {
      uint32_t i;
      std::memcpy(&i, p, 4);
      ASSERT_EQ(i, 1000 + seen);  // still readable just after the pages before it went
      p += SizeOf(i);
      if (++seen == count / 4) atQuarter = heap.BytesInUse();
      if (p < end) chunks.GiveBackBefore(c, p);
    }
    chunks.Release(c);
  }
  EXPECT_EQ(seen, count);
  EXPECT_LT(atQuarter, atStart - bytes / 5);
  EXPECT_EQ(heap.BytesInUse(), sharedBytes);
  // The shared chunk was not touched.
  EXPECT_EQ(ReadRange(chunks, shared), before);
}

// Chunks one store lets go of whole are written over by another: a range
// of its own cut shorter than a chunk gives the rest back at once; a
// chunk partly given back, or one the stash has no room for, is freed;
// and nothing is held once the stash is cleared.
TEST(RecordChunks, ChunksLetGoOfAreWrittenOverByAnotherStore) {
  qvHeap heap;
  const size_t before = heap.BytesInUse();
  {
    qvChunkStash stash(heap, 1);
    qvRecordChunks first(heap, &stash);
    qvRecordChunks second(heap, nullptr, &stash);
    // Two whole chunks and part of a third.
    first.OpenRange();
    AddRecords(first, 0, 130000);
    qvRecordChunks::Range old = first.CloseRange();
    ASSERT_EQ(first.ChunkCount(), 3u);
    const uint8_t* firstChunk = first.Begin(old, 0);
    first.Release(0);  // kept
    first.Release(1);  // no room left: freed
    EXPECT_EQ(first.ChunksHeld(), 1u);
    EXPECT_EQ(heap.BytesInUse() - before, 2 * qvRecordChunks::kChunkBytes);

    const size_t own = TotalSize(200000, 20000);
    ASSERT_LT(own, qvRecordChunks::kChunkBytes);
    second.OpenRange(own);
    std::vector<uint32_t> written = AddRecords(second, 200000, 20000);
    qvRecordChunks::Range range = second.CloseRange();
    EXPECT_EQ(second.Begin(range, 0), firstChunk) << "the kept chunk was not taken";
    EXPECT_EQ(ReadRange(second, range), written);
    // The cut chunk holds its pages rounded up, no more.
    EXPECT_EQ(heap.BytesInUse() - before, qvRecordChunks::kChunkBytes + (own + 4095) / 4096 * 4096);

    // Taken apart page by page, the chunk is no longer whole.
    qvRecordChunks third(heap, &stash);
    third.OpenRange();
    AddRecords(third, 300000, 1000);
    qvRecordChunks::Range part = third.CloseRange();
    third.GiveBackBefore(0, third.End(part, 0));
    third.Release(0);
    EXPECT_EQ(third.ChunksHeld(), 0u);
    first.Release(2);
    stash.Clear();
    second.Release(0);
    EXPECT_EQ(heap.BytesInUse(), before);
  }
  EXPECT_EQ(heap.BytesInUse(), before);
}
