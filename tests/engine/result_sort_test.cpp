// The current result in the order the user asks for, and category searches
// over an index that lacks some of their extensions, also when a live
// change runs them again.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "journal_reasons.h"
#include "qvResultSort.h"
#include "qvScanHelper.h"
#include "qvStatxBatch.h"
#include "search_helpers.h"

using namespace qvsearchtest;
using Calls = std::vector<std::string>;
using Names = std::vector<std::string>;

namespace {

IQvSearchResults* Results(IQvSearch* engine) {
  return static_cast<IQvSearchResults*>(engine->QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION));
}

void ApplyCreate(qvKearchImpl* engine, uint64_t ref, uint64_t parent, const std::u16string& name, bool folder = false) {
  JournalRecord r{kCreate, folder ? QV_ATTR_DIRECTORY : QV_ATTR_NORMAL, ref, parent, name.data(),
                  static_cast<uint32_t>(name.size())};
  std::lock_guard<std::mutex> g(engine->lock);
  engine->ApplyJournalLocked(0, &r, 1);
}

// --- categories whose extensions the index partly lacks ----------------------

TEST(CategorySearch, ExtensionsMissingFromTheIndexAddNothingAndTakeNothing) {
  SearchEngine s(FlatEntries({u"jpgs"}, {u"z.jpg", u"m.qgif", u"a.jpg", u"c.txt"}));
  s.TakeListCalls();
  // The middle extension is unknown to the index.
  s.Search(u"*?", u"jpg", 1);
  s.Search(u"*?", u"qpng", 0);
  s.Search(u"*?", u"qgif", 0);
  EXPECT_EQ(s.Names(), (Names{"a.jpg", "z.jpg", "m.qgif"}));
  EXPECT_EQ(s.TakeListCalls(), (Calls{"count 2", "count 2", "count 3"}));
  // So is the first: its call starts an empty result, the others fill it.
  s.Search(u"*?", u"qpng", 1);
  s.Search(u"*?", u"jpg", 0);
  s.Search(u"*?", u"qbmp", 0);
  EXPECT_EQ(s.Names(), (Names{"a.jpg", "z.jpg"}));
  EXPECT_EQ(s.TakeListCalls(), (Calls{"count 0", "redraw", "count 2", "count 2"}));
  // A new search with only unknown extensions still shows nothing.
  s.Search(u"*?", u"qpng", 1);
  EXPECT_EQ(s.RowCount(), 0);
}

TEST(CategorySearch, LiveChangeRebuildsTheWholeCategory) {
  SearchEngine s({E::Folder(16, 5, u"pics"), E::File(17, 16, u"b.jpg"), E::File(18, 16, u"c.png"),
                  E::File(19, 16, u"d.gif"), E::File(20, 16, u"notes.txt")});
  s.Search(u"*?", u"jpg", 1);
  s.Search(u"*?", u"png", 0);
  s.Search(u"*?", u"gif", 0);
  ASSERT_EQ(s.Names(), (Names{"b.jpg", "c.png", "d.gif"}));
  s.TakeListCalls();
  ApplyCreate(s.engine, 30, 16, u"a.png");
  // The union again, extension by extension, the new file in its block and
  // nothing twice; the list hears of it once.
  EXPECT_EQ(s.Names(), (Names{"b.jpg", "a.png", "c.png", "d.gif"}));
  EXPECT_EQ(s.TakeListCalls(), (Calls{"count 4"}));
  ApplyCreate(s.engine, 31, 16, u"e.gif");
  EXPECT_EQ(s.Names(), (Names{"b.jpg", "a.png", "c.png", "d.gif", "e.gif"}));
  // A typed search after it is rebuilt as the one call it is.
  s.Search(u"png");
  ApplyCreate(s.engine, 32, 16, u"png-list.txt");
  EXPECT_EQ(s.Names(), (Names{"png-list.txt"}));
}

// --- sorting by name and path ----------------------------------------------

// /b/ holds y.txt and a.doc, /a/ holds z.txt and B.txt; the folders a, b and
// "a b"; the store order is by name.
std::vector<E::Entry> TwoFolders() {
  return {E::Folder(16, 5, u"b"),         E::Folder(17, 5, u"a"),         E::Folder(18, 5, u"a b"),
          E::File(20, 16, u"y.txt"),      E::File(21, 16, u"a.doc"),      E::File(22, 17, u"z.txt"),
          E::File(23, 17, u"B.txt"),      E::File(24, 18, u"c.txt"),      E::File(25, 16, u"报告.txt"),
          E::File(26, 17, u"阿.txt")};
}

