// Pinyin matching: the embedded readings table against the plain listing
// written beside it, and the matcher against a plainly written reference
// built from that listing alone.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qvPackedName.h"
#include "qvPinyin.h"
#include "qvResource.h"

namespace {

using Listing = std::map<char32_t, std::vector<std::string>>;

// pinyin-readings.txt: "U+4E2D zhong", readings space-separated.
Listing ReadListing() {
  Listing listing;
  std::ifstream in(QV_SOURCE_DIR "engine/resources/pinyin-readings.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string code, reading;
    fields >> code;
    if (code.size() < 3 || code.compare(0, 2, "U+") != 0) return {};
    std::vector<std::string>& readings = listing[static_cast<char32_t>(std::stoul(code.substr(2), nullptr, 16))];
    while (fields >> reading) readings.push_back(reading);
    if (readings.empty()) return {};
  }
  return listing;
}

const Listing& TheListing() {
  static const Listing listing = ReadListing();
  return listing;
}

std::vector<std::string> TableReadings(const qvPinyinTable& table, char32_t cp) {
  std::vector<std::string> out;
  for (uint16_t id : table.Readings(cp)) out.emplace_back(table.Syllable(id));
  return out;
}

// --- the reference matcher ----------------------------------------------------

// The name as code points: surrogate pairs joined, a lone surrogate kept
// as its own value, ASCII upper case folded.
std::u32string CodePoints(const std::u16string& name) {
  std::u32string out;
  for (size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    if (c >= 'A' && c <= 'Z') c += 32;
    out.push_back(c);
  }
  return out;
}

// Whether some run of the name spells the term: from every start, the set
// of term positions reached so far, grown one code point at a time.
bool ReferenceMatches(const Listing& listing, const std::string& term, const std::u16string& name) {
  const std::u32string cps = CodePoints(name);
  for (size_t s = 0; s < cps.size(); ++s) {
    std::set<size_t> at = {0};
    for (size_t i = s; i < cps.size() && !at.empty(); ++i) {
      std::set<size_t> next;
      auto found = listing.find(cps[i]);
      for (size_t p : at) {
        if (found != listing.end()) {
          for (const std::string& r : found->second)
            for (size_t k = 1; k <= r.size() && p + k <= term.size(); ++k)
              if (term.compare(p, k, r, 0, k) == 0) next.insert(p + k);
        } else if (p < term.size() && cps[i] == static_cast<unsigned char>(term[p])) {
          next.insert(p + 1);
        }
      }
      if (next.count(term.size())) return true;
      at = std::move(next);
    }
  }
  return false;
}

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool Find(const std::string& term, const std::u16string& name) {
  qvPinyinTerm t;
  const std::u16string units = U16(term);
  EXPECT_TRUE(t.Set(units.data(), units.size())) << term;
  return t.Matches(name.data(), name.size());
}

// --- the table ----------------------------------------------------------------

// The look for an ideograph that can open a match, both ways the scan asks
// it: with the name alone in its buffer (read unit by unit), and after a
// record header (read sixteen bytes at a time, which must pass the header
// over). The header's bytes would open anything if they were read: a
// marker before a surrogate.
std::vector<uint8_t> AfterHeader(const std::vector<uint8_t>& packed) {
  std::vector<uint8_t> record(16 + packed.size(), 0xD8);
  for (size_t i = 0; i < 16; i += 3) record[i] = 0x81;
  std::copy(packed.begin(), packed.end(), record.begin() + 16);
  return record;
}

bool HoldsOpener(const qvPinyinTerm& t, const std::vector<uint8_t>& packed) {
  const bool alone = t.HoldsOpenerPacked(packed.data(), packed.data(), packed.size());
  const std::vector<uint8_t> record = AfterHeader(packed);
  const bool afterHeader = t.HoldsOpenerPacked(record.data(), record.data() + 16, packed.size());
  // Sixteen bytes at a time read every marker the unit-by-unit walk reads
  // (and bytes of units that look like markers: more yes, never fewer).
  if (alone) {
    EXPECT_TRUE(afterHeader);
  }
  return alone && afterHeader;
}

TEST(PinyinTable, EmbeddedTableIsWholeAndSmall) {
  size_t size = 0;
  const void* blob = qvFindResource("PINYIN", QV_RESOURCE_PINYIN, &size);
  ASSERT_NE(blob, nullptr);
  EXPECT_LT(size, 200u * 1024);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(blob) % 8, 0u);
  const qvPinyinTable& table = qvPinyinTable::Get();
  ASSERT_TRUE(table.Valid());
  ASSERT_GT(TheListing().size(), 40000u);
  EXPECT_EQ(table.IdeographCount(), TheListing().size());
  EXPECT_GT(table.SyllableCount(), 400u);
  EXPECT_EQ(&qvPinyinTable::Get(), &table);
}

