#include "qvScanHelper.h"

#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <thread>

#include "qvMutex.h"

struct qvScanHelper::Thread {
  void Run() QV_EXCLUDES(lock);

  qvMutex lock;
  std::condition_variable_any wake;  // a job offered, or the end
  std::condition_variable_any done;  // the job taken has ended
  Job job QV_GUARDED_BY(lock) = nullptr;
  void* context QV_GUARDED_BY(lock) = nullptr;
  bool taken QV_GUARDED_BY(lock) = false;
  bool ended QV_GUARDED_BY(lock) = false;
  bool stop QV_GUARDED_BY(lock) = false;
  std::thread thread;  // last: started once the rest is ready
};

void qvScanHelper::Thread::Run() {
  lock.lock();
  for (;;) {
    while (!stop && !(job && !taken)) wake.wait(lock);
    if (stop) break;
    taken = true;
    Job run = job;
    void* with = context;
    lock.unlock();
    run(with);
    lock.lock();
    ended = true;
    done.notify_all();
  }
  lock.unlock();
}

qvScanHelper& qvScanHelper::Get() {
  static qvScanHelper helper;
  return helper;
}

bool qvScanHelper::StartedHere() const {
  const pid_t owner = owner_.load(std::memory_order_acquire);
  return owner == 0 || owner == getpid();
}

qvScanHelper::~qvScanHelper() { Stop(); }

void qvScanHelper::Stop() {
  // In a forked child the copy is left as it is.
  if (!StartedHere()) return;
  Thread* t = thread_.exchange(nullptr, std::memory_order_acq_rel);
  if (!t) return;
  {
    qvMutexLock guard(t->lock);
    t->stop = true;
  }
  t->wake.notify_all();
  if (t->thread.joinable()) t->thread.join();
  delete t;
  owner_.store(0, std::memory_order_release);
}

bool qvScanHelper::Offer(Job job, void* context) {
  if (!StartedHere()) return false;  // started before a fork
  Thread* t = thread_.load(std::memory_order_acquire);
  if (!t) {
    // One scan at a time starts it: scans of one index hold its lock, and
    // a scan of another index that comes at the same time walks alone.
    try {
      auto fresh = std::make_unique<Thread>();
      Thread* expected = nullptr;
      if (!thread_.compare_exchange_strong(expected, fresh.get())) return false;
      t = fresh.release();
      owner_.store(getpid(), std::memory_order_release);
      t->thread = std::thread([t] { t->Run(); });
    } catch (const std::exception&) {  // no thread to be had, or no memory
      return false;
    }
  }
  {
    qvMutexLock guard(t->lock);
    if (t->job || t->stop) return false;
    hits_.clear();
    pages_.clear();
    t->job = job;
    t->context = context;
    t->taken = false;
    t->ended = false;
  }
  t->wake.notify_one();
  return true;
}

bool qvScanHelper::Settle() {
  Thread* t = thread_.load(std::memory_order_acquire);
  qvMutexLock guard(t->lock);
  const bool ran = t->taken;
  while (t->taken && !t->ended) t->done.wait(t->lock);
  t->job = nullptr;
  t->context = nullptr;
  t->taken = false;
  return ran;
}