TEST(ResultSort, ByNameAndPathFoldersFirstEitherWay) {
  SearchEngine s(TwoFolders());
  IQvSearchResults* results = Results(s.engine);
  ASSERT_NE(results, nullptr);
  // A category: the store order is extension by extension.
  s.Search(u"*?", u"txt", 1);
  s.Search(u"*?", u"doc", 0);
  Names store = s.Names();
  ASSERT_EQ(store.back(), "a.doc");
  uint64_t before = results->GetAnswer(nullptr, nullptr);
  EXPECT_EQ(results->SortResults(QV_SORT_NAME, 0), 7);
  EXPECT_NE(results->GetAnswer(nullptr, nullptr), before);
  // ASCII without case, then ideographs by their reading (a before b).
  EXPECT_EQ(s.Names(), (Names{"a.doc", "B.txt", "c.txt", "y.txt", "z.txt", "阿.txt", "报告.txt"}));
  results->SortResults(QV_SORT_NAME, 1);
  EXPECT_EQ(s.Names(), (Names{"报告.txt", "阿.txt", "z.txt", "y.txt", "c.txt", "B.txt", "a.doc"}));

  // By folder, name by name: /a/ before /a b/ before /b/.
  results->SortResults(QV_SORT_PATH, 0);
  EXPECT_EQ(s.Rows(), (Names{"/a/|B.txt", "/a/|z.txt", "/a/|阿.txt", "/a b/|c.txt", "/b/|a.doc", "/b/|y.txt",
                             "/b/|报告.txt"}));
  results->SortResults(QV_SORT_PATH, 1);
  EXPECT_EQ(s.Rows().front(), "/b/|报告.txt");
  EXPECT_EQ(s.Rows().back(), "/a/|B.txt");

  // Folders stay first.
  s.Search(u"*?");
  results->SortResults(QV_SORT_NAME, 1);
  Names all = s.Names();
  EXPECT_EQ(Names(all.begin(), all.begin() + 3), (Names{"b", "a b", "a"}));
  EXPECT_EQ(all[3], "报告.txt");

  // The store order comes back.
  s.Search(u"*?", u"txt", 1);
  s.Search(u"*?", u"doc", 0);
  results->SortResults(QV_SORT_NAME, 0);
  results->SortResults(QV_SORT_STORE, 0);
  EXPECT_EQ(s.Names(), store);
  EXPECT_EQ(results->SortResults(99, 0), -1);
  EXPECT_EQ(results->SortResults(-1, 0), -1);
}

TEST(ResultSort, TheChosenOrderOutlivesSearchesAndLiveChanges) {
  SearchEngine s(TwoFolders());
  IQvSearchResults* results = Results(s.engine);
  s.Search(u"txt");
  results->SortResults(QV_SORT_NAME, 1);
  s.Search(u"*?", u"txt", 1);
  EXPECT_EQ(s.Names(), (Names{"报告.txt", "阿.txt", "z.txt", "y.txt", "c.txt", "B.txt"}));
  ApplyCreate(s.engine, 40, 16, u"m.txt");
  EXPECT_EQ(s.Names(), (Names{"报告.txt", "阿.txt", "z.txt", "y.txt", "m.txt", "c.txt", "B.txt"}));
  s.Search(u"*?", u"doc", 0);  // an added call is put in order too
  EXPECT_EQ(s.Names().back(), "a.doc");
}

// --- sorting by what the disk says -------------------------------------------

// A real folder whose files have the given sizes and times, indexed
// through an entry stream rooted at it.
class FactSortTest : public ::testing::Test {
 protected:
  struct Sample {
    const char* name;
    off_t size;
    time_t mtime;
    time_t atime;
  };