// Every code point of the first four planes: the table's readings are the
// listing's, and nothing the listing leaves out has any.
TEST(PinyinTable, AgreesWithTheListing) {
  const qvPinyinTable& table = qvPinyinTable::Get();
  const Listing& listing = TheListing();
  ASSERT_FALSE(listing.empty());
  size_t mismatches = 0;
  for (char32_t cp = 0; cp < 0x40000; ++cp) {
    auto found = listing.find(cp);
    const std::vector<std::string> expected = found == listing.end() ? std::vector<std::string>{} : found->second;
    if (TableReadings(table, cp) != expected && ++mismatches <= 5) ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(cp);
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_TRUE(table.Readings(0x10FFFF).empty());
  EXPECT_TRUE(table.Readings(0xFFFFFFFF).empty());
}

// A term looks into the table only for a name with a unit in this range
// (or beyond the first plane): nothing outside it may have a reading.
TEST(PinyinTable, ReadingsOfTheFirstPlaneLieInTheIdeographRange) {
  const qvPinyinTable& table = qvPinyinTable::Get();
  for (char32_t cp = 0; cp < 0x10000; ++cp) {
    if (cp >= qvPinyinTerm::kFirstIdeograph && cp <= qvPinyinTerm::kLastIdeograph) continue;
    ASSERT_TRUE(table.Readings(cp).empty()) << "U+" << std::hex << static_cast<uint32_t>(cp);
  }
  EXPECT_FALSE(table.Readings(qvPinyinTerm::kFirstIdeograph).empty());
}

TEST(PinyinTable, KnownReadings) {
  const qvPinyinTable& table = qvPinyinTable::Get();
  auto has = [&](char32_t cp, const char* reading) {
    for (const std::string& r : TableReadings(table, cp))
      if (r == reading) return true;
    return false;
  };
  EXPECT_TRUE(has(0x884C, "xing"));   // 行
  EXPECT_TRUE(has(0x884C, "hang"));
  EXPECT_TRUE(has(0x5973, "nv"));     // 女: ü as v ...
  EXPECT_TRUE(has(0x5973, "nu"));     // ... and as u
  EXPECT_TRUE(has(0x7565, "lve"));    // 略
  EXPECT_TRUE(has(0x7565, "lue"));
  EXPECT_TRUE(has(0x20000, "he"));    // 𠀀, beyond the BMP
  EXPECT_TRUE(table.Readings(0x5159).empty());  // 兙 has no reading
  EXPECT_TRUE(table.Readings(u'a').empty());
  EXPECT_TRUE(table.Readings(0xD800).empty());
}

// A copy of the embedded table that can be damaged, 8-byte aligned.
struct Blob {
  std::vector<uint64_t> words;
  size_t size;
  Blob() {
    const void* data = qvFindResource("PINYIN", QV_RESOURCE_PINYIN, &size);
    words.resize((size + 7) / 8);
    std::memcpy(words.data(), data, size);
  }
  unsigned char* Bytes() { return reinterpret_cast<unsigned char*>(words.data()); }
  uint32_t U32(size_t at) { uint32_t v; std::memcpy(&v, Bytes() + at, 4); return v; }
};

TEST(PinyinTable, DamagedTablesAreEmpty) {
  Blob blob;
  ASSERT_TRUE(qvPinyinTable(blob.Bytes(), blob.size).Valid());
  auto refused = [](const void* data, size_t size) {
    qvPinyinTable t(data, size);
    return !t.Valid() && t.IdeographCount() == 0 && t.Readings(0x4E2D).empty();
  };
  EXPECT_TRUE(refused(nullptr, 0));
  EXPECT_TRUE(refused(blob.Bytes() + 8, blob.size - 8));  // no header
  EXPECT_TRUE(refused(blob.Bytes() + 1, blob.size - 1));  // misaligned
  // Offsets as the format lays them out.
  auto align8 = [](size_t n) { return (n + 7) & ~size_t{7}; };
  const size_t pages = blob.U32(12), top = blob.U32(8), entries = blob.U32(16), pool = blob.U32(20);
  const size_t poolAt = 32 + align8(pages * 8) + align8(pages * 4) + align8(top * 2) + align8(entries * 2);
  const size_t namesAt = poolAt + align8(pool * 2);
  const size_t namesEnd = namesAt + blob.U32(24);
  ASSERT_LE(namesEnd, blob.size);
  for (size_t cut = 0; cut < namesEnd; cut += 97)
    EXPECT_TRUE(refused(blob.Bytes(), cut)) << cut;
  EXPECT_TRUE(refused(blob.Bytes(), namesEnd - 1));

  // Header fields, then the first pool list's count and first id, and the
  // first syllable's length and letter.
  struct Damage {
    size_t at;
    unsigned char value;
  } damages[] = {
      {0, 'X'},              // magic
      {4, 2},                // version
      {6, 0}, {7, 0},        // no syllables
      {8, 0xFF}, {11, 0xFF},  // top count beyond Unicode
      {12, 0xFF},            // page count past the data
      {poolAt, 0},           // an empty reading list
      {poolAt + 1, 0xFF},    // a list running off the pool
      {poolAt + 3, 0xFF},    // a syllable id out of range
      {namesAt, 0},          // a syllable of no letters
      {namesAt, 8},          // longer than seven
      {namesAt + 1, 'A'},    // not a lower-case letter
  };
  for (const Damage& d : damages) {
    Blob copy;
    copy.Bytes()[d.at] = d.value;
    EXPECT_TRUE(refused(copy.Bytes(), copy.size)) << "byte " << d.at;
  }
  // An entry naming a place inside a list, where a syllable id would be
  // read as a count.
  Blob inside;
  const size_t entriesAt = poolAt - align8(entries * 2);
  uint16_t first;
  std::memcpy(&first, inside.Bytes() + entriesAt, 2);
  first = static_cast<uint16_t>(first + 1);
  std::memcpy(inside.Bytes() + entriesAt, &first, 2);
  EXPECT_TRUE(refused(inside.Bytes(), inside.size));
}

// Random damage: a table either refuses itself or answers every lookup
// from inside its own bytes (the sanitizer builds check the second).
TEST(PinyinTable, RandomDamageStaysInBounds) {
  std::mt19937 random(20240611);
  Blob clean;
  size_t refused = 0;
  for (int round = 0; round < 400; ++round) {
    Blob blob;
    std::uniform_int_distribution<size_t> at(0, blob.size - 1);
    for (int k = 0; k < 1 + round % 4; ++k) blob.Bytes()[at(random)] ^= static_cast<unsigned char>(1 + random() % 255);
    qvPinyinTable table(blob.Bytes(), blob.size);
    if (!table.Valid()) {
      ++refused;
      continue;
    }
    for (char32_t cp = 0x4E00; cp < 0xA000; cp += 7)
      for (uint16_t id : table.Readings(cp)) ASSERT_LE(table.Syllable(id).size(), 7u);
  }
  EXPECT_GT(refused, 0u);
}

// --- the term -----------------------------------------------------------------

TEST(PinyinTerm, SetRefusesTermsPinyinCannotMatch) {
  qvPinyinTerm t;
  auto set = [&](const std::u16string& term) { return t.Set(term.data(), term.size()); };
  EXPECT_FALSE(set(u""));
  EXPECT_FALSE(set(u"2024"));
  EXPECT_FALSE(set(u"_-.()"));
  EXPECT_FALSE(set(u"报告"));
  EXPECT_FALSE(set(u"bao告"));
  EXPECT_FALSE(set(u"b\u00e9"));
  EXPECT_FALSE(set(std::u16string(qvPinyinTerm::kMaxLength + 1, u'b')));
  // A refused term leaves nothing behind that could match.
  const std::u16string name = u"2024报告";
  EXPECT_FALSE(t.Matches(name.data(), name.size()));
  EXPECT_TRUE(set(u"2024n"));
  EXPECT_TRUE(set(u"BG"));  // folded here too
  EXPECT_TRUE(t.Matches(u"报告", 2));
  EXPECT_TRUE(set(std::u16string(qvPinyinTerm::kMaxLength, u'b')));
}

TEST(PinyinTerm, IdeographsByPrefixesOfTheirReadings) {
  for (const char* term : {"bg", "baog", "baogao", "bgao", "bagao", "b", "g", "ba", "bao", "ga"})
    EXPECT_TRUE(Find(term, u"报告")) << term;
  // A run of the name, in order, each ideograph from its reading's start.
  for (const char* term : {"ao", "gb", "bgx", "baogaoo", "xbg", "bao gao", "bao_gao"})
    EXPECT_FALSE(Find(term, u"报告")) << term;

  EXPECT_TRUE(Find("xing", u"银行"));
  EXPECT_TRUE(Find("hang", u"银行"));
  EXPECT_TRUE(Find("yh", u"银行"));
  EXPECT_TRUE(Find("yinhang", u"银行"));
  EXPECT_FALSE(Find("xingh", u"银行"));

  // ü is typed as v or u.
  EXPECT_TRUE(Find("lv", u"绿色"));
  EXPECT_TRUE(Find("lus", u"绿色"));
  EXPECT_TRUE(Find("nvsheng", u"女生"));
  EXPECT_TRUE(Find("nusheng", u"女生"));
}

TEST(PinyinTerm, MixedNames) {
  EXPECT_TRUE(Find("2024nbg", u"2024年报告.pdf"));
  EXPECT_TRUE(Find("4nb", u"2024年报告.pdf"));
  EXPECT_TRUE(Find("g.pdf", u"2024年报告.pdf"));
  EXPECT_FALSE(Find("2025nbg", u"2024年报告.pdf"));
  EXPECT_FALSE(Find("2024bg", u"2024年报告.pdf"));  // 年 cannot be skipped
  EXPECT_TRUE(Find("reportbg", u"Report报告"));      // ASCII compared folded
  EXPECT_TRUE(Find("zw_v2", u"中文_v2"));
  EXPECT_FALSE(Find("zwv2", u"中文_v2"));
  // A term plain ASCII would find is found too.
  EXPECT_TRUE(Find("pdf", u"报告.pdf"));
}

TEST(PinyinTerm, UnitsWithoutReadingsOnlyMatchThemselves) {
  // 兙 has no reading: it matches no letter and breaks the run.
  EXPECT_FALSE(Find("a", u"兙"));
  EXPECT_FALSE(Find("ab", u"a兙b"));
  EXPECT_FALSE(Find("bg", u"报兙告"));
  EXPECT_TRUE(Find("b", u"a兙b"));
  // Lone surrogates, wherever they stand.
  EXPECT_FALSE(Find("bg", u"报\xD800告"));
  EXPECT_FALSE(Find("bg", u"报\xDC00告"));
  EXPECT_TRUE(Find("bg", std::u16string(u"\xDC00报告\xD800")));
  EXPECT_TRUE(Find("g", std::u16string(u"\xD800告")));
  // A pair reads as the ideograph it encodes (U+20000, "he"); the same
  // units in the wrong order are two lone surrogates.
  EXPECT_TRUE(Find("he", u"\U00020000"));
  EXPECT_TRUE(Find("xhe", u"x\U00020000"));
  EXPECT_FALSE(Find("he", std::u16string{0xDC00, 0xD840}));
  EXPECT_FALSE(Find("h", std::u16string{0xD840}));
}

// A table that refused itself leaves the units to match only themselves.
TEST(PinyinTerm, WithAnEmptyTableUnitsMatchOnlyThemselves) {
  const qvPinyinTable empty(nullptr, 0);
  qvPinyinTerm t(empty);
  ASSERT_TRUE(t.Set(u"bg", 2));
  EXPECT_FALSE(t.Matches(u"报告", 2));
  EXPECT_TRUE(t.Matches(u"报bg", 3));
}

// Terms longer than one word of positions.
TEST(PinyinTerm, OpenersAreLookedForWhereAMatchCanBegin) {
  qvPinyinTerm t;
  const std::u16string term = u"report";
  ASSERT_TRUE(t.Set(term.data(), term.size()));
  auto holds = [&](const std::u16string& name) {
    std::vector<uint8_t> packed(name.size() * 3);
    packed.resize(PackedName::Encode(name.data(), name.size(), packed.data()));
    const std::vector<uint8_t> record = AfterHeader(packed);
    const bool afterHeader = t.HoldsOpenerPacked(record.data(), record.data() + 16, packed.size());
    EXPECT_EQ(t.HoldsOpenerPacked(packed.data(), packed.data(), packed.size()), afterHeader)
        << std::string(name.begin(), name.end());
    return afterHeader;
  };
  // 片 reads pian: it can take the p of "report" after "re", nowhere else.
  EXPECT_TRUE(holds(u"re片ort"));
  EXPECT_TRUE(holds(u"Re片ort_2024_long_name_over_the_window"));
  EXPECT_FALSE(holds(u"片"));
  EXPECT_FALSE(holds(u"x片ort"));
  EXPECT_FALSE(holds(u"中文中文中文_part_of_a_longer_name"));
  // 日 reads ri: it can begin the term.
  EXPECT_TRUE(holds(u"日"));
  EXPECT_TRUE(holds(u"a_long_name_before_the_ideograph_日"));
  // A lone surrogate is not looked into.
  EXPECT_TRUE(holds(u"x\xD800y"));
}

TEST(PinyinTerm, LongTerms) {
  for (size_t n : {63u, 64u, 65u, 127u, 128u, 129u, 250u}) {
    std::u16string name = u"x";
    for (size_t i = 0; i < n; ++i) name += (i % 2 ? u'告' : u'报');
    name += u".txt";
    std::string term;
    for (size_t i = 0; i < n; ++i) term += (i % 2 ? "g" : "bao");
    EXPECT_TRUE(Find(term, name)) << n;
    EXPECT_TRUE(Find("x" + term + ".t", name)) << n;
    EXPECT_FALSE(Find(term + "x", name)) << n;
    EXPECT_FALSE(Find("g" + term, name)) << n;
  }
}

TEST(PinyinTerm, SharedBetweenThreads) {
  qvPinyinTerm t;
  ASSERT_TRUE(t.Set(u"bg", 2));
  const std::u16string names[] = {u"年度报告", u"报表", u"bg.png", u"别管"};
  const bool expected[] = {true, false, true, true};
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (int i = 0; i < 20000; ++i)
        if (t.Matches(names[i % 4].data(), names[i % 4].size()) != expected[i % 4]) ++wrong[k];
    });
  for (std::thread& th : threads) th.join();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(wrong[k], 0);
}

