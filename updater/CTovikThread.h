// A reusable worker thread: Start runs Run on a new thread unless one
// exists; Wait blocks until the thread has ended and joins it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class CTovikThread {
 public:
  CTovikThread() = default;
  virtual ~CTovikThread();
  CTovikThread(const CTovikThread&) = delete;
  CTovikThread& operator=(const CTovikThread&) = delete;

  // True when a thread exists afterwards.
  bool Start();
  void Wait();

 protected:
  virtual void Run() = 0;

 private:
  void ThreadProc();

  std::mutex mutex_;
  std::condition_variable idleChanged_;
  bool idle_ = true;  // no thread is running Run
  std::thread thread_;
};
