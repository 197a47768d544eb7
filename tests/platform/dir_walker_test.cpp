// The directory walk over real temporary trees, compared with what the
// test made.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <stdexcept>
#include <string>

#include "qvDirWalker.h"
#include "platform_test_util.h"

using qvtest::Listing;
using qvtest::TempTree;

namespace {

Listing Walk(const std::string& root, const qvDirWalker::Options& options, qvWalkStats* stats,
             bool* ok = nullptr) {
  Listing listing;
  listing.batchLimit = options.batchEntries;
  qvDirWalker walker(options);
  bool result = walker.Walk(root, [&](const ScanEntry* e, size_t n) { listing.Add(e, n); });
  if (ok) *ok = result;
  *stats = walker.Stats();
  return listing;
}

// Names that stress the codec and the getdents parsing.
void MakeAwkwardNames(TempTree& t) {
  ASSERT_TRUE(t.Dir("names"));
  for (const char* n : {"with space", "  leading and trailing  ", "several.dots.in.name.tar.gz",
                        ".hidden", "..double-dot-prefix", "...", "中文名字.文档",
                        "emoji 😀🎉.txt", "\xff\xfe bad \x80 bytes", "\xc3\x28", "\xed\xa0\x80",
                        "\xf0\x9f\x98", "tab\there", "new\nline", "back\\slash"}) {
    ASSERT_TRUE(t.File(std::string("names/") + n)) << n;
  }
  ASSERT_TRUE(t.File("names/" + std::string(251, 'x') + ".txt"));     // 255 bytes
  ASSERT_TRUE(t.File("names/" + std::string(85, '\xe4') + ""));       // 85 invalid bytes
  std::string cjk255;
  while (cjk255.size() + 3 <= 255) cjk255 += "\xe5\xad\x97";  // 字 x 85
  ASSERT_TRUE(t.Dir("names/" + cjk255));
  ASSERT_TRUE(t.File("names/" + cjk255 + "/inside"));
}

void MakeTree(TempTree& t) {
  ASSERT_TRUE(t.Dir("a"));
  ASSERT_TRUE(t.Dir("a/b"));
  ASSERT_TRUE(t.Dir("a/b/c"));
  ASSERT_TRUE(t.Dir("a/b/c/d"));
  ASSERT_TRUE(t.File("a/b/c/d/leaf.txt"));
  ASSERT_TRUE(t.Dir("a/empty"));
  ASSERT_TRUE(t.File("a/file"));
  // Thousands of files in one folder: several reads and several batches.
  ASSERT_TRUE(t.Dir("many"));
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(t.File("many/file_" + std::to_string(i) + ".dat"));
  // Many small folders, each with a file, for the work stack.
  ASSERT_TRUE(t.Dir("wide"));
  for (int i = 0; i < 300; ++i) {
    std::string d = "wide/" + std::to_string(i);
    ASSERT_TRUE(t.Dir(d));
    ASSERT_TRUE(t.File(d + "/f"));
  }
  MakeAwkwardNames(t);
  // Links are listed as files and never followed.
  ASSERT_TRUE(t.Link("loop", "."));
  ASSERT_TRUE(t.Link("a/b/up", "../.."));
  ASSERT_TRUE(t.Link("ping", "pong"));
  ASSERT_TRUE(t.Link("pong", "ping"));
  ASSERT_TRUE(t.Link("dangling", "/nonexistent/target"));
  ASSERT_TRUE(t.Link("outside", "/"));
  // Deeper than PATH_MAX.
  ASSERT_TRUE(t.DeepChain("deep", 5000));
}

struct WalkCase {
  const char* label;
  qvDirWalker::Options options;
};

WalkCase Case(const char* label, unsigned threads, size_t batch, size_t buffer, long kept) {
  WalkCase c{label, {}};
  c.options.threads = threads;
  c.options.batchEntries = batch;
  c.options.readBufferBytes = buffer;
  c.options.keptFolderLimit = kept;
  return c;
}

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.label; }

class WalkTree : public ::testing::TestWithParam<WalkCase> {};

}  // namespace