// --- the oracle ---------------------------------------------------------------

// Random names from a few ideographs (several readings, one without any,
// one beyond the BMP), ASCII and lone surrogates; terms spelled from runs
// of them, then perhaps damaged, or random letters.
class PinyinOracle {
 public:
  explicit PinyinOracle(uint32_t seed) : random_(seed) {}

  // With `breaks`, also units that no term letter matches (an ideograph
  // without a reading, lone surrogates).
  std::u16string Name(size_t minUnits, size_t maxUnits, bool breaks) {
    static const std::u16string kIdeographs[] = {u"报", u"告", u"年", u"行", u"中", u"文", u"女", u"绿",
                                                 u"长", u"重", u"的", u"乐", u"\U00020000", u"和", u"兙"};
    static const char kAscii[] = "abceghilnorxyz12._";
    std::u16string name;
    const size_t units = Pick(minUnits, maxUnits);
    while (name.size() < units) {
      const size_t kind = Pick(0, 19);
      if (kind < 11) name += kIdeographs[Pick(0, std::size(kIdeographs) - (breaks ? 1 : 2))];
      else if (kind < 19 || !breaks) name += static_cast<char16_t>(kAscii[Pick(0, sizeof kAscii - 2)]);
      else name += static_cast<char16_t>(Pick(0, 1) ? 0xD800 + Pick(0, 0x3FF) : 0xDC00 + Pick(0, 0x3FF));
    }
    return name;
  }

