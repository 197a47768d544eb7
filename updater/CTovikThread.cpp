#include "CTovikThread.h"

#include <system_error>

CTovikThread::~CTovikThread() { Wait(); }

bool CTovikThread::Start() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (thread_.joinable()) return true;
  idle_ = false;
  try {
    thread_ = std::thread(&CTovikThread::ThreadProc, this);
  } catch (const std::system_error&) {
    idle_ = true;
    idleChanged_.notify_all();
  }
  return thread_.joinable();
}

void CTovikThread::Wait() {
  std::thread ended;
  {
    std::unique_lock<std::mutex> hold(mutex_);
    idleChanged_.wait(hold, [this] { return idle_; });
    ended = std::move(thread_);
  }
  if (ended.joinable()) ended.join();
}

void CTovikThread::ThreadProc() {
  Run();
  std::lock_guard<std::mutex> hold(mutex_);
  idle_ = true;
  idleChanged_.notify_all();
}
