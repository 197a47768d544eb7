// The embedded pinyin collation table and its lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "qvResource.h"

namespace {

constexpr char32_t kFirst = 0x4E00;
constexpr size_t kCount = 0x9FA5 - 0x4E00 + 1;
constexpr size_t kTableBytes = 41804;
constexpr uint16_t kNoRank = 0xFFFF;
constexpr char32_t kUnread[] = {0x56D7, 0x5EFE, 0x70BA, 0x864D, 0x9997, 0x9F6A};

// The table decoded as stored: little-endian, whatever the host order.
std::vector<uint16_t> Ranks() {
  size_t size = 0;
  auto* p = static_cast<const unsigned char*>(qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size));
  std::vector<uint16_t> ranks;
  if (!p || size != kTableBytes) return ranks;
  for (size_t i = 0; i < kCount; ++i)
    ranks.push_back(static_cast<uint16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
  return ranks;
}

uint16_t RankOf(const std::vector<uint16_t>& ranks, char32_t c) { return ranks[c - kFirst]; }

bool IsUnread(char32_t c) {
  for (char32_t u : kUnread)
    if (u == c) return true;
  return false;
}

TEST(ZisortResource, FoundWithItsSize) {
  size_t size = 0;
  const void* p = qvFindResource("ZISORT", 101, &size);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(size, kTableBytes);
  // Read as uint16_t, so it must be at least 2-byte aligned.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 2, 0u);
  // The size is optional and the same table comes back each time.
  EXPECT_EQ(qvFindResource("ZISORT", 101, nullptr), p);
}

TEST(ZisortResource, UnknownTypeOrIdIsNull) {
  size_t size = 123;
  EXPECT_EQ(qvFindResource("ZISORTX", 101, &size), nullptr);
  EXPECT_EQ(size, 0u);
  size = 123;
  EXPECT_EQ(qvFindResource("ZISOR", 101, &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(qvFindResource("", 101, &size), nullptr);
  EXPECT_EQ(qvFindResource(nullptr, 101, &size), nullptr);
  EXPECT_EQ(qvFindResource("ZISORT", 100, &size), nullptr);
  EXPECT_EQ(qvFindResource("ZISORT", 102, &size), nullptr);
  EXPECT_EQ(qvFindResource("ZISORT", 0, nullptr), nullptr);
}

TEST(ZisortTable, IdeographsWithoutReadingHaveNoRank) {
  std::vector<uint16_t> ranks = Ranks();
  ASSERT_EQ(ranks.size(), kCount);
  for (char32_t c : kUnread) EXPECT_EQ(RankOf(ranks, c), kNoRank) << std::hex << unsigned(c);
}

TEST(ZisortTable, OtherRanksArePermutation) {
  std::vector<uint16_t> ranks = Ranks();
  ASSERT_EQ(ranks.size(), kCount);
  const size_t ranked = kCount - std::size(kUnread);
  std::vector<int> uses(ranked, 0);
  size_t bad = 0;
  for (size_t i = 0; i < kCount; ++i) {
    char32_t c = kFirst + static_cast<char32_t>(i);
    if (IsUnread(c)) continue;
    uint16_t r = ranks[i];
    if (r >= ranked) {
      if (bad++ < 5)
        ADD_FAILURE() << "U+" << std::hex << unsigned(c) << " has rank " << std::dec << r;
      continue;
    }
    ++uses[r];
  }
  EXPECT_EQ(bad, 0u);
  size_t wrong = 0;
  for (size_t r = 0; r < ranked; ++r)
    if (uses[r] != 1 && wrong++ < 5)
      ADD_FAILURE() << "rank " << r << " used " << uses[r] << " times";
  EXPECT_EQ(wrong, 0u);
}

TEST(ZisortTable, PinyinOrder) {
  std::vector<uint16_t> ranks = Ranks();
  ASSERT_EQ(ranks.size(), kCount);
  // Each pair: first reads before second.
  const std::pair<char32_t, char32_t> pairs[] = {
      {0x554A, 0x5B89},  // 啊 a < 安 an
      {0x963F, 0x5B89},  // 阿 a < 安 an
      {0x5B89, 0x516B},  // 安 an < 八 ba
      {0x628A, 0x5F20},  // 把 ba < 张 zhang
      {0x5F20, 0x8D75},  // 张 zhang < 赵 zhao
      {0x8D75, 0x5EA7},  // 赵 zhao < 座 zuo
      {0x516B, 0x5317},  // 八 ba < 北 bei
      {0x5317, 0x4EAC},  // 北 bei < 京 jing
      {0x4EAC, 0x4E0A},  // 京 jing < 上 shang
      {0x4E0A, 0x4E00},  // 上 shang < 一 yi
      {0x4E00, 0x5F20},  // 一 yi < 张 zhang
      {0x8D75, 0x4E2D},  // 赵 zhao < 中 zhong
      {0x4E2D, 0x5EA7},  // 中 zhong < 座 zuo
  };
  for (auto [a, b] : pairs)
    EXPECT_LT(RankOf(ranks, a), RankOf(ranks, b))
        << std::hex << "U+" << unsigned(a) << " vs U+" << unsigned(b);
  // The syllable "a" opens the table and "zuo" is among the last.
  EXPECT_LT(std::min(RankOf(ranks, 0x554A), RankOf(ranks, 0x963F)), 10);
  EXPECT_GT(RankOf(ranks, 0x5EA7), 20800);
}

}  // namespace
