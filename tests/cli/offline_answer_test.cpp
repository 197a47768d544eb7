// qvsearch --offline over a real tree: the answer read in place equals,
// byte for byte, the answer of the whole saved index loaded the designed
// way (which --stats asks for, to measure it), in every mode and output
// form the terminal offers; a damaged saved file is refused with the
// loader's reason, never a wrong row or a crash.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform_test_util.h"
#include "qvsearch_run.h"

namespace fs = std::filesystem;

namespace {

RunResult Qvsearch(const std::vector<std::string>& args) { return RunQvsearch(args, true); }

class OfflineAnswer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(5);
    const std::vector<std::string> words = {"report", "Report", "notes", "src", "main", "报告", ".git", "data", "x"};
    const std::vector<std::string> exts = {"", ".pdf", ".PDF", ".txt", ".c", ".tar.gz"};
    std::vector<std::string> folders = {""};
    for (int i = 0; i < 300; ++i) {
      std::string name = words[rng() % words.size()] + std::to_string(rng() % 40);
      std::string at = folders[rng() % folders.size()];
      std::string rel = at.empty() ? name : at + "/" + name;
      if (rng() % 4 == 0) {
        if (tree.Dir(rel)) folders.push_back(rel);
      } else {
        tree.File(rel + exts[rng() % exts.size()]);
      }
    }
    data = tree.Path() + "-data";
    ASSERT_EQ(Qvsearch({"--root", tree.Path(), "--data", data, "--no-service", "--count", "x"}).status, 0);
  }
  void TearDown() override { fs::remove_all(data); }

  std::vector<std::string> Args(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--root", tree.Path(), "--data", data, "--offline"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // Each ask answered from the saved index as it is read, and from the
  // whole index loaded the designed way (which --stats asks for).
  void ExpectEachAsTheWholeLoad(const std::vector<std::vector<std::string>>& asks) {
    for (const auto& ask : asks) {
      std::string shown;
      for (const auto& a : ask) shown += a + " ";
      SCOPED_TRACE(shown);
      RunResult inPlace = Qvsearch(Args(ask));
      std::vector<std::string> designed = ask;
      designed.insert(designed.begin(), "--stats");
      RunResult whole = Qvsearch(Args(designed));
      EXPECT_EQ(inPlace.status, whole.status);
      EXPECT_EQ(inPlace.out, whole.out);
    }
  }

  qvtest::TempTree tree;
  std::string data;
};

TEST_F(OfflineAnswer, EqualsTheWholeIndexInEveryModeAndForm) {
  const std::vector<std::vector<std::string>> asks = {
      {"report"}, {"REPORT"}, {"report.pdf"}, {"*.pdf"}, {"rep?rt*"}, {"src/", "main"}, {"/main"}, {"bg"},
      {"--no-pinyin", "bg"}, {"报告"}, {"--case", "Report"}, {"--base-name", "pdf"}, {"--regex", "^rep.*\\.c$"},
      {"--regex", "src/.*main"}, {"--regex", "("}, {"--no-hidden", "git"}, {"--hidden", "git"},
      {"--ext", "pdf txt", "report"}, {"--ext", "pdf", "notes"}, {"--sort", "name", "report"},
      {"--sort", "path", "--reverse", "main"}, {"--sort", "size", "notes"}, {"--limit", "3", "report"},
      {"--count", "data"}, {"--json", "report"}, {"--long", "src"}, {"-0", "notes"}, {"zzzz"}, {"tar"}};
  ExpectEachAsTheWholeLoad(asks);
}

// Once the saved set has been left alone for a while, an answer read in
// place writes its trigram index, and the answers after it, read through
// that index, are still the whole index's in every mode and form.
TEST_F(OfflineAnswer, ThroughTheTrigramIndexEqualsTheWholeIndex) {
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // the set is settled
  ASSERT_EQ(Qvsearch(Args({"report"})).status, 0);
  ASSERT_TRUE(fs::exists(data + "/trigram.idx"));
  const std::vector<std::vector<std::string>> asks = {
      {"report"}, {"REPORT"}, {"report.pdf"}, {"*.pdf"}, {"rep?rt*"}, {"src/", "main"}, {"/main"}, {"baogao"},
      {"--no-pinyin", "bgao"}, {"--case", "Report"}, {"--regex", "^rep.*\\.c$"}, {"--no-hidden", "git"},
      {"--ext", "pdf txt", "report"}, {"--sort", "path", "--reverse", "main"}, {"--count", "data"},
      {"--json", "report"}, {"--long", "src"}, {"zzzz"}, {"tar"}, {"notes1"}};
  ExpectEachAsTheWholeLoad(asks);
}

