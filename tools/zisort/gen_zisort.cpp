// Builds the ZISORT collation table: one little-endian 16-bit rank for every
// ideograph U+4E00..U+9FA5, in the order of the pinyin collator of ICU.
//
//   gen_zisort OUTPUT [LOCALE]
//
// LOCALE defaults to "zh@collation=pinyin". The table is checked before it
// is written; the program exits non-zero when the collator is missing or the
// result breaks any of the checks below.
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char32_t kFirst = 0x4E00;
constexpr char32_t kLast = 0x9FA5;
constexpr size_t kCount = kLast - kFirst + 1;  // 20902
constexpr uint16_t kNoRank = 0xFFFF;

// Ideographs that have no reading of their own; they sort after every other.
constexpr char32_t kUnread[] = {0x56D7, 0x5EFE, 0x70BA, 0x864D, 0x9997, 0x9F6A};
constexpr size_t kRanked = kCount - std::size(kUnread);  // 20896

// Pairs whose order any pinyin table must keep: first sorts before second.
constexpr std::pair<char32_t, char32_t> kOrdered[] = {
    {0x554A, 0x5B89},  // 啊 a    < 安 an
    {0x963F, 0x5B89},  // 阿 a    < 安 an
    {0x5B89, 0x516B},  // 安 an   < 八 ba
    {0x628A, 0x5F20},  // 把 ba   < 张 zhang
    {0x5F20, 0x8D75},  // 张 zhang < 赵 zhao
    {0x8D75, 0x5EA7},  // 赵 zhao < 座 zuo
};

bool IsUnread(char32_t c) {
  return std::find(std::begin(kUnread), std::end(kUnread), c) != std::end(kUnread);
}

std::string SortKey(const icu::Collator& coll, char32_t c) {
  icu::UnicodeString text(static_cast<UChar32>(c));
  std::string key(64, '\0');
  for (;;) {
    int32_t n = coll.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()),
                                static_cast<int32_t>(key.size()));
    if (n <= 0) return {};
    if (static_cast<size_t>(n) <= key.size()) {
      key.resize(static_cast<size_t>(n));
      return key;
    }
    key.resize(static_cast<size_t>(n));
  }
}

// Returns the number of problems found, after printing each.
int Check(const std::vector<uint16_t>& ranks) {
  int problems = 0;
  if (ranks.size() != kCount) {
    std::fprintf(stderr, "table has %zu entries, expected %zu\n", ranks.size(), kCount);
    return 1;
  }
  std::vector<int> seen(kRanked, 0);
  for (size_t i = 0; i < kCount; ++i) {
    char32_t c = kFirst + static_cast<char32_t>(i);
    uint16_t r = ranks[i];
    if (IsUnread(c)) {
      if (r != kNoRank) {
        std::fprintf(stderr, "U+%04X should have no rank, has %u\n", unsigned(c), unsigned(r));
        ++problems;
      }
    } else if (r >= kRanked) {
      std::fprintf(stderr, "U+%04X has rank %u, out of range\n", unsigned(c), unsigned(r));
      ++problems;
    } else if (seen[r]++) {
      std::fprintf(stderr, "rank %u is used twice (again by U+%04X)\n", unsigned(r), unsigned(c));
      ++problems;
    }
  }
  for (auto [a, b] : kOrdered) {
    uint16_t ra = ranks[a - kFirst], rb = ranks[b - kFirst];
    if (!(ra < rb)) {
      std::fprintf(stderr, "U+%04X (rank %u) should sort before U+%04X (rank %u)\n",
                   unsigned(a), unsigned(ra), unsigned(b), unsigned(rb));
      ++problems;
    }
  }
  return problems;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT [LOCALE]\n", argv[0]);
    return 2;
  }
  const char* output = argv[1];
  const char* locale = argc > 2 ? argv[2] : "zh@collation=pinyin";

  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> coll(icu::Collator::createInstance(icu::Locale(locale), status));
  // A missing tailoring falls back to the root order, which is by code point.
  if (U_FAILURE(status) || status == U_USING_DEFAULT_WARNING || !coll) {
    std::fprintf(stderr, "no collator for %s: %s\n", locale, u_errorName(status));
    return 1;
  }

  std::vector<std::pair<std::string, char32_t>> keyed;
  keyed.reserve(kRanked);
  for (char32_t c = kFirst; c <= kLast; ++c) {
    if (IsUnread(c)) continue;
    std::string key = SortKey(*coll, c);
    if (key.empty()) {
      std::fprintf(stderr, "no sort key for U+%04X\n", unsigned(c));
      return 1;
    }
    keyed.emplace_back(std::move(key), c);
  }
  // Equal keys keep code point order.
  std::sort(keyed.begin(), keyed.end());

  std::vector<uint16_t> ranks(kCount, kNoRank);
  for (size_t r = 0; r < keyed.size(); ++r)
    ranks[keyed[r].second - kFirst] = static_cast<uint16_t>(r);

  if (int problems = Check(ranks)) {
    std::fprintf(stderr, "%d problem(s); %s not written\n", problems, output);
    return 1;
  }

  std::vector<unsigned char> bytes;
  bytes.reserve(kCount * 2);
  for (uint16_t r : ranks) {
    bytes.push_back(static_cast<unsigned char>(r & 0xFF));
    bytes.push_back(static_cast<unsigned char>(r >> 8));
  }
  FILE* f = std::fopen(output, "wb");
  if (!f) {
    std::perror(output);
    return 1;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::perror(output);
    return 1;
  }

  std::printf("%s: %zu bytes, %zu ranked, %zu without reading (%s, ICU %s)\n", output, bytes.size(),
              kRanked, std::size(kUnread), locale, U_ICU_VERSION);
  for (char32_t c : {0x554A, 0x963F, 0x5B89, 0x628A, 0x516B, 0x5F20, 0x8D75, 0x5EA7})
    std::printf("  U+%04X %u\n", unsigned(c), unsigned(ranks[c - kFirst]));
  return 0;
}