TEST_P(WalkTree, ListsEveryEntryOnceWithItsExactName) {
  TempTree t;
  MakeTree(t);
  if (HasFatalFailure()) return;
  int fdsBefore = qvtest::OpenFdCount();

  qvWalkStats stats;
  bool ok = false;
  Listing listing = Walk(t.Path(), GetParam().options, &stats, &ok);

  EXPECT_TRUE(ok);
  EXPECT_EQ(listing.duplicateRefs, 0u);
  EXPECT_EQ(listing.lowRefs, 0u);
  EXPECT_EQ(listing.concurrentCalls, 0u);
  EXPECT_EQ(listing.oversizedBatches, 0u);
  std::map<std::string, bool> got = listing.Paths();
  EXPECT_EQ(got, t.Expected());
  // Show the first difference plainly; the maps are large.
  for (const auto& [path, dir] : t.Expected()) {
    auto it = got.find(path);
    if (it == got.end() || it->second != dir) {
      ADD_FAILURE() << "missing or wrong: " << path;
      break;
    }
  }
  size_t folders = 0;
  for (const auto& [path, dir] : t.Expected()) folders += dir;
  EXPECT_EQ(stats.entries, t.Expected().size());
  EXPECT_EQ(stats.folders, folders);
  EXPECT_EQ(stats.unreadableFolders, 0u);
  EXPECT_EQ(stats.mountPoints, 0u);
  EXPECT_EQ(qvtest::OpenFdCount(), fdsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Options, WalkTree,
    ::testing::Values(Case("OneThread", 1, 4096, 256 << 10, -1),
                      Case("TwoThreads", 2, 4096, 256 << 10, -1),
                      // Tiny reads and batches, and no folder keeps its
                      // descriptor: every folder is reached by path.
                      Case("FourThreadsByPath", 4, 7, 4096, 0),
                      Case("OneKeptFolder", 3, 100, 8192, 1)),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WalkRoot, FailsWithTheReasonWhenTheRootCannotBeOpened) {
  TempTree t;
  ASSERT_TRUE(t.File("plain"));
  qvWalkStats stats;
  bool ok = true;
  Walk(t.Path() + "/missing", {}, &stats, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(stats.rootError, ENOENT);
  Walk(t.Path() + "/plain", {}, &stats, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(stats.rootError, ENOTDIR);
}

TEST(WalkRoot, UnreadableFolderIsListedWithoutChildren) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
  TempTree t;
  ASSERT_TRUE(t.Dir("locked"));
  ASSERT_EQ(mkdirat(t.Fd(), "locked/inner", 0755), 0);
  ASSERT_EQ(fchmodat(t.Fd(), "locked", 0, 0), 0);
  qvWalkStats stats;
  Listing listing = Walk(t.Path(), {}, &stats);
  EXPECT_EQ(listing.Paths(), t.Expected());
  EXPECT_EQ(stats.unreadableFolders, 1u);
}

TEST(WalkRoot, StopAndFailingSinkEndTheWalkCleanly) {
  TempTree t;
  MakeTree(t);
  if (HasFatalFailure()) return;
  int fdsBefore = qvtest::OpenFdCount();
  qvDirWalker::Options small;
  small.batchEntries = 16;

  qvDirWalker stopped(small);
  size_t seen = 0;
  EXPECT_FALSE(stopped.Walk(t.Path(), [&](const ScanEntry*, size_t n) {
    seen += n;
    stopped.Stop();
  }));
  EXPECT_LT(seen, t.Expected().size());
  EXPECT_EQ(qvtest::OpenFdCount(), fdsBefore);

  qvDirWalker failing(small);
  int calls = 0;
  EXPECT_THROW(failing.Walk(t.Path(),
                            [&](const ScanEntry*, size_t) {
                              if (++calls == 3) throw std::runtime_error("sink full");
                            }),
               std::runtime_error);
  EXPECT_EQ(calls, 3);  // no call after the failure
  EXPECT_EQ(qvtest::OpenFdCount(), fdsBefore);
}

// Other file systems inside the tree: listed as folders, never entered.
// Unmounted before the tree is removed.
class Mounted {
 public:
  bool Mount(const char* source, const std::string& target, const char* type, unsigned long flags) {
    if (mount(source, target.c_str(), type, flags, nullptr) != 0) return false;
    targets_.push_back(target);
    return true;
  }
  ~Mounted() {
    for (auto it = targets_.rbegin(); it != targets_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
  }

 private:
  std::vector<std::string> targets_;
};

TEST(WalkMounts, MountPointIsListedButNotEntered) {
  TempTree t;
  Mounted mounts;
  ASSERT_TRUE(t.Dir("mnt"));
  ASSERT_TRUE(t.Dir("after"));
  ASSERT_TRUE(t.File("after/file"));
  if (!mounts.Mount("none", t.Path() + "/mnt", "tmpfs", 0))
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  ASSERT_EQ(mkdirat(t.Fd(), "mnt/hidden", 0755), 0);
  int f = openat(t.Fd(), "mnt/hidden.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  close(f);

  for (unsigned threads : {1u, 2u}) {
    qvDirWalker::Options o;
    o.threads = threads;
    qvWalkStats stats;
    Listing listing = Walk(t.Path(), o, &stats);
    EXPECT_EQ(listing.Paths(), t.Expected());
    EXPECT_EQ(stats.mountPoints, 1u);
  }

  // Walked from inside, the mounted file system is a tree of its own.
  qvWalkStats stats;
  Listing inner = Walk(t.Path() + "/mnt", {}, &stats);
  EXPECT_EQ(inner.Paths(), (std::map<std::string, bool>{{"hidden", true}, {"hidden.txt", false}}));
}

TEST(WalkMounts, BindMountOfTheSameFileSystemIsNotEntered) {
  TempTree t;
  Mounted mounts;
  ASSERT_TRUE(t.Dir("src"));
  ASSERT_TRUE(t.File("src/x"));
  ASSERT_TRUE(t.Dir("view"));
  if (!mounts.Mount((t.Path() + "/src").c_str(), t.Path() + "/view", nullptr, MS_BIND))
    GTEST_SKIP() << "cannot bind-mount here: " << strerror(errno);
  qvWalkStats stats;
  Listing listing = Walk(t.Path(), {}, &stats);
  EXPECT_EQ(listing.Paths(), t.Expected());  // view/x is not listed a second time
  EXPECT_EQ(stats.mountPoints, 1u);
}
