// Compiling queries into pattern sets, the match predicate, the wildcard
// test and the plain-ASCII automaton, without an engine around them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qvAsciiAutomaton.h"
#include "qvAsciiTermFinder.h"
#include "qvMemoryPool.h"
#include "qvPackedName.h"
#include "qvPatternSet.h"
#include "qvSearchDriver.h"

namespace {

class PatternSetTest : public ::testing::Test {
 protected:
  bool Compile(const std::u16string& query) {
    text_ = query;
    return set.CompileQuery(text_.data());
  }
  bool Match(std::u16string name) { return set.MatchName(name.data(), name.size()); }

  static std::vector<std::u16string> Texts(const qvPlainTerm* p) {
    std::vector<std::u16string> out;
    for (; p; p = p->next) out.emplace_back(p->text, p->length);
    return out;
  }

  qvHeap heap;
  CPatternSet set{heap};
  std::u16string text_;
};

TEST_F(PatternSetTest, NoTermCompilesFalseAndStarsAloneLeaveTheSetEmpty) {
  EXPECT_FALSE(Compile(u""));
  EXPECT_FALSE(Compile(u"    "));
  EXPECT_FALSE(set.CompileQuery(nullptr));
  EXPECT_TRUE(Compile(u"*"));
  EXPECT_TRUE(set.Empty());
  EXPECT_TRUE(Compile(u"  ** *  "));
  EXPECT_TRUE(set.Empty());
  EXPECT_FALSE(Match(u"anything"));  // an empty set matches nothing
  // Only the space separates terms: a tab is part of a term.
  EXPECT_TRUE(Compile(u"a\tb"));
  EXPECT_EQ(Texts(set.Plain()), std::vector<std::u16string>{u"a\tb"});
}

TEST_F(PatternSetTest, CompileLowersOnlyAsciiLettersInPlaceAndTracksAsciiOnly) {
  EXPECT_TRUE(Compile(u"AbZ *Q? \u00C9x"));
  EXPECT_EQ(text_, u"abz *q? \u00C9x");
  EXPECT_FALSE(set.AsciiOnly());
  EXPECT_TRUE(Compile(u"ABC"));
  EXPECT_TRUE(set.AsciiOnly());  // cleared by every compile
}

TEST_F(PatternSetTest, TermsGoToTheirListsAndStarsCollapse) {
  ASSERT_TRUE(Compile(u"abc a?c a***b** **x?y *?"));
  EXPECT_EQ(Texts(set.Plain()), std::vector<std::u16string>{u"abc"});
  ASSERT_NE(set.Fixed(), nullptr);
  EXPECT_EQ(std::u16string(set.Fixed()->text), u"a?c");

  const qvWildTerm* star = set.Star();
  ASSERT_NE(star, nullptr);
  EXPECT_EQ(std::u16string(star->text, star->length), u"a*b*");
  EXPECT_EQ(star->stars, 2u);
  EXPECT_EQ(star->flags, qvWildTerm::kAnchoredStart);
  EXPECT_EQ(star->next, nullptr);

  // Mixed terms, newest first.
  const qvWildTerm* mixed = set.Mixed();
  ASSERT_NE(mixed, nullptr);
  EXPECT_EQ(std::u16string(mixed->text, mixed->length), u"*?");
  EXPECT_EQ(mixed->flags, qvWildTerm::kAnchoredEnd);
  EXPECT_EQ(mixed->MinLength(), 1u);
  ASSERT_NE(mixed->next, nullptr);
  EXPECT_EQ(std::u16string(mixed->next->text, mixed->next->length), u"*x?y");
  EXPECT_EQ(mixed->next->stars, 1u);
  EXPECT_EQ(ChooseScan(set), qvScanKind::kFixed);
}

TEST_F(PatternSetTest, ContradictionsCompileFalseAndLeaveNothingToMatch) {
  EXPECT_FALSE(Compile(u"a?c b?d"));
  EXPECT_TRUE(set.Empty());
  EXPECT_FALSE(Compile(u"ab?? xyz"));
  EXPECT_FALSE(Compile(u"xyz ab??"));   // plain first, then the pattern
  EXPECT_FALSE(Compile(u"abcd a??"));   // longer than the pattern
  EXPECT_FALSE(Compile(u"a?c abd"));
  EXPECT_FALSE(Compile(u"?? ???"));     // two lengths
  EXPECT_FALSE(Compile(u"a? *abc*"));   // three literals need three units
  EXPECT_FALSE(Compile(u"*a?c* ?"));
  EXPECT_FALSE(Match(u"abc"));
  // Fitting combinations are kept.
  EXPECT_TRUE(Compile(u"a?? *ab*"));
  EXPECT_TRUE(Compile(u"?b? ab"));
  EXPECT_TRUE(Compile(u"?b? ba"));
  EXPECT_FALSE(Compile(u"?b? aa"));  // fits at no offset
  EXPECT_FALSE(Compile(u"b?? ab?"));
}

TEST_F(PatternSetTest, QuestionTermsMergeAndAnEqualPlainTermFillsThePattern) {
  ASSERT_TRUE(Compile(u"a?c ?bc"));
  EXPECT_EQ(std::u16string(set.Fixed()->text), u"abc");
  EXPECT_TRUE(Match(u"abc"));
  EXPECT_FALSE(Match(u"abd"));
  EXPECT_FALSE(Match(u"xbc"));

  ASSERT_TRUE(Compile(u"??? xyz"));
  EXPECT_EQ(std::u16string(set.Fixed()->text), u"xyz");
  ASSERT_TRUE(Compile(u"x?z y"));
  EXPECT_EQ(std::u16string(set.Fixed()->text), u"x?z");  // shorter: the pattern stays
  EXPECT_TRUE(Match(u"xyz"));
  EXPECT_FALSE(Match(u"xaz"));
}

TEST_F(PatternSetTest, PlainListKeepsTheFirstTermAtTheHeadAndDropsRedundantTerms) {
  ASSERT_TRUE(Compile(u"port report"));
  EXPECT_EQ(Texts(set.Plain()), (std::vector<std::u16string>{u"port", u"report"}));
  ASSERT_TRUE(Compile(u"report port"));
  EXPECT_EQ(Texts(set.Plain()), std::vector<std::u16string>{u"report"});
  ASSERT_TRUE(Compile(u"ab abcd abc abcde xyz a q"));
  // abc lies in abcd, a in the head ab; q is shorter than every record
  // after the head and goes last.
  EXPECT_EQ(Texts(set.Plain()), (std::vector<std::u16string>{u"ab", u"abcde", u"abcd", u"xyz", u"q"}));
  ASSERT_TRUE(Compile(u"q abc xyz abc"));
  EXPECT_EQ(Texts(set.Plain()), (std::vector<std::u16string>{u"q", u"abc", u"xyz"}));
  // Redundancy compares exact units: a later 'B' is lowered first.
  ASSERT_TRUE(Compile(u"abc B"));
  EXPECT_EQ(Texts(set.Plain()), std::vector<std::u16string>{u"abc"});
}

TEST_F(PatternSetTest, MatchNameFoldsOnlyAsciiLetters) {
  ASSERT_TRUE(Compile(u"ABC"));
  std::u16string name = u"XAbCx";
  EXPECT_TRUE(set.MatchName(name.data(), name.size()));
  EXPECT_EQ(name, u"xabcx");
  EXPECT_TRUE(Match(u"xabcx"));
  EXPECT_FALSE(Match(u"ab"));
  ASSERT_TRUE(Compile(u"\u00E9"));
  EXPECT_TRUE(Match(u"caf\u00E9"));
  EXPECT_FALSE(Match(u"CAF\u00C9"));
  ASSERT_TRUE(Compile(u"port report"));
  EXPECT_TRUE(Match(u"Report"));
  EXPECT_FALSE(Match(u"port"));
}

TEST_F(PatternSetTest, WildcardSegmentsAreSearchedAfterThePreviousMatch) {
  ASSERT_TRUE(Compile(u"*ab*ba*"));
  EXPECT_FALSE(Match(u"abax"));
  EXPECT_TRUE(Match(u"abba"));
  EXPECT_TRUE(Match(u"xxabyybazz"));
  EXPECT_FALSE(Match(u"baab"));

  ASSERT_TRUE(Compile(u"ab*ba"));  // anchored both ends, they may not overlap
  EXPECT_FALSE(Match(u"aba"));
  EXPECT_TRUE(Match(u"abba"));
  EXPECT_FALSE(Match(u"abbax"));

  ASSERT_TRUE(Compile(u"a*"));
  EXPECT_TRUE(Match(u"abc"));
  EXPECT_FALSE(Match(u"bac"));
  ASSERT_TRUE(Compile(u"*c"));
  EXPECT_TRUE(Match(u"abc"));
  EXPECT_FALSE(Match(u"acb"));
  ASSERT_TRUE(Compile(u"*?"));
  EXPECT_TRUE(Match(u"x"));
  EXPECT_FALSE(Match(u""));
  ASSERT_TRUE(Compile(u"?b*d?"));
  EXPECT_TRUE(Match(u"abd!"));
  EXPECT_TRUE(Match(u"ab..d!"));
  EXPECT_FALSE(Match(u"bd!"));
  ASSERT_TRUE(Compile(u"*a?a*"));  // "?" inside a segment
  EXPECT_TRUE(Match(u"xxabaxx"));
  EXPECT_FALSE(Match(u"xxaaxx"));
}

// The failure links of the classic four-term example, and the row layout.
TEST(AsciiAutomaton, BuildsFailureLinksAndFoldedRows) {
  qvHeap heap;
  CPatternSet set(heap);
  std::u16string q = u"he she his hers";
  ASSERT_TRUE(set.CompileQuery(q.data()));
  // List order: he (head), hers, she, his.
  qvAsciiAutomaton a(heap);
  ASSERT_TRUE(a.Build(set.Plain()));
  EXPECT_EQ(a.TermCount(), 4u);
  auto next = [&](size_t s, char c) { return static_cast<size_t>(a.Row(s)[static_cast<uint8_t>(c)]); };
  auto walk = [&](const char* text) {
    size_t s = 0;
    for (const char* c = text; *c; ++c) s = next(s, *c);
    return s;
  };
  EXPECT_EQ(a.StateCount(), 1u + 2 + 2 + 3 + 2);  // shared prefixes h, he
  EXPECT_EQ(static_cast<int16_t>(a.Row(walk("he"))[0]), -1);
  EXPECT_EQ(static_cast<int16_t>(a.Row(walk("hers"))[0]), -2);
  EXPECT_EQ(static_cast<int16_t>(a.Row(walk("she"))[0]), -3);
  EXPECT_EQ(static_cast<int16_t>(a.Row(walk("his"))[0]), -4);
  EXPECT_EQ(a.Row(walk("she"))[1], walk("he"));
  EXPECT_EQ(a.Row(walk("sh"))[1], walk("h"));
  EXPECT_EQ(a.Row(walk("his"))[1], walk("s"));
  EXPECT_EQ(a.Row(walk("h"))[1], 0u);
  EXPECT_EQ(next(walk("sh"), 'E'), walk("she"));  // upper case follows lower
  EXPECT_EQ(next(0, 'z'), 0u);
  for (size_t c = 32; c < 128; ++c) EXPECT_NE(a.Row(walk("hers"))[c], qvAsciiAutomaton::kUndefined);
}

std::vector<uint8_t> Pack(const std::u16string& s) {
  std::vector<uint8_t> out(PackedName::EncodedLength(s.data(), s.size()));
  PackedName::Encode(s.data(), s.size(), out.data());
  return out;
}

TEST(AsciiAutomaton, WideUnitsAndControlCodesNeverJoinAMatch) {
  qvHeap heap;
  CPatternSet set(heap);
  std::u16string q = u"an";
  ASSERT_TRUE(set.CompileQuery(q.data()));
  qvAsciiAutomaton a(heap);
  ASSERT_TRUE(a.Build(set.Plain()));
  // U+4E61 is stored as 81 61 4E: its unit bytes spell "aN".
  auto hit = [&](const std::u16string& name) {
    std::vector<uint8_t> b = Pack(name);
    return a.Hit(b.data(), b.size());
  };
  EXPECT_FALSE(hit(u"\u4E61"));
  EXPECT_FALSE(hit(u"x\u4E61y"));
  EXPECT_FALSE(hit(u"a\u6E00"));  // 81 00 6E after 'a'
  EXPECT_FALSE(hit(u"a\x01n"));
  EXPECT_TRUE(hit(u"\u4E61AN"));
  EXPECT_TRUE(hit(u"\x01" u"an\x1f"));

  std::u16string control = u"a\x01";
  ASSERT_TRUE(set.CompileQuery(control.data()));
  EXPECT_FALSE(qvAsciiAutomaton::Accepts(set.Plain()));
  EXPECT_FALSE(a.Build(set.Plain()));
}

// Every term count, up to well past one 64-bit word of found terms, against
// a plain substring search on the decoded name.
TEST(AsciiAutomaton, AgreesWithSubstringSearchForManyTerms) {
  std::mt19937 rng(7);
  const std::u16string alphabet = u"abcAB.- \x01\x1f\u4E61\u6162";
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  qvHeap heap;
  CPatternSet set(heap);
  qvAsciiAutomaton a(heap);
  int hits = 0, cases = 0, manyWords = 0;
  for (int round = 0; round < 400; ++round) {
    size_t termCount = round < 300 ? 1 + pick(4) : 60 + pick(80);
    std::u16string query;
    for (size_t t = 0; t < termCount; ++t) {
      size_t len = 1 + pick(round < 300 ? 3 : 4);
      for (size_t k = 0; k < len; ++k) query += u"abcdeAB.-"[pick(9)];
      query += u' ';
    }
    ASSERT_TRUE(set.CompileQuery(query.data()));
    ASSERT_TRUE(a.Build(set.Plain()));
    if (round >= 300) {
      manyWords += a.TermCount() > 64;
      std::u16string all;
      for (const qvPlainTerm* p = set.Plain(); p; p = p->next) all += std::u16string(p->text, p->length) + u'|';
      std::vector<uint8_t> bytes = Pack(all);
      ASSERT_TRUE(a.Hit(bytes.data(), bytes.size())) << "round " << round;
    }
    for (int n = 0; n < 60; ++n) {
      std::u16string name;
      size_t len = pick(round < 300 ? 10 : 400);
      for (size_t k = 0; k < len; ++k) name += alphabet[pick(alphabet.size())];
      std::vector<uint8_t> bytes = Pack(name);
      std::u16string folded = name;
      bool expected = true;
      for (auto& c : folded) c = c >= u'A' && c <= u'Z' ? c + 32 : c;
      for (const qvPlainTerm* p = set.Plain(); p; p = p->next)
        expected = expected && folded.find(std::u16string(p->text, p->length)) != std::u16string::npos;
      ASSERT_EQ(a.Hit(bytes.data(), bytes.size()), expected) << "round " << round;
      hits += expected;
      ++cases;
    }
  }
  EXPECT_GT(hits, cases / 50);  // the cases must exercise both outcomes
  EXPECT_GT(manyWords, 20);
}

// Random finder cases: folded terms, name bytes from a small alphabet
// that holds wide and control bytes, and a plain search of the folded
// bytes for the answer.
struct FinderCases {
  std::mt19937 rng;
  size_t Pick(size_t n) { return static_cast<size_t>(rng() % n); }
  std::u16string Term(size_t maxUnits) {
    static const char16_t kTerms[] = u"abAB.c\x01";
    std::u16string term;
    for (size_t k = 0, n = 1 + Pick(maxUnits); k < n; ++k) {
      char16_t c = kTerms[Pick(7)];
      term += c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    }
    return term;
  }
  void Fill(uint8_t* p, size_t n) {
    static const uint8_t kBytes[] = {'a', 'b', 'A', 'B', 'c', '.', 1, 0x1f, 0x81, 0x61, 0xC1, 0xE1, 0x41};
    for (size_t i = 0; i < n; ++i) p[i] = kBytes[Pick(sizeof kBytes)];
  }
  static bool Holds(const std::u16string& term, const uint8_t* name, size_t length) {
    for (size_t at = 0; at + term.size() <= length; ++at) {
      size_t j = 0;
      while (j < term.size() && name[at + j] < 128 && kLowerCase.map[name[at + j]] == term[j]) ++j;
      if (j == term.size()) return true;
    }
    return false;
  }
};

// The finder reads sixteen-byte windows that may reach back into the
// record's header: every name length and header size, in buffers of the
// exact size (so a sanitizer build catches a read outside), against a plain
// search of the folded bytes.
TEST(AsciiTermFinder, AgreesWithBytewiseSearchAtEveryLengthAndHeader) {
  FinderCases gen{std::mt19937(11)};
  int found = 0, cases = 0;
  for (int round = 0; round < 40000; ++round) {
    const std::u16string term = gen.Term(4);
    qvAsciiTermFinder finder;
    finder.Set(term.data(), term.size());
    size_t header = gen.Pick(13), length = gen.Pick(48);
    std::vector<uint8_t> record(header + length);
    gen.Fill(record.data(), record.size());
    const uint8_t* name = record.data() + header;
    const bool expected = FinderCases::Holds(term, name, length);
    ASSERT_EQ(finder.Find(record.data(), name, length), expected) << "round " << round;
    found += expected;
    ++cases;
  }
  EXPECT_GT(found, cases / 20);
  EXPECT_LT(found, cases - cases / 20);
}

// In a record pool the finder may read a whole 32-byte window before a
// short name, into the record's header, the records before it or the
// chunk's first bytes: records of every name length and header size, one
// after another in one pool as a scan meets them, against the same plain
// search. The bytes before a record are the last record's random bytes,
// so the window meets term bytes there that must be masked off.
TEST(AsciiTermFinder, InAPoolOneWindowAgreesAtEveryLengthAndHeader) {
  if (!qvAsciiTermFinder::HasWideVectors()) GTEST_SKIP() << "this processor has no 32-byte vectors";
  FinderCases gen{std::mt19937(12)};
  qvHeap heap;
  CMemoryPool pool(heap, 0);
  int found = 0, cases = 0;
  for (int round = 0; round < 40000; ++round) {
    const std::u16string term = gen.Term(5);
    qvAsciiTermFinder finder;
    finder.Set(term.data(), term.size());
    size_t header = gen.Pick(13), length = gen.Pick(48);
    uint8_t* record = pool.Alloc(header + length);
    ASSERT_NE(record, nullptr);
    gen.Fill(record, header + length);
    const uint8_t* name = record + header;
    const bool expected = FinderCases::Holds(term, name, length);
    bool actual = false;
    switch (finder.Lead()) {
      case 1: actual = finder.FindInPool<1>(record, name, length); break;
      case 2: actual = finder.FindInPool<2>(record, name, length); break;
      default: actual = finder.FindInPool<3>(record, name, length); break;
    }
    ASSERT_EQ(actual, expected) << "round " << round << " header " << header << " length " << length;
    ASSERT_EQ(finder.Find(record, name, length), expected) << "round " << round;
    found += expected;
    ++cases;
  }
  EXPECT_GT(found, cases / 20);
  EXPECT_LT(found, cases - cases / 20);
  EXPECT_GT(pool.BlockCount(), 100u);  // many blocks, and chunk starts among them
}

}  // namespace
