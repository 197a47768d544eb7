// qvsearch end to end: real trees made in a temporary folder, the program
// run as a user runs it, its output checked against an independent look
// at the tree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform_test_util.h"
#include "qvsearch_run.h"

namespace fs = std::filesystem;

namespace {


std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == sep) {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  return out;
}

class QvsearchTree : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree.Dir("docs"));
    ASSERT_TRUE(tree.Dir("docs/报告"));
    ASSERT_TRUE(tree.File("docs/报告/年度报告.pdf"));
    ASSERT_TRUE(tree.File("docs/name with spaces.txt"));
    ASSERT_TRUE(tree.File("docs/archive.tar.gz"));
    ASSERT_TRUE(tree.File("docs/.profile"));
    ASSERT_TRUE(tree.File("docs/photo.JPG"));
    ASSERT_TRUE(tree.File("docs/photo.jpg"));
    ASSERT_TRUE(tree.File("docs/emoji-\xF0\x9F\x98\x80.txt"));
    ASSERT_TRUE(tree.File("docs/bad-\xFF\xFE-bytes"));
    ASSERT_TRUE(tree.File("docs/" + std::string(251, 'n') + ".txt"));  // 255 bytes
    ASSERT_TRUE(tree.Dir("many"));
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(tree.File("many/item" + std::to_string(i) + ".dat"));
    ASSERT_TRUE(tree.Dir("loop"));
    ASSERT_TRUE(tree.Link("loop/self", "."));  // a symbolic link loop, listed as a file
    ASSERT_TRUE(tree.DeepChain("deep", 4300));
    data = tree.Path() + "-data";
  }
  void TearDown() override { fs::remove_all(data); }

  qvtest::TempTree tree;
  std::string data;
};

}  // namespace

TEST_F(QvsearchTree, EveryEntryListedOnceWithExactBytesFoldersFirst) {
  RunResult r = RunQvsearch({"--root", tree.Path(), "--data", data, "-0", "*?"});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> rows = Split(r.out, '\0');
  std::map<std::string, bool> want = {{tree.Path(), true}};
  for (const auto& [rel, dir] : tree.Expected()) want[tree.Path() + "/" + rel] = dir;
  std::set<std::string> seen;
  bool inFiles = false;
  for (const std::string& row : rows) {
    ASSERT_TRUE(seen.insert(row).second) << "listed twice: " << row;
    auto it = want.find(row);
    // Paths of any length come out whole: the tree holds folders deeper
    // than 4096 bytes.
    ASSERT_TRUE(it != want.end()) << "not in the tree: " << row;
    if (!it->second) inFiles = true;
    else EXPECT_FALSE(inFiles) << "a folder after the files: " << row;
  }
  size_t longPaths = 0;
  for (const auto& [path, dir] : want) {
    if (path.rfind('/') + 1 > 4096) ++longPaths;
    EXPECT_TRUE(seen.count(path)) << "missing: " << path;
  }
  EXPECT_EQ(rows.size(), want.size());
  EXPECT_GT(longPaths, 0u);
}