  std::string Term(const Listing& listing, const std::u16string& name, size_t maxRun) {
    if (Pick(0, 4) == 0) {
      std::string letters;
      for (size_t k = Pick(1, 6); k > 0; --k) letters += static_cast<char>('a' + Pick(0, 25));
      return letters;
    }
    const std::u32string cps = CodePoints(name);
    const size_t from = Pick(0, cps.size() - 1);
    const size_t to = std::min(cps.size(), from + Pick(1, maxRun));
    std::string term;
    for (size_t i = from; i < to; ++i) {
      auto found = listing.find(cps[i]);
      if (found != listing.end()) {
        const std::string& r = found->second[Pick(0, found->second.size() - 1)];
        term += r.substr(0, Pick(1, r.size()));
      } else if (cps[i] < 128) {
        term += static_cast<char>(cps[i]);
      }
    }
    if (term.empty() || Pick(0, 3) == 0) {
      const size_t at = term.empty() ? 0 : Pick(0, term.size() - 1);
      switch (Pick(0, 2)) {
        case 0: term.insert(at, 1, static_cast<char>('a' + Pick(0, 25))); break;
        case 1: if (!term.empty()) term.erase(at, 1); break;
        default: if (!term.empty()) term[at] = static_cast<char>('a' + Pick(0, 25)); break;
      }
    }
    return term;
  }

