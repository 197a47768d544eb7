// What the two threads of a load tell each other: the helper, which cuts
// the file records in two and reads the second run, and the loading
// thread, which reads the folders and the first run and sums the file
// behind the helper.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

class qvLoadHandoff {
 public:
  // The helper: whether the records were cut in two (or the walk failed).
  void SetSplit(bool split) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      split_ = split ? kYes : kNo;
    }
    changed_.notify_all();
  }
  // The loading thread: waits for the helper's verdict.
  bool WaitForSplit() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return split_ != kPending; });
    return split_ == kYes;
  }

  // The loading thread: whether the folders are in (the second run's
  // parents are checked against them).
  void SetFolders(bool loaded) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      folders_ = loaded ? kYes : kNo;
    }
    changed_.notify_all();
  }
  bool WaitForFolders() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return folders_ != kPending; });
    return folders_ == kYes;
  }

  // The helper: it will not read the file before `at` again; or it is
  // done with the file.
  void SetPassed(size_t at) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      passed_ = at;
    }
    changed_.notify_all();
  }
  void SetDone() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      done_ = true;
    }
    changed_.notify_all();
  }
  // The loading thread: waits until the helper passed a point beyond
  // `known`, and says it (or that the helper is done, returning false).
  bool WaitForPassed(size_t known, size_t& passed) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return done_ || passed_ > known; });
    passed = passed_;
    return !done_;
  }

  // The loading thread failed: the helper's work will be dropped.
  void Stop() { stop_.store(true, std::memory_order_relaxed); }
  bool Stopped() const { return stop_.load(std::memory_order_relaxed); }

 private:
  enum State { kPending, kYes, kNo };
  std::mutex mutex_;
  std::condition_variable changed_;
  State split_ = kPending;
  State folders_ = kPending;
  size_t passed_ = 0;
  bool done_ = false;
  std::atomic<bool> stop_{false};
};
