// qvsearch over real trees and real data folders whose saved files are
// damaged, special, mismatched, or whose save is killed or runs out of
// disk: every start answers or says why, and never from a wrong index.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform_test_util.h"
#include "qvsearch_run.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int exitCode = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Starts qvsearch with output to files; returns its pid.
pid_t Start(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
  pid_t pid = fork();
  if (pid == 0) {
    freopen(outPath.c_str(), "w", stdout);
    freopen(errPath.c_str(), "w", stderr);
    ExecQvsearch(args);
  }
  return pid;
}

// Runs it to the end. A run still going after a minute has hung: it is
// killed and reported as such.
Outcome Qvsearch(const std::vector<std::string>& args) {
  std::string base = fs::temp_directory_path() / ("qvdb-cli-" + std::to_string(getpid()));
  pid_t pid = Start(args, base + ".out", base + ".err");
  Outcome r;
  int st = 0;
  for (int waited = 0; waitpid(pid, &st, WNOHANG) == 0; ++waited) {
    if (waited == 6000) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      r.err = "hung";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  r.exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
  r.out = Slurp(base + ".out");
  r.err += Slurp(base + ".err");
  fs::remove(base + ".out");
  fs::remove(base + ".err");
  return r;
}

class DataFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree.Dir("tmp"));
    ASSERT_TRUE(tree.File("tmp/a.txt"));
    ASSERT_TRUE(tree.File("tmp/c.JPG"));
    ASSERT_TRUE(tree.File("g.JPG"));
    data = tree.Path() + "-data";
  }
  void TearDown() override { fs::remove_all(data); }

  Outcome Save() { return Qvsearch({"--root", tree.Path(), "--data", data, "--count"}); }
  Outcome Offline(const std::string& term) {
    return Qvsearch({"--root", tree.Path(), "--data", data, "--offline", term});
  }
  std::string In(const std::string& name) const { return data + "/" + name; }

  qvtest::TempTree tree;
  std::string data;
};

}  // namespace

TEST_F(DataFolder, UnreadableExtCaseFileIsAReasonNotACrash) {
  ASSERT_EQ(Save().exitCode, 0);
  // The temporary root's random name may hold a "g" too.
  ASSERT_NE(Offline("g").out.find(tree.Path() + "/g.JPG\n"), std::string::npos);
  fs::remove(In("extcase.db"));
  fs::create_directory(In("extcase.db"));
  Outcome r = Offline("g");
  EXPECT_EQ(r.signal, 0) << r.err;
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("extcase.db"), std::string::npos) << r.err;
  // A normal run scans afresh; it cannot replace the folder and says so.
  Outcome again = Save();
  EXPECT_EQ(again.signal, 0);
  EXPECT_NE(again.err.find(":" + std::to_string(EPERM)), std::string::npos) << again.err;
}

TEST_F(DataFolder, SpecialFilesDoNotBlockOrGrow) {
  for (const char* name : {"ntfsqs.db", "ext.db", "extcase.db"}) {
    ASSERT_EQ(Save().exitCode, 0);
    fs::remove(In(name));
    ASSERT_EQ(mkfifo(In(name).c_str(), 0600), 0);
    Outcome fifo = Offline("a");
    EXPECT_NE(fifo.err, "hung") << name;
    EXPECT_EQ(fifo.exitCode, 2) << name << fifo.err;
    fs::remove(In(name));
    fs::create_symlink("/dev/zero", In(name));
    Outcome zero = Offline("a");
    EXPECT_EQ(zero.exitCode, 2) << name << zero.err;
    fs::remove(In(name));
  }
  ASSERT_EQ(Save().exitCode, 0);
  ASSERT_EQ(truncate(In("extcase.db").c_str(), off_t{2} << 30), 0);  // sparse
  Outcome sparse = Offline("a");
  EXPECT_EQ(sparse.exitCode, 2);
  EXPECT_NE(sparse.err.find(":" + std::to_string(EFBIG)), std::string::npos) << sparse.err;
}

TEST_F(DataFolder, IndexOfAnotherSaveIsRefused) {
  ASSERT_EQ(Save().exitCode, 0);
  std::string first = Slurp(In("ntfsqs.db"));
  // Extensions seen earlier in the walk take the low ids in the later save.
  ASSERT_TRUE(tree.File("0.pdf"));
  ASSERT_TRUE(tree.File("1.zip"));
  ASSERT_EQ(Save().exitCode, 0);
  std::ofstream(In("ntfsqs.db"), std::ios::binary | std::ios::trunc) << first;
  Outcome r = Offline("a");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("seal.db"), std::string::npos) << r.err;
}

TEST_F(DataFolder, ChangedBytesNeverChangeTheAnswers) {
  ASSERT_EQ(Save().exitCode, 0);
  const std::string want = Offline("*?").out;
  ASSERT_NE(want.find("/tmp/c.JPG"), std::string::npos);
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    const char* name = round % 2 ? "ntfsqs.db" : (round % 4 ? "ext.db" : "extcase.db");
    std::string original = Slurp(In(name)), bytes = original;
    bytes[rng() % bytes.size()] ^= static_cast<char>(1 << (rng() % 8));
    std::ofstream(In(name), std::ios::binary | std::ios::trunc) << bytes;
    Outcome r = Offline("*?");
    EXPECT_EQ(r.exitCode, 2) << name << " round " << round;
    EXPECT_EQ(r.out, "") << name;
    std::ofstream(In(name), std::ios::binary | std::ios::trunc) << original;
  }
  EXPECT_EQ(Offline("*?").out, want);
}