 private:
  size_t Pick(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(random_); }
  std::mt19937 random_;
};

// The term found as typed, ASCII compared without case.
bool FoldedContains(const std::u16string& name, const std::string& term) {
  std::u16string folded = name;
  for (char16_t& c : folded)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return folded.find(U16(term)) != std::u16string::npos;
}

bool HasLetter(const std::string& term) {
  for (char c : term)
    if (c >= 'a' && c <= 'z') return true;
  return false;
}

void RunOracle(uint32_t seed, int pairs, size_t minUnits, size_t maxUnits, size_t maxRun, bool breaks) {
  const Listing& listing = TheListing();
  ASSERT_FALSE(listing.empty());
  PinyinOracle oracle(seed);
  size_t matched = 0, missed = 0;
  for (int i = 0; i < pairs; ++i) {
    const std::u16string name = oracle.Name(minUnits, maxUnits, breaks);
    const std::string term = oracle.Term(listing, name, maxRun);
    const std::u16string units = U16(term);
    qvPinyinTerm t;
    const bool set = t.Set(units.data(), units.size());
    ASSERT_EQ(set, HasLetter(term)) << term;
    if (!set) continue;
    const bool expected = ReferenceMatches(listing, term, name);
    ASSERT_EQ(t.Matches(name.data(), name.size()), expected) << "pair " << i << " term " << term;
    // The same told from the stored bytes, where the scan asks first: a
    // "no" there must hold whatever extension follows the stored name.
    std::vector<uint8_t> packed(name.size() * 3);
    packed.resize(PackedName::Encode(name.data(), name.size(), packed.data()));
    const qvPinyinTerm::Packed v = t.MatchPacked(packed.data(), packed.size());
    if (v != qvPinyinTerm::Packed::kMaybe) {
      ASSERT_EQ(v == qvPinyinTerm::Packed::kMatch, expected) << "pair " << i << " term " << term;
    }
    // The scan decodes a wide name only where an ideograph can begin the
    // match; a name spelled through its ideographs must have one.
    const bool asTyped = FoldedContains(name, term);
    if (expected && !asTyped) {
      ASSERT_TRUE(HoldsOpener(t, packed)) << "pair " << i << " term " << term;
    }
    if (v == qvPinyinTerm::Packed::kNo) {
      // Nothing begun in the name runs on into what follows it: the name
      // followed by the rest of the term matches only where the rest does.
      for (size_t k = 1; k < units.size() && k <= 8; ++k) {
        const std::u16string rest = units.substr(k), followed = name + rest;
        ASSERT_EQ(t.Matches(followed.data(), followed.size()), t.Matches(rest.data(), rest.size()))
            << "pair " << i << " term " << term << " followed by its last " << rest.size();
      }
    } else if (v == qvPinyinTerm::Packed::kOpen && !HoldsOpener(t, packed)) {
      // Begun in the name without an ideograph that can open the match:
      // what follows completes the term only as typed.
      for (size_t k = 1; k < units.size() && k <= 8; ++k) {
        const std::u16string followed = name + units.substr(k);
        if (t.Matches(followed.data(), followed.size())) {
          ASSERT_TRUE(FoldedContains(followed, term)) << "pair " << i << " term " << term;
        }
      }
    }
    ++(expected ? matched : missed);
  }
  // Both answers must be common, or the comparison proves little.
  EXPECT_GT(matched, static_cast<size_t>(pairs) / 5);
  EXPECT_GT(missed, static_cast<size_t>(pairs) / 10);
}

TEST(PinyinOracle, ShortNamesAgreeWithTheReference) {
  RunOracle(7, 3000, 1, 14, 6, true);
}

TEST(PinyinOracle, LongTermsAgreeWithTheReference) {
  RunOracle(11, 300, 60, 180, 160, false);
}

}  // namespace
