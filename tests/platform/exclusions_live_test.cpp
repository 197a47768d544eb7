// Exclusion rules on a live index over a real tree, for every kind of
// monitor: what is made, filled, renamed or moved into an excluded place
// stays out, what is renamed out of one comes in with its contents, and
// rules changed while the index runs are obeyed at once. After every step
// the index must equal a fresh listing of the tree with the rules applied.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "IQvSearch.h"
#include "platform_test_util.h"
#include "qvExclusions.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"

namespace fs = std::filesystem;

namespace {

class ExcludingIndex {
 public:
  ExcludingIndex(const std::string& root, const char* tier, const std::string& rules) {
    engine_ = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
    config_ = static_cast<IQvSearchConfig*>(engine_->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    config_->AddRoot(qvNameCodec::DecodeToString(root).c_str());
    config_->SetOption("monitor", tier);
    config_->SetOption("no_save", "1");
    config_->SetOption("no_load", "1");
    EXPECT_TRUE(config_->SetOption("exclude", rules.c_str()));
    engine_->Initialize(nullptr);
    engine_->WaitUntilInitialised();
  }
  ~ExcludingIndex() { engine_->Release(); }

  bool WaitFollowing() {
    for (int i = 0; i < 500 && config_->QueryValue("following") != 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return config_->QueryValue("following") == 1;
  }
  int64_t Tier() { return config_->QueryValue("monitor_tier"); }
  bool SetRules(const std::string& rules) { return config_->SetOption("exclude", rules.c_str()); }

  // Every row as a full path.
  std::set<std::string> Rows() {
    engine_->Search(u"*?", u"", 1);
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

// The tree as it is, the root included, without what `rules` leave out.
std::set<std::string> FreshListing(const std::string& root, const std::string& rulesText) {
  qvExclusions rules;
  EXPECT_TRUE(qvExclusions::Parse(rulesText, &rules));
  std::set<std::string> out{root};
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (rules.ExcludesEntry(it->path().parent_path().string(), it->path().filename().string())) {
      it.disable_recursion_pending();
      continue;
    }
    out.insert(it->path().string());
  }
  return out;
}

::testing::AssertionResult Converges(ExcludingIndex& index, const std::string& root, const std::string& rules) {
  std::set<std::string> want, got;
  for (int i = 0; i < 300; ++i) {
    want = FreshListing(root, rules);
    got = index.Rows();
    if (got == want) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string diff;
  for (auto& w : want)
    if (!got.count(w)) diff += "\n  missing " + w;
  for (auto& g : got)
    if (!want.count(g)) diff += "\n  extra   " + g;
  return ::testing::AssertionFailure() << "index differs from the tree:" << diff;
}

void Touch(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}

bool Holds(const std::set<std::string>& rows, const std::string& part) {
  for (const std::string& r : rows)
    if (r.find(part) != std::string::npos) return true;
  return false;
}

class LiveExclusions : public ::testing::TestWithParam<const char*> {};

#define SKIP_WITHOUT_MONITOR(index)                                            \
  do {                                                                         \
    if ((index).Tier() == 0)                                                   \
      GTEST_SKIP() << GetParam() << " cannot start here (privileges, kernel)"; \
  } while (0)

}  // namespace

TEST_P(LiveExclusions, ExcludedFolderMadeFilledRenamedInAndOut) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("proj"));
  ASSERT_TRUE(tree.File("proj/main.c"));
  const std::string rules = "node_modules\n*.o\n" + root + "/mnt/backup";
  ExcludingIndex index(root, GetParam(), rules);
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  ASSERT_TRUE(Converges(index, root, rules));

  // Made and filled: nothing of it enters.
  fs::create_directories(root + "/proj/node_modules/dep/lib");
  Touch(root + "/proj/node_modules/dep/lib/index.js");
  Touch(root + "/proj/node_modules/top.js");
  Touch(root + "/proj/main.o");
  fs::create_directories(root + "/mnt/backup/2024");
  Touch(root + "/mnt/backup/2024/disk.img");
  Touch(root + "/proj/marker.txt");  // a change that must show, so the ones before it were applied
  ASSERT_TRUE(Converges(index, root, rules));
  EXPECT_FALSE(Holds(index.Rows(), "node_modules"));

  // Renamed to an included name: it comes in with its contents.
  fs::rename(root + "/proj/node_modules", root + "/proj/pkg");
  ASSERT_TRUE(Converges(index, root, rules));
  EXPECT_TRUE(index.Rows().count(root + "/proj/pkg/dep/lib/index.js"));
  // Changes inside it are followed now.
  Touch(root + "/proj/pkg/dep/late.js");
  ASSERT_TRUE(Converges(index, root, rules));

  // Renamed back (`mv pkg node_modules`): it leaves with its contents.
  fs::rename(root + "/proj/pkg", root + "/proj/node_modules");
  ASSERT_TRUE(Converges(index, root, rules));
  EXPECT_FALSE(Holds(index.Rows(), "/dep"));

  // A file made inside the excluded folder never appears; a file renamed
  // to an excluded name leaves.
  Touch(root + "/proj/node_modules/new.js");
  fs::rename(root + "/proj/main.c", root + "/proj/main.o");
  Touch(root + "/proj/marker2.txt");
  ASSERT_TRUE(Converges(index, root, rules));
  EXPECT_FALSE(Holds(index.Rows(), "new.js"));

  // Moved into the excluded path, then removed.
  fs::create_directories(root + "/proj/stuff/inner");
  Touch(root + "/proj/stuff/inner/s.txt");
  ASSERT_TRUE(Converges(index, root, rules));
  fs::rename(root + "/proj/stuff", root + "/mnt/backup/stuff");
  ASSERT_TRUE(Converges(index, root, rules));
  fs::remove_all(root + "/proj/node_modules");
  fs::remove_all(root + "/mnt/backup");
  ASSERT_TRUE(Converges(index, root, rules));
}

TEST_P(LiveExclusions, RulesChangedWhileRunning) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("app"));
  ASSERT_TRUE(tree.File("app/a.c"));
  ASSERT_TRUE(tree.File("app/a.o"));
  ASSERT_TRUE(tree.Dir("app/node_modules"));
  ASSERT_TRUE(tree.Dir("app/node_modules/m"));
  ASSERT_TRUE(tree.File("app/node_modules/m/i.js"));
  ASSERT_TRUE(tree.Dir("build"));
  ASSERT_TRUE(tree.Dir("build/obj"));
  ASSERT_TRUE(tree.File("build/obj/x.bin"));
  ExcludingIndex index(root, GetParam(), "");
  SKIP_WITHOUT_MONITOR(index);
  ASSERT_TRUE(index.WaitFollowing());
  ASSERT_TRUE(Converges(index, root, ""));