TEST_F(QvsearchTree, QueriesFiltersCountsAndStatus) {
  auto rows = [&](std::vector<std::string> args) {
    std::vector<std::string> all = {"--root", tree.Path(), "--data", data, "--no-save"};
    all.insert(all.end(), args.begin(), args.end());
    RunResult r = RunQvsearch(all);
    return std::make_pair(r.status, Split(r.out, '\n'));
  };
  const std::string d = tree.Path() + "/docs/";
  // photo.jpg and photo.JPG collate equal: either may come first.
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(rows({"photo"}).second), (std::vector<std::string>{d + "photo.JPG", d + "photo.jpg"}));
  EXPECT_EQ(sorted(rows({"--ext", "jpg"}).second), (std::vector<std::string>{d + "photo.JPG", d + "photo.jpg"}));
  EXPECT_EQ(rows({"报告"}).second, (std::vector<std::string>{d + "报告", d + "报告/年度报告.pdf"}));
  EXPECT_EQ(rows({"with", "NAME"}).second, std::vector<std::string>{d + "name with spaces.txt"});
  EXPECT_EQ(rows({"\xFF"}).second, std::vector<std::string>{d + "bad-\xFF\xFE-bytes"});
  EXPECT_EQ(rows({"--count", "item"}).second, std::vector<std::string>{"3000"});
  EXPECT_EQ(rows({"--ext", "dat,gz", "--count"}).second, std::vector<std::string>{"3001"});
  // Without a term, or with a blank one (the main job's --count ""), every
  // entry is counted, the root included.
  const std::string every = std::to_string(tree.Expected().size() + 1);
  EXPECT_EQ(rows({"--count"}).second, std::vector<std::string>{every});
  EXPECT_EQ(rows({"--count", ""}).second, std::vector<std::string>{every});
  EXPECT_EQ(rows({"--count", "*?"}).second, std::vector<std::string>{every});
  auto none = rows({"no-such-name"});
  EXPECT_EQ(none.first, 1);
  EXPECT_TRUE(none.second.empty());
  EXPECT_EQ(RunQvsearch({"--bogus"}).status, 2);
  EXPECT_EQ(RunQvsearch({"--root", tree.Path() + "/no-such-folder", "x"}).status, 2);
}

TEST_F(QvsearchTree, LongColumns) {
  RunResult r = RunQvsearch({"--root", tree.Path(), "--data", data, "--no-save", "--long", "archive"});
  ASSERT_EQ(r.status, 0);
  auto lines = Split(r.out, '\n');
  ASSERT_EQ(lines.size(), 1u);
  std::vector<std::string> cols = Split(lines[0] + "\t", '\t');
  ASSERT_EQ(cols.size(), 7u);
  EXPECT_EQ(cols[0], "archive.tar.gz");
  EXPECT_EQ(cols[1], tree.Path() + "/docs/");
  EXPECT_EQ(cols[2], "0 B");
  for (int c = 3; c <= 5; ++c) EXPECT_NE(cols[c].find("年"), std::string::npos) << cols[c];
  EXPECT_EQ(cols[6], "[普通]文件");
  r = RunQvsearch({"--root", tree.Path(), "--data", data, "--no-save", "--long", "profile"});
  EXPECT_NE(r.out.find("[隐藏]文件"), std::string::npos);
}

TEST_F(QvsearchTree, OfflineAnswersFromTheSavedIndexWithoutRescanning) {
  EXPECT_EQ(RunQvsearch({"--root", tree.Path(), "--offline", "--data", data, "x"}).status, 2);  // nothing saved yet
  ASSERT_EQ(RunQvsearch({"--root", tree.Path(), "--data", data, "--count", "photo"}).status, 0);
  ASSERT_TRUE(tree.File("docs/late-arrival.txt"));
  fs::remove(tree.Path() + "/docs/archive.tar.gz");
  // Answered from the database: the change is not seen.
  RunResult offline = RunQvsearch({"--root", tree.Path(), "--offline", "--data", data, "archive"});
  EXPECT_EQ(offline.status, 0);
  EXPECT_EQ(offline.out, tree.Path() + "/docs/archive.tar.gz\n");
  EXPECT_EQ(RunQvsearch({"--root", tree.Path(), "--offline", "--data", data, "late"}).status, 1);
  // The real case of extensions survives the database.
  std::vector<std::string> photos = Split(RunQvsearch({"--root", tree.Path(), "--offline", "--data", data, "photo"}).out, '\n');
  std::sort(photos.begin(), photos.end());
  EXPECT_EQ(photos, (std::vector<std::string>{tree.Path() + "/docs/photo.JPG", tree.Path() + "/docs/photo.jpg"}));
}

