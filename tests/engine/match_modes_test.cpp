// The search modes beyond the designed test: whole names, match case,
// path terms, regular expressions and the hidden switch, against a plainly
// written reference over random trees, and the cases users type first.
#include <gtest/gtest.h>

// std::regex, the reference here, trips the compiler's uninitialised-use
// analysis in sanitizer builds; the warning is about the library's code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qvNameCodec.h"
#include "qvRegexTerm.h"
#include "qvScans.h"
#include "match_reference.h"
#include "search_helpers.h"

namespace {

using qvmatchref::Fold;
using qvmatchref::Glob;
using qvmatchref::Words;

using qvsearchtest::E;
using qvsearchtest::SearchEngine;

// One item as a user sees it: the folder it is in (ending in "/"), its
// name as shown, whether a folder above it (below the root) or itself is
// hidden.
struct Item {
  std::u16string folder;
  std::u16string name;
  bool hidden;
  bool isFolder;
  size_t baseLength;   // a file's name up to its last dot (not a leading one)
  bool root = false;   // the volume's root: its path is "/"
  std::string Row() const {
    return qvNameCodec::EncodeToString(folder) + "|" + qvNameCodec::EncodeToString(name);
  }
};

struct Modes {
  bool wholeName = true;
  bool matchCase = false;
  bool showHidden = true;
};

// The reference: every term against the name (the whole name, or the base
// name), every term holding "/" against folder + name; "?" and "*" terms
// match as a whole, plain terms anywhere; a term of stars says nothing.
bool Reference(const std::u16string& query, const Modes& m, const Item& it) {
  if (!m.showHidden && it.hidden) return false;
  std::u16string name = it.name;
  if (!m.wholeName) name = name.substr(0, it.baseLength);
  std::u16string path = it.root ? u"/" : it.folder + it.name;
  if (!m.matchCase) {
    name = Fold(name);
    path = Fold(path);
  }
  bool any = false;
  for (std::u16string t : Words(query)) {
    if (!m.matchCase) t = Fold(t);
    const std::u16string& target = t.find(u'/') != std::u16string::npos ? path : name;
    if (t.find_first_not_of(u'*') == std::u16string::npos) continue;
    any = true;
    bool wild = t.find_first_of(u"?*") != std::u16string::npos;
    if (wild ? !Glob(t, target) : target.find(t) == std::u16string::npos) return false;
  }
  return any;
}

class MatchModes : public ::testing::Test {
 protected:
  std::mt19937 rng{20261208};
  size_t Pick(size_t n) { return static_cast<size_t>(rng() % n); }

  std::u16string RandomName() {
    static const std::u16string alphabet = u"abcAB..-_\u62A5\u00E9";
    std::u16string s;
    if (Pick(6) == 0) s += u'.';
    for (size_t i = 0, len = 1 + Pick(6); i < len; ++i) s += alphabet[Pick(alphabet.size())];
    if (Pick(3) == 0) s += Pick(2) ? u".pdf" : Pick(2) ? u".tar.gz" : u".Gz";
    return s;
  }

  std::u16string RandomQuery() {
    static const std::u16string alphabet = u"abAB..-/\u62A5**?";
    std::u16string q;
    for (size_t t = 0, terms = 1 + Pick(2); t < terms; ++t) {
      if (t) q += u' ';
      if (Pick(5) == 0) q += u'/';
      for (size_t i = 0, len = 1 + Pick(5); i < len; ++i) q += alphabet[Pick(alphabet.size())];
    }
    return q;
  }

