// Follows Linux file systems with inotify: one watch per indexed folder,
// added as the scan opens each folder, and for every folder that appears
// later. Events become change-journal records, applied in batches under
// the engine lock. A lost-events signal or a full watch table leads to a
// rescan of the volume.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "qvJournal.h"
#include "qvVolumeMonitor.h"
#include "qvVolumeState.h"

class qvDirWalker;

class qvInotifyMonitor final : public qvVolumeMonitor {
 public:
  explicit qvInotifyMonitor(qvKearchImpl& engine);
  ~qvInotifyMonitor() override;

  bool Ready() const { return inotify_ >= 0 && wake_ >= 0; }
  qvVolumeSource::FolderHook Hook() override;
  void Start(bool catchUp) override;
  void Stop() override;
  int Following() const override { return following_.load(); }
  int64_t Rescans() const override { return rescans_.load(); }

 private:
  struct Event {
    int wd;
    uint32_t mask;
    uint32_t cookie;
    std::string name;
  };
  struct Watch {
    uint32_t slot;
    uint32_t number;
  };

  void Run(bool catchUp);
  bool ReadEvents(std::vector<Event>* events);
  void Process(std::vector<Event>& events, bool* overflow);
  bool Added(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder);
  bool Deleted(uint32_t slot, uint32_t parent, const qvString& name, bool isFolder);
  bool Moved(uint32_t slot, uint32_t parent, const qvString& name, uint32_t toSlot, uint32_t toParent,
             const qvString& toName, bool isFolder);
  bool Apply(uint32_t slot, uint32_t reason, bool isFolder, uint32_t number, uint32_t parent, const qvString& name);
  void AddSubtree(uint32_t slot, uint32_t folder, const std::string& path);
  void Rescan(uint32_t slot);
  std::string FolderPath(uint32_t slot, uint32_t number);

  void AddWatch(uint32_t slot, uint32_t number, int dirFd, const std::string& path);
  void ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers);
  void ForgetSlot(uint32_t slot);
  bool LookUp(int wd, Watch* out);
  void ReportLimitOnce(uint32_t slot);

  qvKearchImpl& engine_;
  int inotify_ = -1;
  int wake_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> following_{0};
  std::atomic<int64_t> rescans_{0};
  size_t watchBudget_ = 0;

  std::mutex watchLock_;  // the two maps below; the hook runs on walking threads
  std::unordered_map<int, Watch> byWd_;
  std::unordered_map<uint64_t, int> byFolder_;  // slot << 32 | number
  bool overBudget_[QV_VOLUME_SLOTS] = {};
  bool limitReported_[QV_VOLUME_SLOTS] = {};

  std::mutex walkerLock_;
  qvDirWalker* walker_ = nullptr;  // the running rescan, for Stop
  uint32_t nextNumber_[QV_VOLUME_SLOTS] = {};
};