// Options that would silently do something else are refused.
TEST_F(QvsearchTree, EmptyRootAndUnknownMonitorAreRefused) {
  EXPECT_EQ(RunQvsearch({"--root", "", "--data", data, "x"}).status, 2);
  EXPECT_EQ(RunQvsearch({"--root", tree.Path(), "--data", data, "--watch", "--monitor", "polling", "x"}).status, 2);
  // A kind that exists is taken (a one-shot run follows nothing either way).
  EXPECT_NE(RunQvsearch({"--root", tree.Path(), "--data", data, "--no-save", "--monitor", "inotify", "*?"}).status, 2);
}

// The ways of searching a terminal user reaches for, through the program.
TEST_F(QvsearchTree, SearchModesFromTheCommandLine) {
  auto rows = [&](std::vector<std::string> args) {
    std::vector<std::string> all = {"--root", tree.Path(), "--data", data, "--no-save", "--no-service"};
    all.insert(all.end(), args.begin(), args.end());
    RunResult r = RunQvsearch(all);
    return std::make_pair(r.status, Split(r.out, '\n'));
  };
  using V = std::vector<std::string>;
  const std::string d = tree.Path() + "/docs/";
  // Whole names, by default.
  EXPECT_EQ(rows({"archive.tar.gz"}).second, V{d + "archive.tar.gz"});
  EXPECT_EQ(rows({"tar.gz"}).second, V{d + "archive.tar.gz"});
  EXPECT_EQ(rows({"*.gz"}).second, V{d + "archive.tar.gz"});
  EXPECT_EQ(rows({"*.pdf"}).second, V{d + "报告/年度报告.pdf"});
  EXPECT_EQ(rows({"--base-name", "*.pdf"}).first, 1);
  EXPECT_EQ(rows({"--base-name", "--count", "archive"}).second, V{"1"});
  // A path term, pinyin, case.
  EXPECT_EQ(rows({"docs/报告/"}).second, V{d + "报告/年度报告.pdf"});
  EXPECT_EQ(rows({"ndbg"}).second, V{d + "报告/年度报告.pdf"});
  EXPECT_EQ(rows({"--no-pinyin", "ndbg"}).first, 1);
  EXPECT_EQ(rows({"--case", "photo.JPG"}).second, V{d + "photo.JPG"});
  // The hidden switch.
  EXPECT_EQ(rows({"profile"}).second, V{d + ".profile"});
  EXPECT_EQ(rows({"--no-hidden", "profile"}).first, 1);
  // One regular expression; a bad one is an error, not an empty answer.
  EXPECT_EQ(rows({"--regex", "^item29[0-9]{2}\\.dat$", "--count"}).second, V{"100"});
  EXPECT_EQ(rows({"--regex", "docs/photo\\.(jpg|JPG)$", "--count"}).second, V{"2"});
  EXPECT_EQ(rows({"--regex", "(unclosed"}).first, 2);
  EXPECT_EQ(rows({"--regex"}).first, 2);
  // Order and number of rows.
  EXPECT_EQ(rows({"--sort", "name", "item29"}).second.front(), tree.Path() + "/many/item29.dat");
  EXPECT_EQ(rows({"--sort", "name", "--reverse", "item29"}).second.front(), tree.Path() + "/many/item2999.dat");
  EXPECT_EQ(rows({"--limit", "5", "item"}).second.size(), 5u);
  EXPECT_EQ(rows({"--limit", "5", "--count", "item"}).second, V{"3000"});
  EXPECT_EQ(rows({"--limit", "0", "item"}).first, 2);
  EXPECT_EQ(rows({"--sort", "colour", "item"}).first, 2);
  // Exclusions: the folder and the name pattern stay out of the index.
  EXPECT_EQ(rows({"--exclude", tree.Path() + "/many", "--count", "item"}).first, 1);
  EXPECT_EQ(rows({"--exclude", "*.dat", "--count", "item"}).first, 1);
  EXPECT_EQ(rows({"--exclude", "*.dat", "--count", "archive"}).second, V{"1"});
  RunResult version = RunQvsearch({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("qvsearch ", 0), 0u);
}