TEST_F(DataFolder, ZeroLengthIndexSaysItIsTooShort) {
  ASSERT_EQ(Save().exitCode, 0);
  std::ofstream(In("ntfsqs.db"), std::ios::trunc);
  Outcome r = Offline("a");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("获取文件大小失败:" + std::to_string(ENODATA)), std::string::npos) << r.err;
}

// SIGKILL at random moments of runs that scan and save a bigger tree: the
// next start always loads a whole set, the old one or the new one.
TEST_F(DataFolder, KilledSavesLeaveAWholeSet) {
  ASSERT_TRUE(tree.Dir("many"));
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(tree.File("many/f" + std::to_string(i) + (i % 3 ? ".a" : ".B")));
  ASSERT_EQ(Save().exitCode, 0);
  auto count = [&] { return Qvsearch({"--root", tree.Path(), "--data", data, "--offline", "--count"}); };
  std::string before = count().out;
  // How long a saving run takes here (the quickest of three: a busy
  // machine only makes runs longer), to spread the kills over it.
  long long span = 0;
  for (int i = 0; i < 3; ++i) {
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Save().exitCode, 0);
    long long took =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    span = i == 0 ? took : std::min(span, took);
  }
  std::mt19937 rng(31);
  int killed = 0;
  for (int run = 0; run < 30; ++run) {
    std::string extra = "many/extra" + std::to_string(run) + ".Txt";
    ASSERT_TRUE(tree.File(extra));
    std::string after = std::to_string(std::stoi(before) + 1) + "\n";
    pid_t pid = Start({"--root", tree.Path(), "--data", data, "--count"}, "/dev/null", "/dev/null");
    std::this_thread::sleep_for(std::chrono::microseconds(span / 5 + rng() % (span * 7 / 10 + 1)));
    kill(pid, SIGKILL);
    int st = 0;
    waitpid(pid, &st, 0);
    killed += WIFSIGNALED(st);
    Outcome r = count();
    ASSERT_EQ(r.exitCode, 0) << "run " << run << ": " << r.err;
    EXPECT_TRUE(r.out == before || r.out == after) << r.out << " not " << before << " or " << after;
    before = r.out == after ? after : before;
    if (r.out != after) {
      ASSERT_EQ(Save().exitCode, 0);  // the next run starts from the new state
      before = after;
    }
  }
  // Most runs must really be cut short for the test to say anything.
  EXPECT_GE(killed, 10);
}

// A save onto a full file system: the old set stays and still answers.
TEST_F(DataFolder, FullDiskKeepsTheOldSet) {
  std::string mountPoint = tree.Path() + "-small";
  fs::create_directory(mountPoint);
  if (mount("qvdbtest", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0) {
    fs::remove(mountPoint);
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << strerror(errno) << "): needs root";
  }
  data = mountPoint + "/data";
  ASSERT_EQ(Save().exitCode, 0);
  ASSERT_NE(Offline("a").out.find(tree.Path() + "/tmp/a.txt\n"), std::string::npos);
  // Fill the disk, then index many more names than fit beside the old set.
  {
    std::ofstream filler(mountPoint + "/filler", std::ios::binary);
    std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  ASSERT_TRUE(tree.Dir("more"));
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(tree.File("more/" + std::string(100, 'n') + std::to_string(i)));
  Outcome full = Save();
  EXPECT_EQ(full.exitCode, 3) << "a save that failed must not end as a success";
  EXPECT_NE(full.err.find(":" + std::to_string(ENOSPC)), std::string::npos) << full.err;
  Outcome old = Offline("a");
  EXPECT_EQ(old.exitCode, 0) << old.err;
  EXPECT_NE(old.out.find(tree.Path() + "/tmp/a.txt\n"), std::string::npos);
  EXPECT_EQ(Offline("more").exitCode, 1);  // the old set: without the new names
  fs::remove(mountPoint + "/filler");
  ASSERT_EQ(Save().exitCode, 0);
  EXPECT_EQ(Offline("more").exitCode, 0);
  umount2(mountPoint.c_str(), MNT_DETACH);
  fs::remove(mountPoint);
}

// --offline for other folders than the saved index holds: the reason is the
// roots, not a missing index.
TEST_F(DataFolder, OfflineForOtherRootsSaysTheRootsDiffer) {
  ASSERT_EQ(Save().exitCode, 0);
  qvtest::TempTree other;
  ASSERT_TRUE(other.File("a-other.txt"));
  Outcome r = Qvsearch({"--root", other.Path(), "--data", data, "--offline", "a"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("the roots differ"), std::string::npos) << r.err;
  // No saved index at all is said as before.
  Outcome none = Qvsearch({"--root", other.Path(), "--data", data + "-none", "--offline", "a"});
  EXPECT_NE(none.err.find("no current saved index"), std::string::npos) << none.err;
}
