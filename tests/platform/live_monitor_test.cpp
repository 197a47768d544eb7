// The live monitor over a real temporary tree: after every change the
// index must list what a fresh look at the tree finds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "IQvSearch.h"
#include "platform_test_util.h"
#include "qvDirWalker.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"

namespace fs = std::filesystem;

namespace {

class LiveIndex {
 public:
  LiveIndex(const std::string& root, const char* tier, const std::string& data = "")
      : LiveIndex(std::vector<std::string>{root}, tier, data) {}
  LiveIndex(const std::vector<std::string>& roots, const char* tier, const std::string& data = "") {
    engine_ = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
    auto* config = static_cast<IQvSearchConfig*>(engine_->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    for (const std::string& root : roots) config->AddRoot(qvNameCodec::DecodeToString(root).c_str());
    config->SetOption("monitor", tier);
    if (data.empty()) {
      config->SetOption("no_save", "1");
      config->SetOption("no_load", "1");
    } else {
      config->SetDataFolder(qvNameCodec::DecodeToString(data).c_str());
    }
    config_ = config;
    engine_->Initialize(nullptr);
    engine_->WaitUntilInitialised();
  }
  ~LiveIndex() { engine_->Release(); }

  bool WaitFollowing() {
    for (int i = 0; i < 500; ++i) {
      if (config_->QueryValue("following") == 1) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  int64_t Loaded() { return config_->QueryValue("loaded"); }
  int64_t Tier() { return config_->QueryValue("monitor_tier"); }
  // Held, no batch can be applied: the monitor stops reading its queue.
  std::mutex& EngineLock() { return engine_->lock; }
  int64_t Rescans() { return config_->QueryValue("rescans"); }

  // Every row of a query as a full path (folders end without '/').
  std::set<std::string> Rows(const std::u16string& query) {
    engine_->Search(query.c_str(), u"", 1);
    std::set<std::string> out;
    int32_t n = engine_->GetFolderResultCount() + engine_->GetFileResultCount();
    std::vector<qvChar> path(QV_MAX_PATH), name(QV_MAX_PATH);
    for (int32_t r = 0; r < n; ++r) {
      engine_->GetItemText(r, path.data(), name.data(), nullptr);
      out.insert(qvNameCodec::EncodeToString(path.data()) + qvNameCodec::EncodeToString(name.data()));
    }
    return out;
  }

 private:
  qvKearchImpl* engine_ = nullptr;
  IQvSearchConfig* config_ = nullptr;
};

// What the tree holds, found afresh: every entry below the root, and the
// root itself, as the index names it.
// A root is named by its whole path; names compare with ASCII folded.
std::set<std::string> FreshListing(const std::string& root, const std::string& term = "") {
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
  };
  std::set<std::string> out;
  if (lower(root).find(term) != std::string::npos) out.insert(root);
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string name = it->path().filename().string();
    std::string base = name;
    if (!fs::is_directory(it->symlink_status())) {
      size_t dot = name.find_last_of(". ");
      if (dot != std::string::npos && dot >= 1 && name[dot] == '.') base = name.substr(0, dot);
    }
    if (lower(base).find(term) != std::string::npos) out.insert(it->path().string());
  }
  return out;
}

std::set<std::string> FreshListing(const std::vector<std::string>& roots, const std::string& term = "") {
  std::set<std::string> out;
  for (const std::string& root : roots) out.merge(FreshListing(root, term));
  return out;
}

// Polls until the index lists what the trees hold (bounded).
::testing::AssertionResult Converges(LiveIndex& index, const std::vector<std::string>& roots) {
  std::set<std::string> want, got;
  for (int i = 0; i < 300; ++i) {
    want = FreshListing(roots);
    got = index.Rows(u"*?");
    if (got == want) {
      want = FreshListing(roots, "x");
      got = index.Rows(u"x");
      if (got == want) return ::testing::AssertionSuccess();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string diff;
  for (auto& w : want)
    if (!got.count(w)) diff += "\n  missing " + w;
  for (auto& g : got)
    if (!want.count(g)) diff += "\n  extra   " + g;
  return ::testing::AssertionFailure() << "index differs from the tree:" << diff;
}

::testing::AssertionResult Converges(LiveIndex& index, const std::string& root) {
  return Converges(index, std::vector<std::string>{root});
}

void Touch(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}

class LiveMonitor : public ::testing::TestWithParam<const char*> {};

// A forced kind that cannot start here leaves the engine without a
// monitor.
#define SKIP_WITHOUT_MONITOR(index)                                                  \
  do {                                                                               \
    if ((index).Tier() == 0)                                                         \
      GTEST_SKIP() << GetParam() << " cannot start here (privileges, kernel)";       \
  } while (0)

}  // namespace

TEST_P(LiveMonitor, FollowsCreatesDeletesRenamesAndMoves) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("docs"));
  ASSERT_TRUE(tree.File("docs/x-one.txt"));
  ASSERT_TRUE(tree.Dir("docs/sub"));
  ASSERT_TRUE(tree.File("docs/sub/deep.c"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  ASSERT_TRUE(Converges(index, root));

  Touch(root + "/docs/x-two.txt");
  fs::create_directory(root + "/newdir");
  ASSERT_TRUE(Converges(index, root));
  fs::rename(root + "/docs/x-two.txt", root + "/docs/renamed-x.txt");  // a file renamed
  fs::rename(root + "/docs/sub", root + "/docs/sub-x");                // a folder renamed
  ASSERT_TRUE(Converges(index, root));
  fs::rename(root + "/docs/sub-x", root + "/newdir/sub-x");  // moved between folders
  fs::remove(root + "/docs/x-one.txt");
  ASSERT_TRUE(Converges(index, root));
  // The same name in two folders, one of them deleted.
  Touch(root + "/docs/same-x");
  Touch(root + "/newdir/same-x");
  ASSERT_TRUE(Converges(index, root));
  fs::remove(root + "/newdir/same-x");
  ASSERT_TRUE(Converges(index, root));
  // A file renamed over an existing one replaces it.
  Touch(root + "/docs/victim-x");
  ASSERT_TRUE(Converges(index, root));
  fs::rename(root + "/docs/same-x", root + "/docs/victim-x");
  ASSERT_TRUE(Converges(index, root));
}

TEST_P(LiveMonitor, FoldersMovedInAndOutBringAndTakeTheirSubtrees) {
  qvtest::TempTree tree;
  qvtest::TempTree outside;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("in"));
  ASSERT_TRUE(outside.Dir("crate"));
  ASSERT_TRUE(outside.Dir("crate/inner"));
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(outside.File("crate/f" + std::to_string(i) + (i % 3 ? ".x" : "x.dat")));
  ASSERT_TRUE(outside.File("crate/inner/xdeep.txt"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  fs::rename(outside.Path() + "/crate", root + "/in/crate");
  ASSERT_TRUE(Converges(index, root));
  // Changes inside the moved-in folder are followed too.
  Touch(root + "/in/crate/inner/late-x.txt");
  ASSERT_TRUE(Converges(index, root));
  fs::rename(root + "/in/crate", outside.Path() + "/crate");
  ASSERT_TRUE(Converges(index, root));
  EXPECT_EQ(index.Rows(u"xdeep").size(), 0u);
}

TEST_P(LiveMonitor, BurstOfTenThousandFiles) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("burst"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  for (int i = 0; i < 10000; ++i) Touch(root + "/burst/b" + std::to_string(i) + (i % 7 ? ".log" : "x.log"));
  ASSERT_TRUE(Converges(index, root));
  fs::remove_all(root + "/burst");
  ASSERT_TRUE(Converges(index, root));
}

TEST_P(LiveMonitor, RestartLoadsTheSavedIndexThenCatchesUp) {
  qvtest::TempTree tree;
  qvtest::TempTree data;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.File("kept-x.txt"));
  ASSERT_TRUE(tree.File("removed-x.txt"));
  {
    LiveIndex first(root, GetParam(), data.Path() + "/");
    SKIP_WITHOUT_MONITOR(first);
    ASSERT_TRUE(first.WaitFollowing());
    ASSERT_TRUE(Converges(first, root));
  }
  // Changed while the program was not running.
  fs::remove(root + "/removed-x.txt");
  Touch(root + "/added-x.txt");
  LiveIndex second(root, GetParam(), data.Path() + "/");
  // The first answer comes from the saved index: it still has the old file.
  EXPECT_EQ(second.Loaded(), 1);
  ASSERT_TRUE(second.WaitFollowing());
  ASSERT_TRUE(Converges(second, root));
}

// The queue merges repeated events on one name, losing their order: the
// index must still end as the tree is, however the churn was folded.
TEST_P(LiveMonitor, ChurnOnOneNameEndsAsTheTreeIs) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("c"));
  ASSERT_TRUE(tree.Dir("c/keep"));
  ASSERT_TRUE(tree.File("c/keep/inner-x.txt"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  const std::string c = root + "/c/";
  for (int i = 0; i < 200; ++i) {
    Touch(c + "x");  // file, gone, folder, gone
    fs::remove(c + "x");
    fs::create_directory(c + "x");
    fs::remove(c + "x");
    Touch(c + "y");  // a rename chain through names that are reused
    fs::rename(c + "y", c + "z");
    Touch(c + "y");
    fs::rename(c + "y", c + "z");
  }
  // A folder replaced by another of the same name: the old contents go.
  fs::rename(c + "keep", c + "old-keep");
  fs::create_directory(c + "keep");
  Touch(c + "keep/fresh-x");
  fs::remove_all(c + "old-keep");
  // The name ends as a folder with something inside.
  fs::create_directory(c + "x");
  Touch(c + "x/last-x");
  ASSERT_TRUE(Converges(index, root));
  fs::remove_all(c + "x");
  Touch(c + "x");
  ASSERT_TRUE(Converges(index, root));
}

// Entries made in a folder just before it (or a folder above it) is
// renamed: their events name the folder under its old path, which is gone
// by the time they are applied.
TEST_P(LiveMonitor, EntriesMadeJustBeforeTheirFolderMoved) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("top"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  for (int i = 0; i < 50; ++i) {
    std::string n = std::to_string(i);
    fs::create_directories(root + "/top/d" + n + "/inner");
  }
  ASSERT_TRUE(Converges(index, root));
  for (int i = 0; i < 50; ++i) {
    std::string n = std::to_string(i);
    Touch(root + "/top/d" + n + "/a-x" + n);
    fs::create_directory(root + "/top/d" + n + "/inner/sub-x");
    Touch(root + "/top/d" + n + "/inner/b-x" + n);
    fs::rename(root + "/top/d" + n, root + "/top/e" + n);
  }
  fs::rename(root + "/top", root + "/top2");
  ASSERT_TRUE(Converges(index, root));
}

// A folder made, filled and renamed while the monitor could not apply
// anything: its creation is handled after the rename already happened, so
// the folder is not at the path its creation named. Its contents and
// later changes inside it must still be followed.
TEST_P(LiveMonitor, FolderMadeFilledAndRenamedBeforeItsCreationIsApplied) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  {
    std::lock_guard<std::mutex> hold(index.EngineLock());
    // A first change, so that the monitor has read it and waits for the
    // lock to apply it: what follows is read as one batch after the
    // rename. (The pause only lets that happen; a sound monitor passes
    // without it.)
    Touch(root + "/before");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    fs::create_directory(root + "/d");
    for (int i = 0; i < 100; ++i) Touch(root + "/d/f" + std::to_string(i));
    fs::rename(root + "/d", root + "/e");
  }
  ASSERT_TRUE(Converges(index, root));
  Touch(root + "/e/later-x");
  ASSERT_TRUE(Converges(index, root));
  // Renamed on once more while its first walk may still be pending.
  fs::create_directory(root + "/g");
  for (int i = 0; i < 100; ++i) Touch(root + "/g/h" + std::to_string(i));
  fs::rename(root + "/g", root + "/g2");
  fs::rename(root + "/g2", root + "/g3");
  ASSERT_TRUE(Converges(index, root));
  Touch(root + "/g3/later-x");
  ASSERT_TRUE(Converges(index, root));
}

// Many big folders renamed in a row, some of them made and filled just
// before: nothing is lost, and every folder is still followed afterwards.
TEST_P(LiveMonitor, FiftyRenamesOfThousandFileFolders) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  for (int k = 0; k < 3; ++k) {
    ASSERT_TRUE(tree.Dir("big" + std::to_string(k)));
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(tree.File("big" + std::to_string(k) + "/f" + std::to_string(i)));
  }
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  std::vector<std::string> names = {"big0", "big1", "big2"};
  for (int r = 0; r < 50; ++r) {
    size_t k = static_cast<size_t>(r) % names.size();
    std::string to = "big" + std::to_string(k) + "-r" + std::to_string(r);
    fs::rename(root + "/" + names[k], root + "/" + to);
    names[k] = to;
    if (r % 10 == 0) {  // one made, filled and renamed at once
      std::string made = "new" + std::to_string(r);
      fs::create_directory(root + "/" + made);
      for (int i = 0; i < 1000; ++i) Touch(root + "/" + made + "/g" + std::to_string(i));
      fs::rename(root + "/" + made, root + "/" + made + "-moved");
    }
  }
  ASSERT_TRUE(Converges(index, root));
  for (const std::string& name : names) Touch(root + "/" + name + "/after-x");
  ASSERT_TRUE(Converges(index, root));
}

// A disk that stalls while the monitor walks a new folder: the walk runs
// outside the engine lock, so searches and row reads go on meanwhile.
std::atomic<int> gStalled{0};
std::atomic<bool> gReleaseDisk{false};
void StallingDisk() {
  gStalled.fetch_add(1);
  for (int i = 0; i < 2000 && !gReleaseDisk.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST_P(LiveMonitor, SearchesAnswerWhileTheDiskStallsAWalk) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.File("before-x"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  gStalled = 0;
  gReleaseDisk = false;
  qvDirWalker::SetSlowDiskHook(StallingDisk);
  fs::create_directory(root + "/slow");
  Touch(root + "/slow/inside-x");
  for (int i = 0; i < 500 && gStalled.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  bool stalled = gStalled.load() > 0;
  // While the walk waits for the disk, a search and its rows come back.
  auto search = std::async(std::launch::async, [&] { return index.Rows(u"before"); });
  bool answered = search.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  bool stillStalled = !gReleaseDisk.load();
  gReleaseDisk = true;
  qvDirWalker::SetSlowDiskHook(nullptr);
  ASSERT_TRUE(stalled) << "the monitor never walked the new folder";
  EXPECT_TRUE(answered && stillStalled) << "a search waited for the stalled walk";
  EXPECT_EQ(search.get(), std::set<std::string>{root + "/before-x"});
  ASSERT_TRUE(Converges(index, root));
}

// A folder renamed over an empty one takes its place with its subtree; the
// empty one's entry goes.
TEST_P(LiveMonitor, FolderRenamedOverAnEmptyFolder) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("full"));
  ASSERT_TRUE(tree.Dir("full/deep-x"));
  ASSERT_TRUE(tree.File("full/deep-x/leaf-x.txt"));
  ASSERT_TRUE(tree.Dir("empty-x"));
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  fs::rename(root + "/full", root + "/empty-x");
  ASSERT_TRUE(Converges(index, root));
  Touch(root + "/empty-x/deep-x/later-x");  // still followed under the new name
  ASSERT_TRUE(Converges(index, root));
}

// Two indexed roots on one file system: each keeps its own entries, and
// entries moved between them leave one and join the other.
TEST_P(LiveMonitor, TwoRootsOnOneFileSystem) {
  qvtest::TempTree one;
  qvtest::TempTree two;
  ASSERT_TRUE(one.Dir("a"));
  ASSERT_TRUE(one.File("a/x-file"));
  ASSERT_TRUE(two.Dir("a"));  // the same names in both
  ASSERT_TRUE(two.File("a/x-file"));
  const std::vector<std::string> roots = {one.Path(), two.Path()};
  LiveIndex index(roots, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  ASSERT_TRUE(Converges(index, roots));
  fs::remove(one.Path() + "/a/x-file");
  Touch(two.Path() + "/a/x-new");
  ASSERT_TRUE(Converges(index, roots));
  fs::rename(one.Path() + "/a", two.Path() + "/moved-x");  // a folder from one root to the other
  fs::rename(two.Path() + "/a/x-file", one.Path() + "/back-x");
  ASSERT_TRUE(Converges(index, roots));
  Touch(two.Path() + "/moved-x/inside-x");
  ASSERT_TRUE(Converges(index, roots));
}

INSTANTIATE_TEST_SUITE_P(Tiers, LiveMonitor, ::testing::Values("inotify", "fanotify-fs", "fanotify-marks"));

// "" takes the first kind that can start, in the order whole file system,
// folder marks, inotify. (One engine exists at a time.)
TEST(LiveMonitorTier, BestIsTheFirstKindThatStarts) {
  qvtest::TempTree tree;
  int64_t expected = 0;
  for (const char* kind : {"fanotify-fs", "fanotify-marks", "inotify"}) {
    LiveIndex forced(tree.Path(), kind);
    if ((expected = forced.Tier()) != 0) break;
  }
  {
    LiveIndex best(tree.Path(), "");
    EXPECT_EQ(best.Tier(), expected);
  }
  LiveIndex off(tree.Path(), "off");
  EXPECT_EQ(off.Tier(), 0);
}

// The whole file system is marked, so changes in a sibling folder reach
// the monitor too; they must not touch the index, even where the names
// match indexed ones.
TEST(LiveMonitorFanotify, ChangesOutsideTheRootAreIgnored) {
  qvtest::TempTree tree;
  qvtest::TempTree sibling;
  const std::string root = tree.Path();
  for (auto* t : {&tree, &sibling}) {
    ASSERT_TRUE(t->Dir("docs"));
    ASSERT_TRUE(t->File("docs/x-a.txt"));
    ASSERT_TRUE(t->Dir("docs/sub-x"));
  }
  LiveIndex index(root, "fanotify-fs");
  if (index.Tier() == 0) GTEST_SKIP() << "fanotify on the whole file system cannot start here";
  ASSERT_TRUE(index.WaitFollowing());
  const std::string s = sibling.Path();
  fs::remove(s + "/docs/x-a.txt");
  fs::rename(s + "/docs/sub-x", s + "/docs/moved-x");
  Touch(s + "/docs/x-new.txt");
  fs::create_directory(s + "/docs/x-dir");
  Touch(root + "/marker-x");  // after the sibling's events in the queue
  ASSERT_TRUE(Converges(index, root));
  EXPECT_EQ(index.Rescans(), 0);
  EXPECT_EQ(index.Rows(u"x-new").size(), 0u);
}

// The root itself removed: nothing of it may stay listed. (The fanotify
// kinds watch the root for its own removal.)
class LiveMonitorRoot : public ::testing::TestWithParam<const char*> {};

TEST_P(LiveMonitorRoot, RemovedRootEmptiesTheVolume) {
  qvtest::TempTree tree;
  ASSERT_TRUE(tree.Dir("r"));
  ASSERT_TRUE(tree.Dir("r/sub"));
  ASSERT_TRUE(tree.File("r/sub/x-file"));
  const std::string root = tree.Path() + "/r";
  LiveIndex index(root, GetParam());
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  ASSERT_TRUE(Converges(index, root));
  fs::rename(root, tree.Path() + "/moved-away");
  bool empty = false;
  for (int i = 0; i < 300 && !empty; ++i) {
    empty = index.Rows(u"*?").empty();
    if (!empty) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(empty);
}

INSTANTIATE_TEST_SUITE_P(Tiers, LiveMonitorRoot, ::testing::Values("fanotify-fs", "fanotify-marks"));

// A queue that overflows loses events: the volume is scanned again and the
// index still ends equal to the tree. The queue length is fixed when the
// monitor starts, so a tiny limit is set just for that moment.
class LiveMonitorOverflow : public ::testing::TestWithParam<const char*> {};

TEST_P(LiveMonitorOverflow, LostEventsLeadToACorrectIndex) {
  bool inotify = std::string(GetParam()) == "inotify";
  const char* knob = inotify ? "/proc/sys/fs/inotify/max_queued_events" : "/proc/sys/fs/fanotify/max_queued_events";
  std::string saved;
  if (qvtest::ReadSmallFile(knob, &saved) != 0 || !qvtest::WriteSmallFile(knob, "16\n"))
    GTEST_SKIP() << "cannot shorten the queue here (" << knob << " not writable)";
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("q"));
  std::unique_ptr<LiveIndex> index;
  index = std::make_unique<LiveIndex>(root, GetParam());
  qvtest::WriteSmallFile(knob, saved);
  SKIP_WITHOUT_MONITOR(*index);
  ASSERT_TRUE(index->WaitFollowing());
  int64_t before = index->Rescans();
  {
    // The monitor reads at most one batch before it waits for the lock;
    // the rest cannot fit the queue.
    std::lock_guard<std::mutex> hold(index->EngineLock());
    for (int i = 0; i < 10000; ++i) Touch(root + "/q/o" + std::to_string(i) + "x.txt");
  }
  ASSERT_TRUE(Converges(*index, root));
  EXPECT_GT(index->Rescans(), before);  // the overflow was seen and repaired
}

INSTANTIATE_TEST_SUITE_P(Tiers, LiveMonitorOverflow, ::testing::Values("inotify", "fanotify-fs", "fanotify-marks"));
