// The change journal's records: the three shared $J samples, and made-up
// buffers whose lengths lie.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <random>

#include "ntfs_test_support.h"
#include "qvUsnRecords.h"

using namespace ntfstest;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Seen {
  std::vector<UsnRecord> records;
  std::vector<std::u16string> names;
  UsnWalkStats stats;
};

Seen Walk(const std::vector<uint8_t>& data) {
  Seen s;
  s.stats = WalkUsnRecords(data.data(), data.size(), [&](const UsnRecord& r) {
    s.records.push_back(r);
    s.names.emplace_back(r.name);
  });
  return s;
}

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// Appends one record of `major` version 2, 3 or 4 with the name "ab".
size_t Append(std::vector<uint8_t>& b, uint16_t major, int64_t usn, uint64_t ref = 0x10000000000020ULL) {
  size_t at = b.size();
  size_t fixed = major == 2 ? 60 : major == 3 ? 76 : 56;
  size_t length = (fixed + 4 + 7) & ~size_t(7);
  b.resize(at + length, 0);
  Put32(b, at, static_cast<uint32_t>(length));
  Put16(b, at + 4, major);
  if (major == 4) return at;
  size_t tail = major == 2 ? 24 : 40;
  Put64(b, at + 8, ref);
  Put64(b, at + (major == 2 ? 16 : 24), 0x5000000000005ULL);
  Put64(b, at + tail, static_cast<uint64_t>(usn));
  Put32(b, at + tail + 16, 0x80000100);
  Put32(b, at + tail + 28, 0x20);
  Put16(b, at + tail + 32, 4);
  Put16(b, at + tail + 34, static_cast<uint16_t>(fixed));
  b[at + fixed] = 'a';
  b[at + fixed + 2] = 'b';
  return at;
}

}  // namespace

TEST(UsnSamples, Windows10JournalHas188RecordsFromUsn0To20224) {
  Seen s = Walk(ReadFile(SharedImages::Get().JWindows10()));
  ASSERT_EQ(s.records.size(), 188u);
  EXPECT_EQ(s.stats.damaged, 0u);
  EXPECT_EQ(s.records.front().usn, 0);
  EXPECT_EQ(s.records.back().usn, 20224);
  for (const UsnRecord& r : s.records) EXPECT_EQ(r.majorVersion, 2);
}

TEST(UsnSamples, PlasoExcerptFirstRecord) {
  Seen s = Walk(ReadFile(SharedImages::Get().JPlaso()));
  ASSERT_EQ(s.records.size(), 19u);
  const UsnRecord& r = s.records.front();
  EXPECT_EQ(s.names.front(), u"Nieuw - Tekstdocument.txt");
  EXPECT_EQ(r.fileRef, 0x100000000001eULL);
  EXPECT_EQ(r.parentRef, 0x5000000000005ULL);
  EXPECT_EQ(r.reason, 0x100u);
  std::tm t = {};
  t.tm_year = 2015 - 1900;
  t.tm_mon = 10;
  t.tm_mday = 30;
  t.tm_hour = 21;
  t.tm_min = 15;
  t.tm_sec = 27;
  int64_t unixSeconds = timegm(&t);
  EXPECT_EQ(r.timeStamp, (unixSeconds + 11644473600LL) * 10000000LL + 2031250);
}

TEST(UsnSamples, MidStreamExcerptStartsAtItsUsn) {
  Seen s = Walk(ReadFile(SharedImages::Get().JGoNtfs()));
  ASSERT_EQ(s.records.size(), 208u);
  EXPECT_EQ(s.records.front().usn, 0x12a16c30);
  for (size_t i = 1; i < s.records.size(); ++i) EXPECT_GT(s.records[i].usn, s.records[i - 1].usn);
}

