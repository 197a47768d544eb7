// Exclusion rules: the rule text, the name patterns, folder paths as a walk
// meets them, and an engine over entry streams kept to the rules at the
// scan, at the load of a saved index and when the rules change while it
// runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>

#include "engine_fixture.h"
#include "qvExclusions.h"

using E = qvStreamVolumeSource;

namespace {

qvExclusions Rules(std::string_view text) {
  qvExclusions rules;
  EXPECT_TRUE(qvExclusions::Parse(text, &rules)) << text;
  return rules;
}

}  // namespace

TEST(ExclusionRules, ParseSortsFoldersFromNamesAndRefusesWhatIsNeither) {
  qvExclusions rules = Rules("node_modules\r\n\n/mnt//backup/\n*.o\n\n/\n*.o\n/mnt/backup");
  EXPECT_EQ(rules.Folders(), (std::vector<std::string>{"/mnt/backup", "/"}));
  EXPECT_EQ(rules.Names(), (std::vector<std::string>{"node_modules", "*.o"}));
  EXPECT_EQ(rules.Text(), "/mnt/backup\n/\nnode_modules\n*.o");
  EXPECT_TRUE(Rules("").Empty());
  EXPECT_TRUE(Rules("\n\r\n\n").Empty());

  // A bad line leaves the rules given as they were and is named.
  qvExclusions kept = Rules("keep");
  std::string bad;
  EXPECT_FALSE(qvExclusions::Parse("ok\nsrc/build", &kept, &bad));
  EXPECT_EQ(bad, "src/build");
  EXPECT_FALSE(qvExclusions::Parse("/a/../etc", &kept, &bad));
  EXPECT_EQ(bad, "/a/../etc");
  EXPECT_FALSE(qvExclusions::Parse("/a/./b", &kept, &bad));
  // A rule ending in a carriage return (beyond a CRLF line end) would not
  // read back as written: refused (the fuzz target found it).
  EXPECT_FALSE(qvExclusions::Parse("\r\r", &kept, &bad));
  EXPECT_FALSE(qvExclusions::Parse("/mnt/x//\r/\n", &kept, &bad));
  EXPECT_EQ(kept.Names(), std::vector<std::string>{"keep"});
  EXPECT_EQ(Rules("a\rb\r\n").Names(), std::vector<std::string>{"a\rb"});
}

