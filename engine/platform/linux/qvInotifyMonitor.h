// Follows Linux file systems with inotify: one watch per indexed folder,
// added as the scan opens each folder, and for every folder that appears
// later. A move's two halves are paired by their cookie. A lost-events
// signal leads to a rescan; a full watch table to a poll of the volume.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvMonitorCore.h"

class qvInotifyMonitor final : public qvMonitorCore {
 public:
  explicit qvInotifyMonitor(qvKearchImpl& engine);
  ~qvInotifyMonitor() override;

  bool Ready() const { return inotify_ >= 0; }
  Tier Kind() const override { return kTierInotify; }

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

  std::vector<int> EventFds() const override { return {inotify_}; }
  size_t ReadEvents() override;
  void ProcessEvents(bool rescan[QV_VOLUME_SLOTS]) override;
  void WatchFolder(uint32_t slot, uint32_t number, int dirFd, const std::string& path) override;
  void ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) override;
  void ForgetSlot(uint32_t slot) override;
  void RenumberFolder(uint32_t slot, uint32_t from, uint32_t to) override;
  bool LookUp(int wd, Watch* out);

  int inotify_ = -1;
  size_t watchBudget_ = 0;
  std::vector<Event> events_;  // read, not yet applied (monitor thread)

  qvMutex watchLock_;  // the hook runs on walking threads
  std::unordered_map<int, Watch> byWd_ QV_GUARDED_BY(watchLock_);
  std::unordered_map<uint64_t, int> byFolder_ QV_GUARDED_BY(watchLock_);  // slot << 32 | number
};