  void SetUp() override {
    char pattern[] = "/tmp/qv-sort-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    const Sample samples[] = {{"big.bin", 9000, 1000, 7000},  {"empty.bin", 0, 5000, 1000}, {"mid.bin", 500, 3000, 2000},
                          {".hid.bin", 500, 2000, 9000}, {"tiny.bin", 1, 4000, 3000}, {"same.bin", 500, 3000, 4000}};
    std::vector<E::Entry> entries = {E::Folder(16, 5, u"sub")};
    uint64_t ref = 20;
    for (const Sample& sample : samples) {
      std::string path = root_ + "/" + sample.name;
      int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(ftruncate(fd, sample.size), 0);
      close(fd);
      struct timespec times[2] = {{sample.atime, 0}, {sample.mtime, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
      entries.push_back(E::File(ref++, 5, qvNameCodec::DecodeToString(sample.name)));
    }
    std::filesystem::create_directory(root_ + "/sub");
    mkfifo((root_ + "/sub/pipe.bin").c_str(), 0644);
    entries.push_back(E::File(ref++, 16, u"pipe.bin"));
    s_ = std::make_unique<SearchEngine>(std::move(entries), root_ + "/");
    results_ = Results(s_->engine);
  }
  void TearDown() override {
    s_.reset();
    std::filesystem::remove_all(root_);
  }

  // Every file of the tree, no folders.
  void SearchFiles() { s_->Search(u"*?", u"bin", 1); }

  // The key of each row as stat tells it, in row order.
  std::vector<uint64_t> Keys(int column) {
    std::vector<uint64_t> keys;
    for (const std::string& row : s_->Rows()) {
      std::string path = row.substr(0, row.find('|')) + row.substr(row.find('|') + 1);
      struct stat st;
      EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
      std::string name = row.substr(row.find('|') + 1);
      switch (column) {
        case QV_SORT_SIZE: keys.push_back(static_cast<uint64_t>(st.st_size)); break;
        case QV_SORT_MODIFIED: keys.push_back(static_cast<uint64_t>(st.st_mtime)); break;
        case QV_SORT_ACCESSED: keys.push_back(static_cast<uint64_t>(st.st_atime)); break;
        case QV_SORT_ATTRIBUTES:
          keys.push_back((name[0] == '.' ? 2u : 0u) | (S_ISFIFO(st.st_mode) ? 4u : 0u));
          break;
        default: ADD_FAILURE();
      }
    }
    return keys;
  }

  std::string root_;
  std::unique_ptr<SearchEngine> s_;
  IQvSearchResults* results_ = nullptr;
};

TEST_F(FactSortTest, SizeTimesAndAttributesEitherWay) {
  SearchFiles();
  ASSERT_EQ(s_->RowCount(), 7);
  for (int column : {QV_SORT_SIZE, QV_SORT_MODIFIED, QV_SORT_ACCESSED, QV_SORT_ATTRIBUTES}) {
    SCOPED_TRACE(column);
    EXPECT_EQ(results_->SortResults(column, 0), 7);
    std::vector<uint64_t> up = Keys(column);
    EXPECT_TRUE(std::is_sorted(up.begin(), up.end()));
    EXPECT_EQ(results_->SortResults(column, 1), 7);
    std::vector<uint64_t> down = Keys(column);
    EXPECT_TRUE(std::is_sorted(down.rbegin(), down.rend()));
  }
  // Equal sizes keep the search's order.
  SearchFiles();
  Names expected = s_->Names();
  const std::map<std::string, int> sizes = {{"empty.bin", 0}, {"pipe.bin", 0}, {"tiny.bin", 1}, {".hid.bin", 500},
                                            {"mid.bin", 500},  {"same.bin", 500}, {"big.bin", 9000}};
  std::stable_sort(expected.begin(), expected.end(),
                   [&](const std::string& a, const std::string& b) { return sizes.at(a) < sizes.at(b); });
  results_->SortResults(QV_SORT_SIZE, 0);
  EXPECT_EQ(s_->Names(), expected);
  // The special file is the system one, the dot file the hidden one.
  results_->SortResults(QV_SORT_ATTRIBUTES, 1);
  EXPECT_EQ(s_->Names().front(), "pipe.bin");
  EXPECT_EQ(s_->Names()[1], ".hid.bin");
  // Folders stay before files, in their own order.
  s_->Search(u"*?");
  results_->SortResults(QV_SORT_SIZE, 1);
  ASSERT_EQ(s_->engine->GetFolderResultCount(), 2);
  EXPECT_EQ(s_->Names()[1], "sub");
  EXPECT_EQ(s_->Names()[2], "big.bin");
}

TEST_F(FactSortTest, FactsAreKeptAndNewRowsWaitAtTheEndUntilRead) {
  SearchFiles();
  results_->SortResults(QV_SORT_SIZE, 1);
  ASSERT_EQ(s_->Names().front(), "big.bin");
  // A file appears: the re-run keeps the order, the new row waits at the
  // end until its size is read.
  {
    std::ofstream(root_ + "/huge.bin") << std::string(20000, 'x');
  }
  ApplyCreate(s_->engine, 90, 5, u"huge.bin");
  Names names = s_->Names();
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(names.front(), "big.bin");
  EXPECT_EQ(names.back(), "huge.bin");
  results_->SortResults(QV_SORT_SIZE, 1);
  EXPECT_EQ(s_->Names().front(), "huge.bin");
  // The sizes already read are kept for this result: a file that grows
  // keeps its place until a new search.
  {
    std::ofstream(root_ + "/tiny.bin") << std::string(50000, 'x');
  }
  results_->SortResults(QV_SORT_SIZE, 1);
  EXPECT_EQ(s_->Names().front(), "huge.bin");
  SearchFiles();
  results_->SortResults(QV_SORT_SIZE, 1);
  EXPECT_EQ(s_->Names().front(), "tiny.bin");
}

// --- sorting by creation time -------------------------------------------------

struct statx StatxOf(const std::string& path) {
  struct statx st {};
  EXPECT_EQ(statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &st), 0) << path;
  return st;
}

