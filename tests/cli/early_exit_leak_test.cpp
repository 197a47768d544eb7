// qvsearch's early exits (a data folder below a file, an unknown option,
// --offline without a saved index, a regular expression that does not
// compile) must release the engine as a normal end does. LeakSanitizer in
// the address-sanitizer build of the real program is the judge; a normal
// build has no such judge and skips.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform_test_util.h"
#include "qvsearch_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define QV_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_TEST_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

#ifdef QV_TEST_ADDRESS_SANITIZER
struct Outcome {
  int status = -1;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Leak checking forced on, whatever the caller's environment says; a leak
// ends the process with status 23.
void ForceLeakChecks() {
  setenv("ASAN_OPTIONS", "detect_leaks=1", 1);
  setenv("LSAN_OPTIONS", "exitcode=23", 1);
}

// Runs the real qvsearch with the arguments; its standard error is kept.
Outcome Qvsearch(const std::vector<std::string>& args, const std::string& errFile, const std::string& runtimeDir) {
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stdout) || !freopen(errFile.c_str(), "w", stderr)) _exit(127);
    ForceLeakChecks();
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);  // no service of the user's is asked
    ExecQvsearch(args);
  }
  Outcome r;
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = Slurp(errFile);
  return r;
}

void* volatile lostBlock;
#endif

TEST(QvsearchEarlyExits, ReleaseTheEngine) {
#ifndef QV_TEST_ADDRESS_SANITIZER
  GTEST_SKIP() << "needs the address-sanitizer build (-DQV_SANITIZE=address): LeakSanitizer checks the real qvsearch";
#else
  qvtest::TempTree tree;
  const std::string root = tree.Path();
  ASSERT_TRUE(tree.Dir("docs"));
  ASSERT_TRUE(tree.File("docs/report.txt"));
  ASSERT_TRUE(tree.File("a-file"));
  ASSERT_TRUE(tree.Dir("data"));
  ASSERT_TRUE(tree.Dir("run"));
  const std::string data = root + "/data", err = root + "-leak.err", run = root + "/run";

  // The judge works here: a child of this (sanitized) test that loses a
  // block is caught.
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(err.c_str(), "w", stderr)) _exit(127);
    lostBlock = std::malloc(64);
    lostBlock = nullptr;
    std::exit(0);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0 && Slurp(err).find("LeakSanitizer") != std::string::npos)
      << "LeakSanitizer does not report leaks in this environment: " << Slurp(err);

  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
  };
  const std::vector<Case> cases = {
      {"a data folder below a file", {"--root", root, "--data", root + "/a-file/sub", "--no-service", "report"}, 0},
      {"a data folder below a file, offline",
       {"--root", root, "--data", root + "/a-file/sub", "--offline", "report"},
       2},
      {"an unknown option", {"--root", root, "--data", data, "--no-such-option", "report"}, 2},
      {"--offline without a saved index", {"--root", root, "--data", data, "--offline", "report"}, 2},
      {"a regular expression that does not compile",
       {"--root", root, "--data", data, "--no-save", "--no-service", "--regex", "("},
       2},
  };
  for (const Case& c : cases) {
    Outcome r = Qvsearch(c.args, err, run);
    EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << c.what << ":\n" << r.err;
    EXPECT_EQ(r.status, c.status) << c.what << ":\n" << r.err;
  }
  std::remove(err.c_str());
#endif
}

}  // namespace