TEST(UsnRecords, VersionsTwoAndThreeReadFourSteppedOverPaddingSkipped) {
  std::vector<uint8_t> b;
  Append(b, 2, 0);
  b.resize(b.size() + 24, 0);  // padding
  Append(b, 4, 0);
  Append(b, 3, 200, 0x123456789ULL);
  Seen s = Walk(b);
  ASSERT_EQ(s.records.size(), 2u);
  EXPECT_EQ(s.stats.skippedV4, 1u);
  EXPECT_EQ(s.records[1].majorVersion, 3);
  EXPECT_EQ(s.records[1].usn, 200);
  EXPECT_EQ(s.records[1].fileRef, 0x123456789ULL);
  EXPECT_EQ(s.names[1], u"ab");
  EXPECT_EQ(s.records[1].reason, 0x80000100u);
}

TEST(UsnRecords, LyingLengthsNeverStallNorOverrun) {
  // Zero, huge, misaligned and too-short lengths, and a name past the end.
  for (uint32_t length : {0u, 0xFFFFFFF8u, 61u, 8u, 16u, 64u * 1024u}) {
    std::vector<uint8_t> b;
    size_t at = Append(b, 2, 0);
    Put32(b, at, length);
    Append(b, 3, 8);
    Seen s = Walk(b);
    EXPECT_EQ(s.records.size(), 1u) << length;  // the good one after it is found again
    EXPECT_EQ(s.records.back().usn, 8) << length;
  }
  std::vector<uint8_t> b;
  size_t at = Append(b, 2, 0);
  Put16(b, at + 58, 60);
  Put16(b, at + 56, 200);  // name longer than the record
  Seen s = Walk(b);
  EXPECT_EQ(s.records.size(), 0u);
  EXPECT_GE(s.stats.damaged, 1u);
  // A buffer that ends inside a record.
  std::vector<uint8_t> cut;
  Append(cut, 2, 0);
  cut.resize(40);
  EXPECT_EQ(Walk(cut).records.size(), 0u);
}

TEST(UsnRecords, RandomMutationsOfTheSamples) {
  std::mt19937 rng(19);
  for (const std::string& path : {SharedImages::Get().JWindows10(), SharedImages::Get().JGoNtfs()}) {
    const std::vector<uint8_t> original = ReadFile(path);
    ASSERT_FALSE(original.empty());
    std::vector<uint8_t> b;
    for (int round = 0; round < 50000; ++round) {
      // A 4 KiB window keeps each round short.
      size_t start = (rng() % original.size()) & ~size_t(7);
      size_t end = std::min(original.size(), start + 4096);
      b.assign(original.begin() + start, original.begin() + end);
      int flips = 1 + rng() % 8;
      for (int f = 0; f < flips; ++f) b[rng() % b.size()] = static_cast<uint8_t>(rng());
      if (rng() % 4 == 0) b.resize(rng() % (b.size() + 1));
      uint64_t names = 0;
      UsnWalkStats st = WalkUsnRecords(b.data(), b.size(), [&](const UsnRecord& r) { names += r.name.size(); });
      ASSERT_LE(st.records * 60, b.size() + 60);
    }
  }
}

// Every length of every sample: what is whole before the cut is read, the
// record the cut falls in is not, and nothing past the cut is touched (a
// copy of exactly that length, for the address sanitizer to see).
TEST(UsnRecords, EveryCutOfTheSamples) {
  SharedImages& s = SharedImages::Get();
  for (const std::string& path : {s.JWindows10(), s.JGoNtfs(), s.JPlaso()}) {
    const std::vector<uint8_t> original = ReadFile(path);
    ASSERT_FALSE(original.empty());
    const size_t whole = Walk(original).records.size();
    size_t before = 0;
    for (size_t n = 0; n <= original.size(); ++n) {
      std::vector<uint8_t> cut(original.begin(), original.begin() + n);
      size_t records = Walk(cut).records.size();
      ASSERT_GE(records, before) << path << " cut at " << n;
      ASSERT_LE(records, whole);
      before = records;
    }
    EXPECT_EQ(before, whole);
  }
}
