// qvsearch --watch -0 over a tree where folders of files are made and
// deleted while it watches: every printed answer holds only real paths
// below the root, each once, and the last answer is what the disk holds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform_test_util.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The answers printed so far: rows end with NUL, an empty row parts two
// answers. Only whole answers count (the last one may be half written).
std::vector<std::vector<std::string>> Answers(const std::string& out) {
  std::vector<std::vector<std::string>> answers(1);
  size_t start = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '\0') continue;
    std::string row = out.substr(start, i - start);
    start = i + 1;
    if (row.empty()) answers.emplace_back();
    else answers.back().push_back(row);
  }
  return answers;
}

// The rows of the last answer printed so far (it may be half written).
// Only what came after the last parting seen is read again.
class LastAnswer {
 public:
  explicit LastAnswer(std::string path) : path_(std::move(path)) {}

  std::set<std::string> Rows() {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from_));
    std::string tail(std::istreambuf_iterator<char>(in), (std::istreambuf_iterator<char>()));
    // An empty row (two NULs in a row) parts two answers.
    size_t parting = tail.rfind(std::string(2, '\0'));
    if (parting != std::string::npos) {
      tail.erase(0, parting + 2);
      from_ += parting + 2;
    }
    std::set<std::string> rows;
    for (size_t start = 0, end; (end = tail.find('\0', start)) != std::string::npos; start = end + 1)
      rows.insert(tail.substr(start, end - start));
    return rows;
  }

 private:
  std::string path_;
  size_t from_ = 0;
};

std::set<std::string> OnDisk(const std::string& root) {
  std::set<std::string> all = {root};
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    all.insert(it->path().string());
  return all;
}

TEST(QvsearchWatch, AnswersStayWholeWhileFoldersComeAndGo) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  // A long answer: reading it takes long enough for changes to land
  // while it is read.
  ASSERT_TRUE(tree.Dir("keep"));
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(tree.File("keep/k" + std::to_string(i)));
  const std::string out = root + "-watch.out", err = root + "-watch.err";
  pid_t pid = fork();
  if (pid == 0) {
    freopen(out.c_str(), "w", stdout);
    freopen(err.c_str(), "w", stderr);
    std::string exe = std::string(QV_APP_DIR) + "qvsearch";
    execl(exe.c_str(), exe.c_str(), "--root", root.c_str(), "--no-save", "--no-service", "--watch", "-0",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 1000 && Slurp(out).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  // Folders of 3,000 files made and deleted, the answer growing and
  // shrinking under the reader all the while.
  for (int round = 0; round < 10; ++round) {
    std::string dir = "burst" + std::to_string(round);
    ASSERT_TRUE(tree.Dir(dir));
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(tree.File(dir + "/f" + std::to_string(i)));
    if (round % 3 != 2) fs::remove_all(root + "/" + dir);
  }
  const std::set<std::string> want = OnDisk(root);
  bool settled = false;
  LastAnswer last(out);
  for (int i = 0; i < 1000 && !settled; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    settled = last.Rows() == want;
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(err);

  auto answers = Answers(Slurp(out));
  ASSERT_GE(answers.size(), 2u) << "no change was printed";
  size_t outside = 0, twice = 0, torn = 0;
  std::string first;
  for (size_t a = 0; a < answers.size(); ++a) {
    std::set<std::string> seen;
    size_t bad = 0;
    for (const std::string& row : answers[a]) {
      bool in = row == root || row.rfind(root + "/", 0) == 0, once = seen.insert(row).second;
      outside += in ? 0 : 1;
      twice += once ? 0 : 1;
      if (in && once) continue;
      if (first.empty()) first = "answer " + std::to_string(a) + (in ? ": twice: " : ": outside the root: ") + row;
      ++bad;
    }
    torn += bad ? 1 : 0;
  }
  EXPECT_EQ(outside + twice, 0u) << torn << " of " << answers.size() << " answers torn: " << outside
                                 << " rows outside the root, " << twice << " twice; the first: " << first;
  EXPECT_TRUE(settled) << "the last answer is not what the disk holds";
  fs::remove(out);
  fs::remove(err);
}

}  // namespace