  // A random tree below the root "/" and the items as the reference sees
  // them.
  std::vector<E::Entry> RandomTree(size_t count, std::vector<Item>* items) {
    std::vector<E::Entry> entries;
    struct Folder {
      uint64_t ref;
      std::u16string path;
      bool hidden;
    };
    std::vector<Folder> folders = {{5, u"/", false}};
    // The root folder is a row of its own, found by the path "/".
    items->push_back({u"", u"", false, true, 0, true});
    std::set<std::u16string> used;
    for (uint64_t ref = 16; entries.size() < count; ++ref) {
      const Folder parent = folders[Pick(folders.size())];
      std::u16string name = RandomName();
      if (!used.insert(parent.path + name).second) continue;
      bool hidden = parent.hidden || name[0] == u'.';
      bool isFolder = Pick(4) == 0;
      size_t dot = name.rfind(u'.');
      size_t base = !isFolder && dot != std::u16string::npos && dot > 0 ? dot : name.size();
      items->push_back({parent.path, name, hidden, isFolder, base});
      if (isFolder) {
        entries.push_back(E::Folder(ref, parent.ref, name));
        folders.push_back({ref, parent.path + name + u"/", hidden});
      } else {
        entries.push_back(E::File(ref, parent.ref, name));
      }
    }
    return entries;
  }
};

IQvSearchConfig* Config(SearchEngine& s) {
  return static_cast<IQvSearchConfig*>(s.engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
}

void SetModes(SearchEngine& s, const Modes& m) {
  IQvSearchConfig* c = Config(s);
  c->SetOption("whole_name", m.wholeName ? "1" : "0");
  c->SetOption("match_case", m.matchCase ? "1" : "0");
  c->SetOption("show_hidden", m.showHidden ? "1" : "0");
  c->SetOption("path_terms", "1");
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The rows one list has and the other lacks, for a short failure message.
std::string Difference(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  std::string text;
  for (const std::string& r : actual)
    if (std::find(expected.begin(), expected.end(), r) == expected.end()) text += " extra " + r;
  for (const std::string& r : expected)
    if (std::find(actual.begin(), actual.end(), r) == actual.end()) text += " missing " + r;
  return text;
}

TEST_F(MatchModes, EveryModeAgreesWithAPlainReference) {
  std::vector<Item> items;
  SearchEngine s(RandomTree(1500, &items));
  ASSERT_NE(s.engine, nullptr);
  std::map<std::string, int> withHits;
  for (int c = 0; c < 3000; ++c) {
    Modes m;
    m.wholeName = Pick(4) != 0;
    m.matchCase = Pick(3) == 0;
    m.showHidden = Pick(2) == 0;
    SetModes(s, m);
    std::u16string query = RandomQuery();
    // Every other case with the loops for 32-byte vectors off.
    SetScanWideVectors(c % 2 == 0);
    s.Search(query);
    std::vector<std::string> expected;
    for (const Item& it : items)
      if (Reference(query, m, it)) expected.push_back(it.Row());
    std::vector<std::string> actual = s.Rows();
    ASSERT_EQ(Sorted(actual), Sorted(expected))
        << Difference(actual, expected) << " case " << c << " query '" << qvNameCodec::EncodeToString(query) << "' whole " << m.wholeName
        << " case " << m.matchCase << " hidden shown " << m.showHidden << " wide vectors " << ScanWideVectors();
    if (!expected.empty())
      ++withHits[std::string(query.find(u'/') != std::u16string::npos ? "path" : "name") +
                 (m.matchCase ? "+case" : "")];
  }
  SetScanWideVectors(true);
  // The queries reach every kind of test.
  for (const char* kind : {"name", "path", "name+case", "path+case"}) EXPECT_GT(withHits[kind], 50) << kind;
}

// Regular expressions against whole names, with std::regex as the
// reference over ASCII names (their dialects agree on this subset).
TEST_F(MatchModes, RegexAgreesWithAReference) {
  static const char* kPatterns[] = {"^a", "b$", "a.b", "^[ab]+$", "\\.pdf$", "a|B", "^\\.", "(ab)+", "[^a]c",
                                    "gz$", "A", "^.{3}$", "tar\\.g", "\\.(pdf|gz)$", "^/[ab]", "/.*\\.pdf$",
                                    "ab?c", "a+b", "\\.pdf", "Ab{0}c", "[ab]c\\.", "c\\d?"};
  std::vector<Item> items;
  std::vector<E::Entry> entries;
  static const std::u16string alphabet = u"abcAB.";
  for (uint64_t ref = 16; ref < 16 + 800; ++ref) {
    std::u16string name;
    for (size_t i = 0, n = 1 + Pick(6); i < n; ++i) name += alphabet[Pick(alphabet.size())];
    if (Pick(3) == 0) name += Pick(2) ? u".pdf" : u".tar.gz";
    if (std::any_of(items.begin(), items.end(), [&](const Item& it) { return it.name == name; })) continue;
    bool isFolder = Pick(4) == 0;
    items.push_back({u"/", name, false, isFolder, name.size()});
    entries.push_back(isFolder ? E::Folder(ref, 5, name) : E::File(ref, 5, name));
  }
  SearchEngine s(std::move(entries));
  ASSERT_NE(s.engine, nullptr);
  Config(s)->SetOption("regex", "1");
  for (bool matchCase : {false, true}) {
    Config(s)->SetOption("match_case", matchCase ? "1" : "0");
    for (const char* p : kPatterns) {
      std::regex re(p, matchCase ? std::regex::ECMAScript : std::regex::ECMAScript | std::regex::icase);
      std::vector<std::string> expected;
      // A pattern naming "/" is tested against the whole path.
      const bool path = std::string(p).find('/') != std::string::npos;
      for (const Item& it : items)
        if (std::regex_search(qvNameCodec::EncodeToString(path ? it.folder + it.name : it.name), re))
          expected.push_back(it.Row());
      s.Search(qvNameCodec::DecodeToString(p));
      EXPECT_EQ(Sorted(s.Rows()), Sorted(expected)) << p << " case " << matchCase;
    }
  }
}

// The literal run a pattern's every match holds, which the scan looks for
// before running the pattern.
TEST(RegexRun, OnlyWhatEveryMatchHolds) {
  auto run = [](const char16_t* p, bool caseless = false) { return qvRegexRequiredRun(p, caseless); };
  EXPECT_EQ(run(u"report"), u"report");
  EXPECT_EQ(run(u"^IMG_\\d{4}\\.jpe?g$"), u"IMG_");
  EXPECT_EQ(run(u"rep.*t\\.pdf"), u"t.pdf");
  EXPECT_EQ(run(u"colou?r"), u"colo");
  EXPECT_EQ(run(u"ab+c"), u"ab");
  EXPECT_EQ(run(u"x(yz)+w"), u"x");
  EXPECT_EQ(run(u"[abc]def[g]"), u"def");
  EXPECT_EQ(run(u"a|b"), u"");
  EXPECT_EQ(run(u"abc(d|e)|f"), u"");  // the top level's alternatives
  EXPECT_EQ(run(u"^rep.*t\\.(pdf|txt)$"), u"rep");
  EXPECT_EQ(run(u"(?:x|yy)photo(s|graph)?"), u"photo");
  EXPECT_EQ(run(u"[|]ab\\|cd"), u"ab|cd");
  EXPECT_EQ(run(u"(?i)abc"), u"");
  EXPECT_EQ(run(u"\\x41BC"), u"");
  EXPECT_EQ(run(u"task", true), u"ta");  // "s" and "k" fold to letters outside ASCII
}

// Random patterns from a small grammar that PCRE2 and std::regex read
// alike: the scan's literal run and its byte test must never drop a name
// the pattern matches.
TEST_F(MatchModes, RandomRegexesAgreeWithAReference) {
  std::vector<Item> items;
  std::vector<E::Entry> entries;
  static const std::u16string alphabet = u"abcAB.-_";
  std::set<std::u16string> seen;
  for (uint64_t ref = 16; items.size() < 500; ++ref) {
    std::u16string name;
    for (size_t i = 0, n = 1 + Pick(7); i < n; ++i) name += alphabet[Pick(alphabet.size())];
    if (Pick(3) == 0) name += Pick(2) ? u".pdf" : u".tar.gz";
    if (!seen.insert(name).second) continue;
    bool isFolder = Pick(5) == 0;
    items.push_back({u"/", name, false, isFolder, name.size()});
    entries.push_back(isFolder ? E::Folder(ref, 5, name) : E::File(ref, 5, name));
  }
  SearchEngine s(std::move(entries));
  ASSERT_NE(s.engine, nullptr);
  // The volume's root folder is a row too: its name is empty.
  items.push_back({u"", u"", false, true, 0, true});
  Config(s)->SetOption("regex", "1");
  auto atom = [&]() -> std::string {
    static const char* kAtoms[] = {"a",  "b",  "c",  "A",    ".",     "\\.",    "-",        "_",
                                   "[ab]", "[^a]", "p", "df", "gz", "(ab)", "(a|b)", "(?:pd|g)", "(b|(a|c)d)"};
    std::string a = kAtoms[Pick(std::size(kAtoms))];
    static const char* kQuantifiers[] = {"", "", "", "?", "*", "+", "{2}", "{0,1}"};
    return a + kQuantifiers[Pick(std::size(kQuantifiers))];
  };
  int withHits = 0;
  for (int c = 0; c < 3000; ++c) {
    std::string p = Pick(4) == 0 ? "^" : "";
    for (size_t i = 0, n = 1 + Pick(5); i < n; ++i) p += atom();
    if (Pick(4) == 0) p += "$";
    if (Pick(8) == 0) p += "|" + atom();  // an alternative at the top level
    const bool matchCase = Pick(3) == 0;
    Config(s)->SetOption("match_case", matchCase ? "1" : "0");
    std::regex re(p, matchCase ? std::regex::ECMAScript : std::regex::ECMAScript | std::regex::icase);
    std::vector<std::string> expected;
    for (const Item& it : items)
      if (std::regex_search(qvNameCodec::EncodeToString(it.name), re)) expected.push_back(it.Row());
    s.Search(qvNameCodec::DecodeToString(p));
    std::vector<std::string> actual = s.Rows();
    ASSERT_EQ(Sorted(actual), Sorted(expected)) << Difference(actual, expected) << " pattern " << p << " case "
                                                << matchCase;
    withHits += !expected.empty();
  }
  EXPECT_GT(withHits, 1000);
}

// A small tree of the names users try first.
std::vector<E::Entry> EverydayTree() {
  return {E::Folder(16, 5, u"etc"),        E::File(17, 16, u"bash.bashrc"),
          E::Folder(18, 5, u"home"),       E::Folder(19, 18, u"me"),
          E::File(20, 19, u".bashrc"),     E::File(21, 19, u"report.pdf"),
          E::File(22, 19, u"a.tar.gz"),    E::Folder(23, 19, u"code"),
          E::Folder(24, 23, u"src"),       E::File(25, 24, u"main.c"),
          E::Folder(26, 19, u".cache"),    E::Folder(27, 26, u"deep"),
          E::File(28, 27, u"cached.pdf"),  E::File(29, 19, u"Report.PDF"),
          E::Folder(30, 5, u"src"),        E::File(31, 30, u"main.rs")};
}

TEST_F(MatchModes, WholeNamesFindWhatUsersType) {
  SearchEngine s(EverydayTree());
  ASSERT_NE(s.engine, nullptr);
  SetModes(s, Modes{});
  auto find = [&](const char16_t* q) {
    s.Search(q);
    return Sorted(s.Rows());
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(find(u"report.pdf"), (V{"/home/me/|Report.PDF", "/home/me/|report.pdf"}));
  EXPECT_EQ(find(u"*.pdf"), (V{"/home/me/.cache/deep/|cached.pdf", "/home/me/|Report.PDF", "/home/me/|report.pdf"}));
  EXPECT_EQ(find(u"bashrc"), (V{"/etc/|bash.bashrc", "/home/me/|.bashrc"}));
  EXPECT_EQ(find(u"bash.bashrc"), (V{"/etc/|bash.bashrc"}));
  EXPECT_EQ(find(u".bashrc"), (V{"/etc/|bash.bashrc", "/home/me/|.bashrc"}));
  EXPECT_EQ(find(u"tar.gz"), (V{"/home/me/|a.tar.gz"}));
  EXPECT_EQ(find(u"*.gz"), (V{"/home/me/|a.tar.gz"}));
  EXPECT_EQ(find(u"a.tar"), (V{"/home/me/|a.tar.gz"}));
  // The designed test, by base name, comes back with the option.
  Config(s)->SetOption("whole_name", "0");
  EXPECT_EQ(find(u"*.pdf"), V{});
  EXPECT_EQ(find(u"report"), (V{"/home/me/|Report.PDF", "/home/me/|report.pdf"}));
}

TEST_F(MatchModes, PathTermsAtTheRootInTheMiddleAndAtTheEnd) {
  SearchEngine s(EverydayTree());
  ASSERT_NE(s.engine, nullptr);
  SetModes(s, Modes{});
  auto find = [&](const char16_t* q) {
    s.Search(q);
    return Sorted(s.Rows());
  };
  using V = std::vector<std::string>;
  // A term is found anywhere in the path, as a plain term in a name.
  EXPECT_EQ(find(u"/src main"), (V{"/home/me/code/src/|main.c", "/src/|main.rs"}));
  EXPECT_EQ(find(u"code/src main"), (V{"/home/me/code/src/|main.c"}));
  EXPECT_EQ(find(u"src/main"), (V{"/home/me/code/src/|main.c", "/src/|main.rs"}));
  EXPECT_EQ(find(u"src/main.c"), (V{"/home/me/code/src/|main.c"}));
  EXPECT_EQ(find(u"me/code/"), (V{"/home/me/code/src/|main.c", "/home/me/code/|src"}));
  EXPECT_EQ(find(u"/etc/bash"), (V{"/etc/|bash.bashrc"}));
  EXPECT_EQ(find(u"ME/Code"), (V{"/home/me/code/src/|main.c", "/home/me/code/|src", "/home/me/|code"}));
  EXPECT_EQ(find(u"*/src/*.c"), (V{"/home/me/code/src/|main.c"}));
  // More path terms than the marks' byte holds.
  EXPECT_EQ(find(u"me/ /home code/ src/ main"), (V{"/home/me/code/src/|main.c"}));
  EXPECT_EQ(find(u"me/ /home code/ src/ /etc"), V{});
  Config(s)->SetOption("match_case", "1");
  EXPECT_EQ(find(u"ME/Code"), V{});
  EXPECT_EQ(find(u"me/code"), (V{"/home/me/code/src/|main.c", "/home/me/code/|src", "/home/me/|code"}));
}

TEST_F(MatchModes, HiddenSwitchLeavesOutDotFoldersDeepInThePath) {
  SearchEngine s(EverydayTree());
  ASSERT_NE(s.engine, nullptr);
  SetModes(s, Modes{});
  s.Search(u"pdf");
  EXPECT_EQ(s.RowCount(), 3);
  // The switch applies at the next search, with no new scan.
  Config(s)->SetOption("show_hidden", "0");
  EXPECT_EQ(Config(s)->QueryValue("show_hidden"), 0);
  s.Search(u"pdf");
  EXPECT_EQ(Sorted(s.Rows()), (std::vector<std::string>{"/home/me/|Report.PDF", "/home/me/|report.pdf"}));
  s.Search(u"bashrc");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/etc/|bash.bashrc"}));
  Config(s)->SetOption("show_hidden", "1");
  s.Search(u"bashrc");
  EXPECT_EQ(s.RowCount(), 2);
}

TEST_F(MatchModes, CaseAndPrefixes) {
  SearchEngine s(EverydayTree());
  ASSERT_NE(s.engine, nullptr);
  SetModes(s, Modes{});
  Config(s)->SetOption("query_prefixes", "1");
  s.Search(u"case:Report");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/home/me/|Report.PDF"}));
  s.Search(u"case:*.PDF");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/home/me/|Report.PDF"}));
  s.Search(u"regex:^r.*\\.pdf$");
  EXPECT_EQ(s.RowCount(), 2);
  s.Search(u"case: regex:^r.*\\.pdf$");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/home/me/|report.pdf"}));
  // Without the prefixes option the words are plain terms.
  Config(s)->SetOption("query_prefixes", "0");
  s.Search(u"case:Report");
  EXPECT_EQ(s.RowCount(), 0);
}

TEST_F(MatchModes, AnInvalidRegexSaysWhyAndFindsNothing) {
  SearchEngine s(EverydayTree());
  ASSERT_NE(s.engine, nullptr);
  Config(s)->SetOption("regex", "1");
  s.Search(u"main");
  EXPECT_EQ(s.RowCount(), 2);
  EXPECT_EQ(Config(s)->QueryValue("query_error"), 0);
  s.TakeStatuses();
  for (const char16_t* bad : {u"(unclosed", u"a{2,1}", u"[z-a]", u"*", u"\\"}) {
    s.Search(bad);
    EXPECT_EQ(s.RowCount(), 0) << qvNameCodec::EncodeToString(bad);
    EXPECT_EQ(Config(s)->QueryValue("query_error"), 1);
    auto statuses = s.TakeStatuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_NE(statuses.back().second.find("正则表达式无效"), std::string::npos) << statuses.back().second;
  }
  s.Search(u"ma.n");
  EXPECT_EQ(Config(s)->QueryValue("query_error"), 0);
  EXPECT_EQ(s.RowCount(), 2);
}

// A pattern that backtracks without end gives up on a name after a bounded
// number of steps instead of holding the index for minutes.
TEST_F(MatchModes, ARunawayRegexEnds) {
  std::u16string name(40, u'a');
  SearchEngine s({E::File(16, 5, name + u"b"), E::File(17, 5, u"aaa")});
  ASSERT_NE(s.engine, nullptr);
  Config(s)->SetOption("regex", "1");
  s.Search(u"^(a+)+$");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/|aaa"}));
  s.Search(u"^(a|aa)+$");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/|aaa"}));
  s.Search(u"^(a|aa)+b$");  // bounded, and still found where the steps suffice
  EXPECT_EQ(s.RowCount(), 1);
}

// Bytes that are not UTF-8 come in as lone surrogates: a pattern still
// runs over the rest of the name and the name is listed.
TEST_F(MatchModes, RegexOverNamesThatAreNotUtf8) {
  std::u16string bad = qvNameCodec::DecodeToString("caf\xe9-\xff\xfe.txt");
  std::u16string also = qvNameCodec::DecodeToString("\xc3(x");
  SearchEngine s({E::File(16, 5, bad), E::File(17, 5, also), E::File(18, 5, u"cafe.txt")});
  ASSERT_NE(s.engine, nullptr);
  Config(s)->SetOption("regex", "1");
  Config(s)->SetOption("whole_name", "1");
  s.Search(u"^caf.*\\.txt$");
  EXPECT_EQ(s.RowCount(), 2);
  s.Search(u"-..\\.txt$");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/|caf\xe9-\xff\xfe.txt"}));
  s.Search(u"\\(x$");
  EXPECT_EQ(s.RowCount(), 1);
}

// The readings of a few ideographs, read from the committed listing the
// engine's table is made from.
std::map<char16_t, std::vector<std::string>> ListedReadings(const std::u16string& ideographs) {
  std::map<char16_t, std::vector<std::string>> readings;
  std::ifstream in(QV_SOURCE_DIR "engine/resources/pinyin-readings.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string cp;
    words >> cp;
    if (cp.size() < 3 || cp.compare(0, 2, "U+") != 0) continue;
    unsigned long code = std::stoul(cp.substr(2), nullptr, 16);
    char16_t c = static_cast<char16_t>(code);
    if (code > 0xFFFF || ideographs.find(c) == std::u16string::npos) continue;
    for (std::string r; words >> r;) readings[c].push_back(r);
  }
  return readings;
}

// A term is in a name as typed, or spelled by a run of it: an ideograph by
// a non-empty prefix of one of its readings, anything else by itself.
bool PinyinReference(const std::map<char16_t, std::vector<std::string>>& readings, const std::u16string& term,
                     const std::u16string& name) {
  if (name.find(term) != std::u16string::npos) return true;
  // Positions of the term reachable after the name's units up to j.
  for (size_t start = 0; start < name.size(); ++start) {
    std::set<size_t> at = {0};
    for (size_t j = start; j < name.size() && !at.empty(); ++j) {
      std::set<size_t> next;
      auto it = readings.find(name[j]);
      for (size_t p : at) {
        if (it == readings.end()) {
          if (p < term.size() && term[p] == name[j]) next.insert(p + 1);
          continue;
        }
        for (const std::string& r : it->second)
          for (size_t k = 1; k <= r.size() && p + k <= term.size() && term[p + k - 1] == r[k - 1]; ++k)
            next.insert(p + k);
      }
      if (next.count(term.size())) return true;
      at = next;
    }
  }
  return false;
}

TEST_F(MatchModes, PinyinAgreesWithAReferenceFromTheListing) {
  const std::u16string ideographs = u"\u62A5\u544A\u884C\u5E74";  // 报告行年
  auto readings = ListedReadings(ideographs);
  ASSERT_EQ(readings.size(), 4u) << "the listing lacks an ideograph of the test";
  const std::u16string alphabet = ideographs + u"abgnx2.";
  std::vector<std::u16string> names;
  std::vector<E::Entry> entries;
  for (uint64_t ref = 16; names.size() < 600; ++ref) {
    std::u16string name;
    for (size_t i = 0, n = 1 + Pick(6); i < n; ++i) name += alphabet[Pick(alphabet.size())];
    // Some files: in whole-name mode a term may run on from the stored
    // name into the extension ("bg.b" finds 报告.ba).
    const bool file = Pick(3) == 0;
    if (file) name += Pick(2) ? u".ba" : u".gz";
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    names.push_back(name);
    entries.push_back(file ? E::File(ref, 5, name) : E::Folder(ref, 5, name));
  }
  SearchEngine s(std::move(entries));
  ASSERT_NE(s.engine, nullptr);
  Config(s)->SetOption("pinyin", "1");
  Config(s)->SetOption("whole_name", "1");
  const std::string letters = "baogxinhe2.";
  int withHits = 0;
  for (int c = 0; c < 3000; ++c) {
    std::u16string term;
    for (size_t i = 0, n = 1 + Pick(6); i < n; ++i) term += static_cast<char16_t>(letters[Pick(letters.size())]);
    s.Search(term);
    std::vector<std::string> expected;
    for (const std::u16string& name : names)
      if (PinyinReference(readings, term, name)) expected.push_back("/|" + qvNameCodec::EncodeToString(name));
    std::vector<std::string> actual = s.Rows();
    ASSERT_EQ(Sorted(actual), Sorted(expected)) << Difference(actual, expected) << " term "
                                                << qvNameCodec::EncodeToString(term);
    withHits += !expected.empty();
  }
  EXPECT_GT(withHits, 300);
}

TEST_F(MatchModes, PinyinFindsWhatChineseUsersType) {
  SearchEngine s({E::File(16, 5, u"\u62A5\u544A.pdf"), E::File(17, 5, u"2024\u5E74\u62A5\u544A.docx"),
                  E::Folder(18, 5, u"\u94F6\u884C"), E::File(19, 5, u"\u884C\u674E.txt")});
  ASSERT_NE(s.engine, nullptr);
  SetModes(s, Modes{});
  Config(s)->SetOption("pinyin", "1");
  auto find = [&](const char16_t* q) {
    s.Search(q);
    return s.RowCount();
  };
  for (const char16_t* q : {u"bg", u"baog", u"baogao", u"bgao", u"BG"}) EXPECT_EQ(find(q), 2) << qvNameCodec::EncodeToString(q);
  EXPECT_EQ(find(u"2024nbg"), 1);
  EXPECT_EQ(find(u"bg.pdf"), 1);  // the whole name, dot and extension
  // 行 reads xing (行李) and hang (银行): both names hold it.
  EXPECT_EQ(find(u"xing"), 2);
  EXPECT_EQ(find(u"hang"), 2);
  EXPECT_EQ(find(u"yinhang"), 1);
  EXPECT_EQ(find(u"xingli"), 1);
  EXPECT_EQ(find(u"bgx"), 0);
  // Matching case, letters find letters of that case alone.
  Config(s)->SetOption("match_case", "1");
  EXPECT_EQ(find(u"BG"), 0);
  Config(s)->SetOption("match_case", "0");
  Config(s)->SetOption("pinyin", "0");
  EXPECT_EQ(find(u"bg"), 0);
}

}  // namespace
