// The scans' second thread: a share it has not begun is taken back and
// never runs afterwards, a share it has begun is waited for, a second scan
// finds it busy, and a forked child neither uses nor waits for the
// parent's thread. Meant for the ThreadSanitizer build as much as for the
// plain one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "qvScanHelper.h"

namespace {

struct Counter {
  std::atomic<int> runs{0};
  static void Run(void* self) { static_cast<Counter*>(self)->runs.fetch_add(1); }
};

TEST(ScanHelper, ASettledShareRanOnceOrNever) {
  qvScanHelper helper;
  constexpr int kShares = 2000;
  std::unique_ptr<Counter[]> counters(new Counter[kShares]);
  std::vector<bool> tookIt(kShares);
  int ran = 0;
  for (int i = 0; i < kShares; ++i) {
    ASSERT_TRUE(helper.Offer(&Counter::Run, &counters[i]));
    // Sometimes the helper gets to it first, sometimes not.
    if (i % 2) std::this_thread::yield();
    tookIt[i] = helper.Settle();
    ran += tookIt[i];
  }
  // How many the helper took depends on the machine's load (none, when
  // its core is busy elsewhere throughout); each share must have run once
  // or never. A share taken back stays so: a helper that wakes late finds
  // nothing.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (int i = 0; i < kShares; ++i) EXPECT_EQ(counters[i].runs.load(), tookIt[i] ? 1 : 0) << i;
  std::printf("the helper ran %d of %d shares\n", ran, kShares);
}

struct Gate {
  std::atomic<bool> started{false}, release{false};
  static void Run(void* self) {
    Gate* g = static_cast<Gate*>(self);
    g->started = true;
    while (!g->release.load()) std::this_thread::yield();
  }
};

TEST(ScanHelper, ABegunShareIsWaitedForAndKeepsOthersOut) {
  qvScanHelper helper;
  Gate gate;
  ASSERT_TRUE(helper.Offer(&Gate::Run, &gate));
  while (!gate.started.load()) std::this_thread::yield();
  // Another scan meanwhile walks alone.
  Counter other;
  EXPECT_FALSE(helper.Offer(&Counter::Run, &other));
  std::atomic<bool> settled{false};
  std::thread owner([&] {
    EXPECT_TRUE(helper.Settle());
    settled = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(settled.load());  // still running: Settle waits
  gate.release = true;
  owner.join();
  EXPECT_TRUE(settled.load());
  // Free again: the next share runs once, or is taken back.
  ASSERT_TRUE(helper.Offer(&Counter::Run, &other));
  const bool ranOther = helper.Settle();
  EXPECT_EQ(other.runs.load(), ranOther ? 1 : 0);
}

TEST(ScanHelper, AStoppedHelperStartsAgainOnTheNextOffer) {
  qvScanHelper helper;
  helper.Stop();  // nothing started yet
  for (int round = 0; round < 3; ++round) {
    Gate gate;
    ASSERT_TRUE(helper.Offer(&Gate::Run, &gate));
    while (!gate.started.load()) std::this_thread::yield();
    gate.release = true;
    EXPECT_TRUE(helper.Settle());
    helper.Stop();
  }
}

TEST(ScanHelper, AForkedChildWalksAloneAndExitsWithoutWaiting) {
  qvScanHelper& helper = qvScanHelper::Get();
  Counter counter;
  ASSERT_TRUE(helper.Offer(&Counter::Run, &counter));
  helper.Settle();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The thread was not copied: no offer is taken, and the helper's
    // destructor (run at exit) must not wait for it. Other statics of
    // this test program may, so the child leaves by _exit.
    Counter inChild;
    const bool offered = helper.Offer(&Counter::Run, &inChild);
    helper.~qvScanHelper();
    _exit(offered ? 3 : 0);
  }
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 500 && done == 0; ++i) {
    done = waitpid(child, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the child hung at exit";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