  // Excluded now: gone before SetOption returns.
  const std::string rules = "node_modules\n*.o\n" + root + "/build";
  ASSERT_TRUE(index.SetRules(rules));
  EXPECT_EQ(index.Rows(), FreshListing(root, rules));
  // No longer followed inside: a change there stays out.
  Touch(root + "/build/obj/y.bin");
  Touch(root + "/app/node_modules/m/j.js");
  Touch(root + "/app/b.c");
  ASSERT_TRUE(Converges(index, root, rules));

  // Included again: walked in, and followed again.
  ASSERT_TRUE(index.SetRules("*.o"));
  ASSERT_TRUE(Converges(index, root, "*.o"));
  Touch(root + "/build/obj/z.bin");
  Touch(root + "/app/node_modules/m/k.js");
  ASSERT_TRUE(Converges(index, root, "*.o"));

  // A folder rule alone taken away and given back.
  ASSERT_TRUE(index.SetRules(root + "/build\n*.o"));
  EXPECT_EQ(index.Rows(), FreshListing(root, root + "/build\n*.o"));
  ASSERT_TRUE(index.SetRules(""));
  ASSERT_TRUE(Converges(index, root, ""));
  Touch(root + "/build/obj/w.bin");
  ASSERT_TRUE(Converges(index, root, ""));
}

INSTANTIATE_TEST_SUITE_P(Tiers, LiveExclusions, ::testing::Values("inotify", "fanotify-fs", "fanotify-marks"));
