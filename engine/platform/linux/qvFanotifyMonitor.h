// Follows Linux file systems with fanotify, events naming their folder by
// file handle and the entry by name. One group per file system, marked in
// one of two ways:
//  - FileSystem: one mark on the whole file system (needs CAP_SYS_ADMIN);
//    events from folders the index does not hold are dropped.
//  - Folders: one inode mark per indexed folder, added as the scan opens
//    it (any user, kernel 5.13+), within a share of max_user_marks; past
//    it the volume is polled.
// The kernel merges queued events of the same (folder, name), so their
// order is lost; every name an event carries is therefore settled against
// the folder's present contents (added, kept, replaced or removed), and a
// rename whose old name is gone moves the entry in place. The folder is
// opened by its handle where the process may (CAP_DAC_READ_SEARCH), else
// at its indexed path once that path leads to the same folder again (the
// rename that moved it is applied first).
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvMonitorCore.h"

class qvFanotifyMonitor final : public qvMonitorCore {
 public:
  enum class Marks { FileSystem, Folders };

  // Sets up the groups and marks for every indexed volume; Ready() tells
  // whether all of them could be followed this way.
  qvFanotifyMonitor(qvKearchImpl& engine, Marks marks);
  ~qvFanotifyMonitor() override;

  bool Ready() const { return ready_; }
  Tier Kind() const override { return marks_ == Marks::FileSystem ? kTierFanotifyFs : kTierFanotifyMarks; }

 private:
  struct Folder {
    uint32_t slot;
    uint32_t number;
  };
  struct Group {
    int fd = -1;
    int rootFd = -1;  // a folder of the file system, for opening handles
    dev_t dev = 0;
    uint64_t dirMask = 0;  // with FAN_RENAME where the kernel has it
    std::unordered_map<std::string, Folder> folders;  // handle -> folder
  };
  // One event, its names copied out of the read buffer.
  struct Event {
    size_t group;
    uint64_t mask;
    bool hasFrom = false, hasTo = false;
    std::string fromDir, fromName;  // the entry, or a rename's old name
    std::string toDir, toName;      // a rename's new name
  };

  std::vector<int> EventFds() const override;
  size_t ReadEvents() override;
  void ProcessEvents(bool rescan[QV_VOLUME_SLOTS]) override;
  void WatchFolder(uint32_t slot, uint32_t number, int dirFd, const std::string& path) override;
  void ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) override;
  void ForgetSlot(uint32_t slot) override;
  void RenumberFolder(uint32_t slot, uint32_t from, uint32_t to) override;
  bool FollowSlot(uint32_t slot) override { return AddGroupFor(slot); }

  enum class Reach { kOpen, kGone, kLater };

  bool AddGroupFor(uint32_t slot);
  void Parse(size_t group, const char* buffer, size_t length);
  bool LookUp(size_t group, const std::string& handle, Folder* out);
  bool Concerns(const Event& e);
  // Apply one event; -1 when done, else the slot of a folder that is not
  // where the index has it (to be tried again once more events are in).
  int ProcessOne(const Event& e, bool rescan[QV_VOLUME_SLOTS], bool touched[QV_VOLUME_SLOTS], bool* due);
  int ProcessRename(const Event& e, bool touched[QV_VOLUME_SLOTS], bool* due);
  // Opens folder `folder` (an O_PATH descriptor in *fd, owned by the
  // batch's cache) where it is now.
  Reach OpenFolder(size_t group, const std::string& handle, const Folder& folder, int* fd);
  Reach OpenUncached(size_t group, const std::string& handle, const Folder& folder, int* fd);
  void CloseFolders();
  // What `name` in the folder open as dirFd is now: read from the disk
  // before the engine lock is taken. present: 1, 0, or -1 when unknown.
  struct Observation {
    int present = -1;
    bool isDir = false;
    std::string handle;  // a folder's
  };
  Observation Observe(int dirFd, const std::string& name);
  // Makes the index agree with what was observed of `name`.
  bool Settle(const Folder& parent, const std::string& name, const Observation& now) QV_REQUIRES(engine_.lock);
  bool SameFolder(uint32_t slot, uint32_t number, const std::string& handle);

  const Marks marks_;
  bool ready_ = false;
  std::vector<Group> groups_;  // fixed after construction
  int groupOf_[QV_VOLUME_SLOTS];
  size_t markBudget_ = 0;
  bool openByHandle_ = true;  // monitor thread
  struct OpenFolderFd {
    size_t group;
    int fd;
  };
  std::unordered_map<std::string, OpenFolderFd> openFolders_;  // this batch's, by handle
  std::vector<Event> events_;  // read, not yet applied (monitor thread)

  qvMutex folderLock_;  // the folder maps; the hook runs on walking threads
  std::unordered_map<uint64_t, std::string> handleOf_ QV_GUARDED_BY(folderLock_);  // slot << 32 | number -> handle
};
