// The second thread of the scans, kept from one search to the next.
//
// A scan offers the helper a share of its walk and walks its own share at
// once. In a virtual machine an idle core can take milliseconds to wake:
// a thread started per search then made a fast search wait for a helper
// that had nothing left to do. This one is started once; a share it has
// not begun when the scan is done is simply taken back, and a scan waits
// only for a share the helper is working on.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class qvScanHelper {
 public:
  // The process's helper.
  static qvScanHelper& Get();

  qvScanHelper() = default;
  // Stops the thread and waits for it (at exit, or when the engine's
  // module is unloaded).
  ~qvScanHelper();
  qvScanHelper(const qvScanHelper&) = delete;
  qvScanHelper& operator=(const qvScanHelper&) = delete;

  // Ends the thread, if this process started one; the next Offer starts
  // another. For a process about to fork a child that starts threads of
  // its own (which the thread sanitizer refuses while other threads run).
  // No scan may run meanwhile.
  void Stop();

  using Job = void (*)(void* context);

  // Hands `job` to the helper thread, starting it on first use; returns at
  // once. False when the helper is busy with another scan's share, or no
  // thread can be had (the scan then walks alone). After a true, Hits()
  // and Pages() are empty and the caller's alone until it calls Settle,
  // which it must before `context` goes away.
  bool Offer(Job job, void* context);

  // Takes the share back if the helper has not begun it, else waits for
  // its end. True when the helper ran it.
  bool Settle();

  // Where the helper's share keeps its hits, reused from one scan to the
  // next so that a search of similar size allocates nothing.
  std::vector<uint8_t*>& Hits() { return hits_; }
  std::vector<size_t>& Pages() { return pages_; }

 private:
  struct Thread;  // the thread, and what it shares with the scans

  // No thread yet, or one started by this process. A forked child has the
  // parent's memory but not its threads, and its copy of the lock and the
  // condition variables may be in any state: it never touches them.
  bool StartedHere() const;

  std::atomic<Thread*> thread_{nullptr};
  std::atomic<pid_t> owner_{0};  // the process that started the thread
  // Used by the one scan whose offer stands, and by its job.
  std::vector<uint8_t*> hits_;
  std::vector<size_t> pages_;
};
