// What every Linux live monitor shares: the monitor thread and its
// wake-up, the batching of events (a short settle, a bounded batch), the
// index edits an event turns into (added, deleted, moved), the walk of a
// folder that appeared with contents, the rescan of a volume after lost
// events, and the poll fallback for a volume whose folders could not all
// be watched. A kind of monitor supplies the event source and the
// bookkeeping of its watched folders.
//
// The engine lock is taken only to read or change the index, never around
// disk work: what a change needs from the disk (a stat, a walk) is read
// first, then applied under the lock.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qvKearchImpl.h"
#include "qvMutex.h"
#include "qvVolumeMonitor.h"
#include "qvVolumeState.h"

class qvDirWalker;

class qvMonitorCore : public qvVolumeMonitor {
 public:
  ~qvMonitorCore() override;

  // Calls WatchFolder for every folder the scan opens.
  qvVolumeSource::FolderHook Hook() override;
  void Start(bool catchUp) override;
  void Stop() override;
  int Following() const override { return following_.load(); }
  int64_t Rescans() const override { return rescans_.load(); }
  void WalkIn(std::vector<Reinclusion> what) override;

 protected:
  explicit qvMonitorCore(qvKearchImpl& engine);

  // --- supplied by the kind of monitor ---------------------------------
  // The descriptors whose readiness means events; fixed once started.
  virtual std::vector<int> EventFds() const = 0;
  // Reads what is ready on the event descriptors (non-blocking) into the
  // kind's own queue; returns how many events that queue holds.
  virtual size_t ReadEvents() = 0;
  // Applies the queued events and empties the queue, taking the engine
  // lock around each application and never around disk work. Sets
  // rescan[slot] for volumes whose events were lost.
  virtual void ProcessEvents(bool rescan[QV_VOLUME_SLOTS]) QV_EXCLUDES(engine_.lock) = 0;
  // Starts following folder `number` of volume `slot`, opened as `dirFd`
  // (-1: reach it by `path`). May run on several walking threads at once.
  virtual void WatchFolder(uint32_t slot, uint32_t number, int dirFd, const std::string& path) = 0;
  // Before a rescan renumbers the whole volume.
  virtual void ForgetSlot(uint32_t slot) = 0;
  // A walked folder turned out to be in the index already, as `to`.
  virtual void RenumberFolder(uint32_t slot, uint32_t from, uint32_t to) = 0;
  // Starts following a volume that was read raw and is now walked through
  // its mount. False when it cannot be followed (it is then polled).
  virtual bool FollowSlot(uint32_t slot) {
    (void)slot;
    return true;
  }

  // Whether volume `slot` is walked and followed: not an NTFS volume that
  // is read raw (nothing changes it but a mount).
  bool Followed(uint32_t slot) const;

  // --- shared index edits (engine lock held) ---------------------------
  // Each returns true when a search is due. A folder that is added is
  // walked once the batch is applied (it may have contents already).
  bool Added(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder) QV_REQUIRES(engine_.lock);
  bool Deleted(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder) QV_REQUIRES(engine_.lock);
  bool Moved(uint32_t slot, uint32_t parent, const qvString& name, uint32_t toSlot, uint32_t toParent,
             const qvString& toName, bool isFolder) QV_REQUIRES(engine_.lock);
  // Whether the exclusion rules leave out entry `name` of folder `parent`.
  bool Excluded(uint32_t slot, uint32_t parent, const qvString& name) QV_REQUIRES(engine_.lock);
  // Ends a batch: one search when due, and the journal position of every
  // touched volume moves on.
  void FinishBatch(bool due, const bool touched[QV_VOLUME_SLOTS]) QV_REQUIRES(engine_.lock);
  std::string FolderPath(uint32_t slot, uint32_t number) QV_REQUIRES(engine_.lock);
  qvFileBaseApp& Index() QV_REQUIRES(engine_.lock) { return engine_.IndexLocked(); }
  // The slot that indexes source volume `volume`, or -1.
  static int SlotOfVolume(size_t volume);

  // A folder of `slot` could not be watched: the volume is polled.
  void SetOverBudget(uint32_t slot) { overBudget_[slot].store(true); }
  // Reports a condition once per volume.
  enum Report { kWatchesRanOut = 0, kEventsLost = 1 };
  void ReportOnce(uint32_t slot, Report what);

  qvKearchImpl& engine_;
  std::atomic<bool> stop_{false};

 private:
  struct EntryBuffer;
  // A folder added by an event, to be walked outside the engine lock.
  struct PendingWalk {
    uint32_t slot;
    uint32_t number;
    int attempts;
  };
  void Run(bool catchUp);
  void Rescan(uint32_t slot) QV_EXCLUDES(engine_.lock);
  // Hands the raw NTFS volumes that the mount table (`mounts`, an open
  // mountinfo) now shows mounted to the walk: each is scanned again
  // through its mount and followed. True when one was.
  bool HandOverMounted(int mounts) QV_EXCLUDES(engine_.lock);
  // Walks the folders added by the last batch and adds what they hold.
  void WalkAddedFolders(bool rescan[QV_VOLUME_SLOTS]) QV_EXCLUDES(engine_.lock);
  // Walks folder `number` at `path` (read under the lock just before) and
  // adds its subtree; false when the folder could not be opened there.
  bool AddSubtree(uint32_t slot, uint32_t number, const std::string& path) QV_EXCLUDES(engine_.lock);
  bool WalkDraining(qvDirWalker& walker, const std::string& root, EntryBuffer& buffer);
  // Takes the WalkIn requests: volumes to scan again go to `rescan`,
  // entries are added (and folders walked with the batch's walks). False
  // when there were none.
  bool TakeReinclusions(bool rescan[QV_VOLUME_SLOTS]) QV_EXCLUDES(engine_.lock);
  // A walk read with `walked` while the rules changed: drop what the
  // rules in force leave out.
  void ObeyRulesSince(const std::shared_ptr<const qvExclusions>& walked) QV_REQUIRES(engine_.lock);

  int wake_ = -1;
  std::thread thread_;
  std::atomic<int> following_{0};
  std::atomic<int64_t> rescans_{0};
  std::atomic<bool> overBudget_[QV_VOLUME_SLOTS] = {};
  bool reported_[2][QV_VOLUME_SLOTS] = {};

  std::mutex walkerLock_;
  qvDirWalker* walker_ = nullptr;  // the running walk, for Stop
  // Monitor thread only.
  uint32_t nextNumber_[QV_VOLUME_SLOTS] = {};
  std::vector<PendingWalk> pendingWalks_;
  std::mutex reinclusionLock_;
  std::vector<Reinclusion> reinclusions_;  // guarded by reinclusionLock_
};
