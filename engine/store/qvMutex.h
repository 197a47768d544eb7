// A mutex that clang's thread-safety analysis (-Wthread-safety) knows, and
// the macros that say which lock guards what. Under other compilers the
// macros are empty and qvMutex is a plain std::mutex.
#pragma once

#include <mutex>

#if defined(__clang__)
#define QV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QV_THREAD_ANNOTATION(x)
#endif

#define QV_CAPABILITY(x) QV_THREAD_ANNOTATION(capability(x))
#define QV_SCOPED_CAPABILITY QV_THREAD_ANNOTATION(scoped_lockable)
#define QV_GUARDED_BY(x) QV_THREAD_ANNOTATION(guarded_by(x))
#define QV_PT_GUARDED_BY(x) QV_THREAD_ANNOTATION(pt_guarded_by(x))
#define QV_REQUIRES(...) QV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define QV_EXCLUDES(...) QV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define QV_ACQUIRE(...) QV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QV_RELEASE(...) QV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QV_RETURN_CAPABILITY(x) QV_THREAD_ANNOTATION(lock_returned(x))
#define QV_NO_THREAD_SAFETY_ANALYSIS QV_THREAD_ANNOTATION(no_thread_safety_analysis)

// Derived from std::mutex so that code outside the analysis (tests) can
// keep using std::lock_guard<std::mutex> on it.
class QV_CAPABILITY("mutex") qvMutex : public std::mutex {
 public:
  void lock() QV_ACQUIRE() { std::mutex::lock(); }
  void unlock() QV_RELEASE() { std::mutex::unlock(); }
};

class QV_SCOPED_CAPABILITY qvMutexLock {
 public:
  explicit qvMutexLock(qvMutex& m) QV_ACQUIRE(m) : m_(m) { m_.lock(); }
  ~qvMutexLock() QV_RELEASE() { m_.unlock(); }
  qvMutexLock(const qvMutexLock&) = delete;
  qvMutexLock& operator=(const qvMutexLock&) = delete;

 private:
  qvMutex& m_;
};