TEST(ExclusionRules, NamePatterns) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"node_modules", "node_modules", true},  {"node_modules", "Node_modules", false},
      {"node_modules", "node_modules2", false}, {"*.o", "main.o", true},
      {"*.o", "main.oo", false},               {"*.o", ".o", true},
      {"*.o", "o", false},                     {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},              {"?.txt", "\xe4\xb8\xad.txt", true},  // one character, three bytes
      {"??.txt", "\xe4\xb8\xad.txt", false},   {"?", "\xff", true},                  // a byte of no character
      {"?", "\xe4\xb8", false},                {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},              {"*a", "bbba", true},
      {"*", "", true},                         {"", "", true},
      {"", "a", false},                        {"*x*", "abc", false},
      {".*", ".cache", true},                  {".*", "cache", false},
      {"*~", "notes.txt~", true},              {"a**b", "ab", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qvExclusions::MatchPattern(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  qvExclusions rules = Rules("*.o\n.git");
  EXPECT_TRUE(rules.ExcludesName(".git"));
  EXPECT_TRUE(rules.ExcludesName("x.o"));
  EXPECT_FALSE(rules.ExcludesName(".github"));
}

TEST(ExclusionRules, FolderPathsCoverWhatLiesBelowThem) {
  qvExclusions rules = Rules("/mnt/backup\n*.tmp");
  EXPECT_TRUE(rules.CoversPath("/mnt/backup"));
  EXPECT_TRUE(rules.CoversPath("/mnt/backup/"));
  EXPECT_TRUE(rules.CoversPath("/mnt/backup/2024/x"));
  EXPECT_FALSE(rules.CoversPath("/mnt/backup2"));
  EXPECT_FALSE(rules.CoversPath("/mnt"));
  EXPECT_TRUE(rules.ExcludesEntry("/mnt/", "backup"));
  EXPECT_TRUE(rules.ExcludesEntry("/home/u", "a.tmp"));
  EXPECT_FALSE(rules.ExcludesEntry("/mnt/", "backups"));
  EXPECT_TRUE(Rules("/").CoversPath("/anything/at/all"));
}

TEST(ExclusionRules, ScopeFollowsOnlyPathsTowardsExcludedFolders) {
  qvExclusions rules = Rules("/home/u/a/b\n/home/u/c\n/other");
  qvExclusionScope scope(&rules, "/home/u/");
  EXPECT_FALSE(scope.RootExcluded());
  EXPECT_EQ(scope.RootStep(), qvExclusionScope::kToward);
  EXPECT_EQ(scope.Classify("a"), qvExclusionScope::kToward);
  EXPECT_EQ(scope.Classify("a/b"), qvExclusionScope::kExcluded);
  EXPECT_EQ(scope.Classify("a/bb"), qvExclusionScope::kClear);
  EXPECT_EQ(scope.Classify("c"), qvExclusionScope::kExcluded);
  EXPECT_EQ(scope.Classify("ab"), qvExclusionScope::kClear);

  qvExclusionScope whole(&rules, "/");
  EXPECT_EQ(whole.Classify("home/u/c"), qvExclusionScope::kExcluded);
  EXPECT_EQ(whole.Classify("home"), qvExclusionScope::kToward);
  EXPECT_EQ(whole.Classify("other"), qvExclusionScope::kExcluded);

  EXPECT_TRUE(qvExclusionScope(&rules, "/home/u/c/deeper").RootExcluded());
  EXPECT_EQ(qvExclusionScope(&rules, "/srv").RootStep(), qvExclusionScope::kClear);
  EXPECT_EQ(qvExclusionScope(nullptr, "/srv").RootStep(), qvExclusionScope::kClear);
}

namespace {

// An engine over one stream volume rooted at /r/, with the rules given
// before it starts.
class ExcludedEngine {
 public:
  explicit ExcludedEngine(const char* rules, const std::string& data = "") {
    engine_ = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
    config_ = static_cast<IQvSearchConfig*>(engine_->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    if (data.empty()) {
      config_->SetOption("no_save", "1");
      config_->SetOption("no_load", "1");
    } else {
      config_->SetDataFolder(qvNameCodec::DecodeToString(data).c_str());
    }
    EXPECT_TRUE(config_->SetOption("exclude", rules));
    engine_->SetVolumeSource(std::make_unique<qvStreamVolumeSource>(std::vector<E::Volume>{Volume()}));
    engine_->Initialize(&sink_);
    engine_->WaitUntilInitialised();
  }
  ~ExcludedEngine() { engine_->Release(); }

  static E::Volume Volume() {
    return MakeVolume("/r/", {E::Folder(16, 5, u"src"),          E::File(17, 16, u"main.c"),
                              E::File(18, 16, u"main.o"),        E::Folder(19, 16, u"node_modules"),
                              E::Folder(20, 19, u"left"),        E::File(21, 20, u"pad.js"),
                              E::Folder(22, 5, u"backup"),       E::File(23, 22, u"old.tar"),
                              E::Folder(24, 5, u"backup2"),      E::File(25, 24, u"keep.tar"),
                              E::Folder(26, 5, u"中文"),          E::File(27, 26, u"说明.o")});
  }

  // Every row, as "folder path|name".
  std::set<std::string> Rows() {
    engine_->Search(u"*?", u"", 1);
    std::set<std::string> out;
    int32_t n = engine_->GetFolderResultCount() + engine_->GetFileResultCount();
    for (int32_t r = 0; r < n; ++r) out.insert(RowText(engine_, r));
    return out;
  }
  bool Set(const char* rules) { return config_->SetOption("exclude", rules); }
  IQvSearchConfig* Config() { return config_; }
  qvKearchImpl* Engine() { return engine_; }
  RecordingSink& Sink() { return sink_; }

 private:
  RecordingSink sink_;
  qvKearchImpl* engine_ = nullptr;
  IQvSearchConfig* config_ = nullptr;
};

const std::set<std::string> kEverything = {
    "|/r",           "/r/|src",          "/r/src/|main.c",       "/r/src/|main.o",
    "/r/src/|node_modules", "/r/src/node_modules/|left", "/r/src/node_modules/left/|pad.js",
    "/r/|backup",    "/r/backup/|old.tar", "/r/|backup2",       "/r/backup2/|keep.tar",
    "/r/|中文",       "/r/中文/|说明.o"};

std::set<std::string> Without(std::set<std::string> rows, std::initializer_list<const char*> gone) {
  for (const char* g : gone) rows.erase(g);
  return rows;
}

}  // namespace

TEST(ExcludedEngine, ScanLeavesOutFoldersWithTheirContentsAndMatchingFiles) {
  ExcludedEngine none("");
  EXPECT_EQ(none.Rows(), kEverything);
}

TEST(ExcludedEngine, RulesGivenBeforeTheStartHoldFromTheFirstAnswer) {
  ExcludedEngine index("node_modules\n*.o\n/r/backup");
  EXPECT_EQ(index.Rows(), Without(kEverything, {"/r/src/|main.o", "/r/src/|node_modules", "/r/src/node_modules/|left",
                                                "/r/src/node_modules/left/|pad.js", "/r/|backup",
                                                "/r/backup/|old.tar", "/r/中文/|说明.o"}));
  EXPECT_EQ(index.Config()->QueryValue("folders"), 4);  // root, src, backup2, 中文
  EXPECT_EQ(index.Config()->QueryValue("files"), 2);
}

TEST(ExcludedEngine, ARuleOnTheRootLeavesTheRootAlone) {
  ExcludedEngine index("/r");
  EXPECT_EQ(index.Rows(), std::set<std::string>{"|/r"});
  ASSERT_TRUE(index.Set(""));
  EXPECT_EQ(index.Rows(), kEverything);
}

TEST(ExcludedEngine, ChangesWhileRunningTakeEffectAtOnce) {
  ExcludedEngine index("");
  index.Engine()->Search(u"o", u"", 1);  // a search that the change must run again
  ASSERT_TRUE(index.Set("*.o\n/r/src/node_modules"));
  // No wait: what is now excluded has left before SetOption returns, and
  // the current search was run again.
  int32_t rows = index.Engine()->GetFolderResultCount() + index.Engine()->GetFileResultCount();
  std::set<std::string> after;
  for (int32_t r = 0; r < rows; ++r) after.insert(RowText(index.Engine(), r));
  EXPECT_EQ(after.count("/r/src/|main.o"), 0u);
  EXPECT_EQ(after.count("/r/src/|node_modules"), 0u);
  EXPECT_EQ(index.Rows(), Without(kEverything, {"/r/src/|main.o", "/r/中文/|说明.o", "/r/src/|node_modules",
                                                "/r/src/node_modules/|left", "/r/src/node_modules/left/|pad.js"}));

  // Included again: walked back in (here by reading the volume again).
  ASSERT_TRUE(index.Set("/r/backup"));
  EXPECT_EQ(index.Rows(), Without(kEverything, {"/r/|backup", "/r/backup/|old.tar"}));
  ASSERT_TRUE(index.Set(""));
  EXPECT_EQ(index.Rows(), kEverything);
}

TEST(ExcludedEngine, ABadRuleIsRefusedAndTheRulesStay) {
  ExcludedEngine index("*.o");
  std::set<std::string> before = index.Rows();
  EXPECT_FALSE(index.Set("*.c\nsrc/node_modules"));
  EXPECT_EQ(index.Rows(), before);
  EXPECT_EQ(index.Engine()->Exclusions()->Text(), "*.o");
}

TEST(ExcludedEngine, SavedEntriesExcludedNowAreDroppedAtLoad) {
  char tmpl[] = "/tmp/qv_excl_db_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string data = std::string(tmpl) + "/";
  {
    ExcludedEngine first("", data);
    EXPECT_EQ(first.Rows(), kEverything);
  }  // saved at release
  {
    ExcludedEngine second("node_modules\n/r/backup2", data);
    ASSERT_EQ(second.Config()->QueryValue("loaded"), 1);
    EXPECT_EQ(second.Rows(), Without(kEverything, {"/r/src/|node_modules", "/r/src/node_modules/|left",
                                                   "/r/src/node_modules/left/|pad.js", "/r/|backup2",
                                                   "/r/backup2/|keep.tar"}));
  }
  std::filesystem::remove_all(tmpl);
}
