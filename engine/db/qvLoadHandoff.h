// What the two threads of a load tell each other: the helper, which cuts
// the file records in two and reads the second run, and the loading
// thread, which reads the folders and the first run.
#pragma once

#include <atomic>
#include <condition_variable>
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
  // The helper: whether the loading thread has said, without waiting.
  bool FoldersSaid() {
    std::lock_guard<std::mutex> hold(mutex_);
    return folders_ != kPending;
  }
  bool WaitForFolders() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return folders_ != kPending; });
    return folders_ == kYes;
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
  std::atomic<bool> stop_{false};
};
