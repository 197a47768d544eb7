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

std::set<std::string> OnDisk(const std::string& root) {
  std::set<std::string> all = {root};
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    all.insert(it->path().string());
  return all;
}

TEST(QvsearchWatch, AnswersStayWholeWhileFoldersComeAndGo) {
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("keep"));
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(tree.File("keep/k" + std::to_string(i)));
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

  // Folders of 300 files made and deleted, the answer changing under the
  // reader all the while.
  for (int round = 0; round < 8; ++round) {
    std::string dir = "burst" + std::to_string(round);
    ASSERT_TRUE(tree.Dir(dir));
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(tree.File(dir + "/f" + std::to_string(i)));
    if (round % 2 == 0) fs::remove_all(root + "/" + dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  const std::set<std::string> want = OnDisk(root);
  bool settled = false;
  for (int i = 0; i < 1000 && !settled; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto answers = Answers(Slurp(out));
    // The last whole answer is the one before the trailing (unfinished) one.
    for (auto a = answers.rbegin(); a != answers.rend(); ++a) {
      if (a->empty()) continue;
      settled = std::set<std::string>(a->begin(), a->end()) == want;
      break;
    }
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(err);

  auto answers = Answers(Slurp(out));
  ASSERT_GE(answers.size(), 2u) << "no change was printed";
  for (size_t a = 0; a < answers.size(); ++a) {
    std::set<std::string> seen;
    for (const std::string& row : answers[a]) {
      EXPECT_TRUE(row == root || row.rfind(root + "/", 0) == 0) << "answer " << a << ": outside the root: " << row;
      EXPECT_TRUE(seen.insert(row).second) << "answer " << a << ": twice: " << row;
    }
  }
  EXPECT_TRUE(settled) << "the last answer is not what the disk holds";
  fs::remove(out);
  fs::remove(err);
}

}  // namespace
