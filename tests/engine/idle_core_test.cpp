// The count of ready threads read from the kernel's load text, odd texts
// included, and a machine whose every core is kept busy reported as such.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "qvIdleCore.h"

namespace {

using qvIdleCore::RunnableIn;

TEST(IdleCore, ReadsTheReadyCountOfTheLoadText) {
  EXPECT_EQ(RunnableIn("0.10 0.20 0.30 1/112 7689\n"), 1);
  EXPECT_EQ(RunnableIn("12.50 3.00 4.75 250/90000 123456\n"), 250);
  EXPECT_EQ(RunnableIn("0.00  0.00   0.00 0/1 1"), 0);  // wider gaps
  EXPECT_EQ(RunnableIn("1 2 3 999999999/5 6"), 999999999);
}

TEST(IdleCore, TextsWithoutAReadyCountGiveMinusOne) {
  for (const std::string& text :
       {std::string(), std::string("0.10 0.20"), std::string("0.10 0.20 0.30 "), std::string("0.10 0.20 0.30 /5 6"),
        std::string("0.10 0.20 0.30 7"), std::string("0.10 0.20 0.30 7 /8"), std::string("0.10 0.20 0.30 x/8"),
        std::string("0.10 0.20 0.30 -3/8"), std::string("0.10 0.20 0.30 1234567890/8"),
        std::string("0.10 0.20 0.30 99999999999999999999999/8"), std::string("0.1\0 0.2 0.3 \0/2", 16),
        std::string(200, ' ')})
    EXPECT_EQ(RunnableIn(text), -1) << '"' << text << '"';
}

TEST(IdleCore, EveryCoreKeptBusyLeavesNoneIdle) {
  if (access("/proc/loadavg", R_OK) != 0) GTEST_SKIP() << "no /proc/loadavg on this machine: the count cannot be read";
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  ASSERT_GE(cores, 1);
  // One spinning thread per core; with this thread, more are ready than
  // there are cores, whatever else the machine runs.
  std::atomic<bool> stop{false};
  std::atomic<long> spinning{0};
  std::vector<std::thread> spinners;
  for (long i = 0; i < cores; ++i)
    spinners.emplace_back([&] {
      spinning.fetch_add(1);
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
  while (spinning.load() < cores) std::this_thread::yield();
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(qvIdleCore::Available()) << "read " << i;
  stop = true;
  for (std::thread& t : spinners) t.join();
}

}  // namespace
