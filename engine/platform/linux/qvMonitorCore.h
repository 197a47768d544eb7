// What every Linux live monitor shares: the monitor thread and its
// wake-up, the batching of events (a short settle, a bounded batch, one
// application under the engine lock), the store edits an event turns
// into (added, deleted, moved, a moved-in subtree walked), the rescan of a
// volume after lost events, and the poll fallback for a volume whose
// folders could not all be watched. A kind of monitor supplies the event
// source and the bookkeeping of its watched folders.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qvJournal.h"
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

 protected:
  explicit qvMonitorCore(qvKearchImpl& engine);

  // --- supplied by the kind of monitor ---------------------------------
  // The descriptors whose readiness means events; fixed once started.
  virtual std::vector<int> EventFds() const = 0;
  // Reads what is ready on the event descriptors (non-blocking) into the
  // kind's own queue; returns how many events that queue holds.
  virtual size_t ReadEvents() = 0;
  // Applies the queued events and empties the queue; the engine lock is
  // held. Sets rescan[slot] for volumes whose events were lost.
  virtual void ProcessEvents(bool rescan[QV_VOLUME_SLOTS]) = 0;
  // Starts following folder `number` of volume `slot`, opened as `dirFd`
  // (-1: reach it by `path`). May run on several walking threads at once.
  virtual void WatchFolder(uint32_t slot, uint32_t number, int dirFd, const std::string& path) = 0;
  // The index dropped these folders.
  virtual void ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) = 0;
  // Before a rescan renumbers the whole volume.
  virtual void ForgetSlot(uint32_t slot) = 0;
  // A walked folder turned out to be in the index already, as `to`.
  virtual void RenumberFolder(uint32_t slot, uint32_t from, uint32_t to) = 0;

  // --- shared store edits (engine lock held) ---------------------------
  // Each returns true when a search is due. `where` reaches a new folder
  // now (empty: its path is built from the index).
  bool Added(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder,
             const std::string& where = std::string());
  bool Deleted(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder);
  bool Moved(uint32_t slot, uint32_t parent, const qvString& name, uint32_t toSlot, uint32_t toParent,
             const qvString& toName, bool isFolder);
  bool Apply(uint32_t slot, uint32_t reason, bool isFolder, uint32_t number, uint32_t parent, const qvString& name);
  void AddSubtree(uint32_t slot, uint32_t folder, const std::string& path);
  // Ends a batch: one search when due, and the journal position of every
  // touched volume moves on.
  void FinishBatch(bool due, const bool touched[QV_VOLUME_SLOTS]);
  std::string FolderPath(uint32_t slot, uint32_t number);
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
  void Run(bool catchUp);
  void Rescan(uint32_t slot);
  bool WalkDraining(qvDirWalker& walker, const std::string& root, EntryBuffer& buffer);

  int wake_ = -1;
  std::thread thread_;
  std::atomic<int> following_{0};
  std::atomic<int64_t> rescans_{0};
  std::atomic<bool> overBudget_[QV_VOLUME_SLOTS] = {};
  bool reported_[2][QV_VOLUME_SLOTS] = {};

  std::mutex walkerLock_;
  qvDirWalker* walker_ = nullptr;  // the running walk, for Stop
  uint32_t nextNumber_[QV_VOLUME_SLOTS] = {};
};
