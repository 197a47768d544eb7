// Lists every folder and file below one root folder of a Linux file
// system, as the entry stream the index is built from. Several threads read
// folders from a shared work stack; each folder is opened relative to its
// parent, so paths of any length work; the walk never leaves the root's
// file system and never follows symbolic links.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "qvExclusions.h"
#include "qvVolumeSource.h"

struct qvWalkStats {
  uint64_t entries = 0;            // entries handed to the sink
  uint64_t folders = 0;            // of them folders
  uint64_t unreadableFolders = 0;  // folders listed without (all of) their children
  uint64_t mountPoints = 0;        // folders of another file system, listed but not entered
  uint64_t excluded = 0;           // entries the exclusion rules left out (folders never opened)
  int rootError = 0;               // errno when the root could not be opened
};

class qvDirWalker {
 public:
  static constexpr uint64_t kRootRef = 5;
  static constexpr uint64_t kFirstRef = 16;

  struct Options {
    unsigned threads = 2;
    size_t batchEntries = 4096;       // entries per sink call
    size_t readBufferBytes = 256 << 10;  // getdents buffer, per thread
    // Folders that may keep their descriptor open for their children;
    // the others' children are opened by path from the root. -1: a share
    // of the process's descriptor limit.
    long keptFolderLimit = -1;
    // Numbers of the root and of the first other entry (a subtree walked
    // into an existing index continues its numbering).
    uint64_t rootRef = kRootRef;
    uint64_t firstRef = kFirstRef;
    // Called with each folder's number and descriptor once it is opened
    // and before it is read, from any walking thread (the live monitor
    // watches folders this way, so that no change after the read is
    // missed).
    std::function<void(uint64_t ref, int fd)> onFolderOpened;
    // Folders and names left out: an excluded folder is neither listed nor
    // opened, so an unreadable or slow one costs nothing; a root that is
    // excluded itself gives no entries.
    std::shared_ptr<const qvExclusions> exclusions;
  };

  qvDirWalker() = default;
  explicit qvDirWalker(const Options& options) : options_(options) {}

  // Walks the tree below `rootPath` (bytes) and hands its entries, the root
  // excluded, to `sink` in batches. The root has reference number 5, every
  // other entry a unique number from 16 upwards. Returns false when the
  // root cannot be opened (errno in Stats().rootError) or the walk was
  // stopped. An exception thrown by the sink ends the walk and is rethrown
  // here once every thread has finished.
  bool Walk(const std::string& rootPath, const ScanSink& sink);

  // For tests that play a slow disk: called on the walking thread before
  // each folder is read, by every walker of the process. Null by default.
  static void SetSlowDiskHook(void (*hook)());

  // Asks a running Walk to end soon; may be called from any thread. A
  // stopped walker stays stopped.
  void Stop() { stop_.store(true, std::memory_order_relaxed); }

  const qvWalkStats& Stats() const { return stats_; }
  // Above every number the last walk handed out.
  uint64_t EndRef() const { return endRef_; }

 private:
  Options options_;
  qvWalkStats stats_;
  uint64_t endRef_ = kFirstRef;
  std::atomic<bool> stop_{false};
};
