// The directory walk with exclusion rules: excluded folders are never
// opened (an unreadable one costs nothing and is not reported), name
// patterns leave out files and whole folders, a root inside an excluded
// folder gives nothing.
#include <gtest/gtest.h>

#include <set>

#include "platform_test_util.h"
#include "qvDirWalker.h"
#include "qvLinuxVolumeSource.h"

namespace {

std::shared_ptr<const qvExclusions> Rules(const std::string& text) {
  auto rules = std::make_shared<qvExclusions>();
  EXPECT_TRUE(qvExclusions::Parse(text, rules.get()));
  return rules;
}

// The folders a walk opened, by the path their descriptor leads to.
struct OpenedFolders {
  std::mutex lock;
  std::set<std::string> paths;
  void Add(int fd) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target);
    std::lock_guard<std::mutex> guard(lock);
    if (n > 0) paths.insert(std::string(target, static_cast<size_t>(n)));
  }
};

struct WalkResult {
  bool ok;
  qvWalkStats stats;
  std::map<std::string, bool> paths;
  std::set<std::string> opened;
};

WalkResult WalkWith(const std::string& root, const std::string& rules, unsigned threads = 2) {
  OpenedFolders opened;
  qvDirWalker::Options options;
  options.threads = threads;
  options.exclusions = Rules(rules);
  options.onFolderOpened = [&](uint64_t, int fd) { opened.Add(fd); };
  qvDirWalker walker(options);
  qvtest::Listing listing;
  bool ok = walker.Walk(root, [&](const ScanEntry* e, size_t n) { listing.Add(e, n); });
  return {ok, walker.Stats(), listing.Paths(), opened.paths};
}

std::map<std::string, bool> Except(std::map<std::string, bool> all, const std::vector<std::string>& prefixes) {
  for (auto it = all.begin(); it != all.end();) {
    bool gone = false;
    for (const std::string& p : prefixes) gone |= it->first == p || it->first.rfind(p + "/", 0) == 0;
    it = gone ? all.erase(it) : std::next(it);
  }
  return all;
}

}  // namespace

TEST(ExclusionWalk, AnExcludedFolderIsNeverOpenedEvenWhenUnreadable) {
  qvtest::TempTree tree;
  ASSERT_TRUE(tree.Dir("home"));
  ASSERT_TRUE(tree.File("home/a.txt"));
  ASSERT_TRUE(tree.Dir("home/vault"));
  ASSERT_TRUE(tree.Dir("home/vault/inner"));
  ASSERT_TRUE(tree.File("home/vault/inner/secret"));
  ASSERT_TRUE(tree.Dir("home/vaulted"));  // shares the excluded folder's name as a prefix
  ASSERT_TRUE(tree.File("home/vaulted/b"));
  ASSERT_TRUE(tree.Dir("mnt"));
  ASSERT_TRUE(tree.Dir("mnt/backup"));
  ASSERT_TRUE(tree.File("mnt/backup/c"));
  ASSERT_EQ(fchmodat(tree.Fd(), "home/vault", 0, 0), 0);
  std::string root = tree.Path();

  for (unsigned threads : {1u, 4u}) {
    WalkResult r = WalkWith(root, root + "/home/vault\n" + root + "/mnt/backup/", threads);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.paths, Except(tree.Expected(), {"home/vault", "mnt/backup"}));
    EXPECT_EQ(r.stats.unreadableFolders, 0u) << "an excluded folder is not an unreadable one";
    EXPECT_EQ(r.stats.excluded, 2u);
    EXPECT_EQ(r.opened.count(root + "/home/vault"), 0u);
    EXPECT_EQ(r.opened.count(root + "/mnt/backup"), 0u);
    EXPECT_EQ(r.opened.count(root + "/home/vaulted"), 1u);
  }
  // Without the rule the unreadable folder is listed but reported (as
  // root the folder can be read anyway).
  WalkResult plain = WalkWith(root, "");
  EXPECT_EQ(plain.paths.count("home/vault"), 1u);
  if (geteuid() != 0) {
    EXPECT_EQ(plain.stats.unreadableFolders, 1u);
  }
}

TEST(ExclusionWalk, NamePatternsLeaveOutFilesAndWholeFolders) {
  qvtest::TempTree tree;
  ASSERT_TRUE(tree.Dir("proj"));
  ASSERT_TRUE(tree.File("proj/main.c"));
  ASSERT_TRUE(tree.File("proj/main.o"));
  ASSERT_TRUE(tree.File("proj/main.oo"));
  ASSERT_TRUE(tree.Dir("proj/node_modules"));
  ASSERT_TRUE(tree.Dir("proj/node_modules/dep"));
  ASSERT_TRUE(tree.File("proj/node_modules/dep/index.js"));
  ASSERT_TRUE(tree.Dir("proj/lib.o"));  // a folder matching a file pattern goes whole
  ASSERT_TRUE(tree.File("proj/lib.o/x"));
  ASSERT_TRUE(tree.Dir(".cache"));
  ASSERT_TRUE(tree.File(".cache/blob"));
  ASSERT_TRUE(tree.Dir("deep"));
  ASSERT_TRUE(tree.Dir("deep/node_modules"));
  ASSERT_TRUE(tree.File("deep/node_modules/y"));
  ASSERT_EQ(fchmodat(tree.Fd(), "deep/node_modules", 0, 0), 0);

  WalkResult r = WalkWith(tree.Path(), "node_modules\n*.o\n.cache");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.paths, Except(tree.Expected(), {"proj/main.o", "proj/node_modules", "proj/lib.o", ".cache",
                                               "deep/node_modules"}));
  EXPECT_EQ(r.stats.unreadableFolders, 0u);
  for (const std::string& p : r.opened) EXPECT_EQ(p.find("node_modules"), std::string::npos) << p;
}

TEST(ExclusionWalk, ARootInsideAnExcludedFolderGivesNothing) {
  qvtest::TempTree tree;
  ASSERT_TRUE(tree.Dir("sub"));
  ASSERT_TRUE(tree.File("sub/f"));
  WalkResult r = WalkWith(tree.Path() + "/sub/", tree.Path());
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.paths.empty());
  EXPECT_TRUE(r.opened.empty());
  EXPECT_EQ(r.stats.rootError, 0);
}

TEST(ExclusionWalk, TheVolumeSourceWalksWithTheRulesItWasGiven) {
  qvtest::TempTree tree;
  ASSERT_TRUE(tree.Dir("keep"));
  ASSERT_TRUE(tree.Dir("skip"));
  ASSERT_TRUE(tree.File("skip/f"));
  qvLinuxVolumeSource source(std::vector<qvString>{qvNameCodec::DecodeToString(tree.Path())});
  ASSERT_EQ(source.Discover().size(), 1u);
  EXPECT_TRUE(source.SetExclusions(Rules(tree.Path() + "/skip")));
  qvtest::Listing listing;
  ASSERT_TRUE(source.Enumerate(0, [&](const ScanEntry* e, size_t n) { listing.Add(e, n); }));
  EXPECT_EQ(listing.Paths(), (std::map<std::string, bool>{{"keep", true}}));
  EXPECT_TRUE(source.SetExclusions(Rules("")));
  qvtest::Listing all;
  ASSERT_TRUE(source.Enumerate(0, [&](const ScanEntry* e, size_t n) { all.Add(e, n); }));
  EXPECT_EQ(all.Paths().size(), 3u);
}