// A saved index damaged in place, its size kept (a damaged disk, not a
// short write): in a name the query finds, in the header's save time, at
// random. The answer read in place is what the whole load says (its
// reason, exit 2), never a wrong row and never a crash.
TEST_F(OfflineAnswer, DamagedSavedIndexAnswersAsTheWholeLoad) {
  const std::string path = data + "/ntfsqs.db";
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(bytes.size(), 600u);
  std::vector<std::string> damages;
  size_t name = bytes.find("report", 500);
  ASSERT_NE(name, std::string::npos);
  damages.push_back(bytes);
  damages.back()[name + 3] = 'x';
  damages.push_back(bytes);
  damages.back()[36] ^= 1;  // the save time's year
  std::mt19937 rng(9);
  for (int i = 0; i < 8; ++i) {
    damages.push_back(bytes);
    for (int k = 0; k < 4; ++k) damages.back()[500 + rng() % (bytes.size() - 500)] = static_cast<char>(rng());
  }
  for (size_t i = 0; i < damages.size(); ++i) {
    SCOPED_TRACE("damage " + std::to_string(i));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damages[i];
    RunResult inPlace = Qvsearch(Args({"report"}));
    RunResult whole = Qvsearch(Args({"--stats", "report"}));
    EXPECT_EQ(inPlace.status, 2);
    EXPECT_EQ(inPlace.status, whole.status);
    EXPECT_EQ(inPlace.out, whole.out);
  }
  // Cut short: the size is not the sealed one, and the loader says why.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() / 2);
  EXPECT_EQ(Qvsearch(Args({"report"})).status, 2);
}

}  // namespace

namespace {

// An answer from the saved index is written out a megabyte at a time as it
// is read: a long one (over two megabytes, names of all lengths, some
// wide) comes out exactly as the answer read from the volumes, rendered
// whole.
TEST(OfflineStream, ALongAnswerEqualsTheOneReadFromTheVolumes) {
  qvtest::TempTree tree;
  const std::string data = tree.Path() + "-data";
  size_t expectedBytes = 0;
  for (int d = 0; d < 40; ++d) {
    const std::string dir = "folder_" + std::to_string(d) + std::string(static_cast<size_t>(d) * 3, 'd');
    ASSERT_TRUE(tree.Dir(dir));
    for (int f = 0; f < 400; ++f) {
      std::string name = "x_" + std::to_string(f) + std::string(static_cast<size_t>(f % 150), f % 7 ? 'n' : 'x');
      if (f % 11 == 0) name += "_报告";
      ASSERT_TRUE(tree.File(dir + "/" + name + ".txt"));
      expectedBytes += tree.Path().size() + dir.size() + name.size() + 7;
    }
  }
  ASSERT_GT(expectedBytes, size_t{2} << 20);
  RunResult read = RunQvsearch({"--root", tree.Path(), "--data", data, "--no-service", "x"}, true);
  ASSERT_EQ(read.status, 0);
  RunResult saved = RunQvsearch({"--root", tree.Path(), "--data", data, "--offline", "x"}, true);
  ASSERT_EQ(saved.status, 0);
  EXPECT_GT(saved.out.size(), size_t{2} << 20);
  EXPECT_EQ(saved.out, read.out);
  RunResult nul = RunQvsearch({"--root", tree.Path(), "--data", data, "--offline", "-0", "x"}, true);
  std::string lines = nul.out;
  for (char& c : lines)
    if (c == '\0') c = '\n';
  EXPECT_EQ(lines, read.out);
  fs::remove_all(data);
}

}  // namespace