bool Later(const struct statx_timestamp& a, const struct statx_timestamp& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// File times come from a coarse clock: files made one after another often
// share one. Touches `probe` until the clock has moved past `after`.
void WaitForTheClockPast(const std::string& probe, const struct statx_timestamp& after) {
  int fd = open(probe.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  struct statx st {};
  do {
    ASSERT_EQ(futimens(fd, nullptr), 0);
    ASSERT_EQ(statx(fd, "", AT_EMPTY_PATH, STATX_MTIME, &st), 0);
  } while (!Later(st.stx_mtime, after));
  close(fd);
}

// Files born in one order and changed (ctime) in the opposite one, so that
// an order by the change time cannot pass for the order by birth.
TEST(CreatedSort, FollowsTheBirthTimesStatxGives) {
  char pattern[] = "/tmp/qv-born-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  const std::string probe = std::string(pattern) + "-probe";
  const Names born = {"m.txt", "c.txt", "x.txt", "a.txt"};
  std::vector<E::Entry> entries;
  uint64_t ref = 20;
  for (const std::string& name : born) {
    int fd = open((root + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    entries.push_back(E::File(ref++, 5, qvNameCodec::DecodeToString(name)));
    WaitForTheClockPast(probe, StatxOf(root + "/" + name).stx_btime);
  }
  if (!(StatxOf(root + "/" + born[0]).stx_mask & STATX_BTIME)) {
    std::filesystem::remove_all(root);
    std::filesystem::remove(probe);
    GTEST_SKIP() << "the file system under /tmp keeps no birth times";
  }
  for (auto name = born.rbegin(); name != born.rend(); ++name) {
    ASSERT_EQ(chmod((root + "/" + *name).c_str(), 0600), 0);
    WaitForTheClockPast(probe, StatxOf(root + "/" + *name).stx_ctime);
  }
  {
    SearchEngine s(std::move(entries), root + "/");
    IQvSearchResults* results = Results(s.engine);
    s.Search(u"*?", u"txt", 1);
    ASSERT_EQ(s.RowCount(), 4);

    auto byTime = [&](bool birth) {
      Names order = s.Names();
      std::stable_sort(order.begin(), order.end(), [&](const std::string& a, const std::string& b) {
        struct statx x = StatxOf(root + "/" + a), y = StatxOf(root + "/" + b);
        return birth ? Later(y.stx_btime, x.stx_btime) : Later(y.stx_ctime, x.stx_ctime);
      });
      return order;
    };
    Names expected = byTime(true);
    ASSERT_NE(expected, byTime(false));
    EXPECT_EQ(expected, born);

    EXPECT_EQ(results->SortResults(QV_SORT_CREATED, 0), 4);
    EXPECT_EQ(s.Names(), expected);
    results->SortResults(QV_SORT_CREATED, 1);
    EXPECT_EQ(s.Names(), Names(expected.rbegin(), expected.rend()));
  }
  std::filesystem::remove_all(root);
  std::filesystem::remove(probe);
}

// --- the batched reader -------------------------------------------------------

TEST(StatxBatch, AnswersAsStatxDoesForMoreNamesThanItsDepth) {
  qvStatxBatch batch(8);
  if (!batch.Ready()) GTEST_SKIP() << "no io_uring here (old kernel, switched off or forbidden by a sandbox)";
  char pattern[] = "/tmp/qv-statx-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  int dir = open(pattern, O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  constexpr int kFiles = 100;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    names.push_back("f" + std::to_string(i));
    std::ofstream(root + "/" + names.back()).flush();
    ASSERT_EQ(truncate((root + "/" + names.back()).c_str(), i * 3), 0);
  }
  names.push_back("missing");
  std::string whole = root + "/f7";
  std::vector<struct statx> out(names.size() + 1);
  std::vector<qvStatxItem> items;
  for (size_t i = 0; i < names.size(); ++i) items.push_back({dir, names[i].c_str(), &out[i]});
  items.push_back({AT_FDCWD, whole.c_str(), &out[names.size()]});

  batch.Run(items.data(), items.size(), STATX_SIZE | STATX_MTIME, AT_SYMLINK_NOFOLLOW);
  for (int i = 0; i < kFiles; ++i) {
    struct statx st {};
    ASSERT_EQ(statx(dir, names[i].c_str(), AT_SYMLINK_NOFOLLOW, STATX_SIZE | STATX_MTIME, &st), 0);
    ASSERT_EQ(items[i].result, 0) << names[i];
    EXPECT_EQ(out[i].stx_size, st.stx_size) << names[i];
    EXPECT_EQ(out[i].stx_mtime.tv_nsec, st.stx_mtime.tv_nsec) << names[i];
  }
  EXPECT_EQ(items[kFiles].result, -ENOENT);
  EXPECT_EQ(items.back().result, 0);
  EXPECT_EQ(out.back().stx_size, 21u);
  // The ring serves again.
  items[0].result = qvStatxItem::kNotRead;
  batch.Run(items.data(), 1, STATX_SIZE, 0);
  EXPECT_EQ(items[0].result, 0);
  close(dir);
  std::filesystem::remove_all(root);
}

// Containers often forbid io_uring: the rows are then read with statx.
// The child process below is refused the ring by a seccomp filter.
TEST(StatxBatch, WithoutARingTheRowsAreReadAllTheSame) {
  char pattern[] = "/tmp/qv-noring-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  std::vector<qvFactRequest> requests;
  for (int i = 0; i < 1500; ++i) {
    std::string path = root + "/f" + std::to_string(i);
    std::ofstream(path).flush();
    ASSERT_EQ(truncate(path.c_str(), i), 0);
    requests.push_back({nullptr, false, qvNameCodec::DecodeToString(path)});
  }
  requests.push_back({nullptr, false, qvNameCodec::DecodeToString(root + "/missing")});
  std::vector<qvItemFacts> withRing = qvResultSort::ReadFacts(requests, 2);

  // The child starts threads: no other thread may run here when it forks.
  qvScanHelper::Get().Stop();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct sock_filter refuseRing[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(std::size(refuseRing)), refuseRing};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(2);
    if (qvStatxBatch(8).Ready()) _exit(3);
    std::vector<qvItemFacts> facts = qvResultSort::ReadFacts(requests, 2);
    for (size_t i = 0; i + 1 < requests.size(); ++i)
      if (facts[i].size != i || facts[i].modified == 0 || facts[i].modified != withRing[i].modified) _exit(4);
    _exit(facts.back().modified == 0 ? 0 : 5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no filter, 3: the ring was had, 4: a wrong fact, 5: a missing file read";
  for (size_t i = 0; i + 1 < requests.size(); ++i) ASSERT_EQ(withRing[i].size, i);
  EXPECT_EQ(withRing.back().modified, 0u);
  std::filesystem::remove_all(root);
}

TEST(ScanProgress, EntriesReadAreCounted) {
  SearchEngine s(FlatEntries({u"a", u"b"}, {u"x.txt", u"y.txt", u"z.txt"}));
  auto* config = static_cast<IQvSearchConfig*>(s.engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  EXPECT_EQ(config->QueryValue("scan_entries"), 5);
  EXPECT_EQ(config->QueryValue("scan_volume"), 0);
}

TEST(ResultSort, FactsAreReadOnSeveralThreadsInRowOrder) {
  std::vector<qvFactRequest> requests;
  for (int i = 0; i < 1000; ++i)
    requests.push_back({nullptr, false, i % 2 ? u"/nonexistent-qv/x" : u"/proc/self/.exe-not-there"});
  requests.push_back({nullptr, true, u"/"});
  std::vector<qvItemFacts> facts = qvResultSort::ReadFacts(requests, 4);
  ASSERT_EQ(facts.size(), requests.size());
  EXPECT_EQ(facts[0].modified, 0u);
  EXPECT_EQ(facts[0].attributes, 2u);  // hidden by its name, even unread
  EXPECT_EQ(facts[1].attributes, 0u);
  EXPECT_GT(facts.back().modified, 0u);
  EXPECT_EQ(facts.back().size, 0u);  // folders have no size
}

}  // namespace
