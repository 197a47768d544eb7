// The volumes of a Linux machine: either its local file systems, found in
// the mount table, or folders the user named. Each one is listed by a
// parallel directory walk.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "qvDirWalker.h"
#include "qvVolumeSource.h"

// Where the machine describes its file systems (tests point these at
// made-up trees), and how many threads walk a volume.
struct qvLinuxVolumeOptions {
  std::string mountInfoPath = "/proc/self/mountinfo";
  std::string sysfsRoot = "/sys";
  std::string diskByUuid = "/dev/disk/by-uuid";
  unsigned threads = 2;
};

class qvLinuxVolumeSource : public qvVolumeSource {
 public:
  using Options = qvLinuxVolumeOptions;

  // Indexes the machine's local, fixed file systems.
  qvLinuxVolumeSource() : qvLinuxVolumeSource(Options()) {}
  explicit qvLinuxVolumeSource(const Options& options) : options_(options) {}
  // Indexes the given folders instead (UTF-16 paths; relative ones are
  // taken from the current folder).
  explicit qvLinuxVolumeSource(std::vector<qvString> folders, const Options& options = Options())
      : options_(options), folders_(std::move(folders)), userFolders_(true) {}

  std::vector<VolumeInfo> Discover() override;
  bool Enumerate(size_t index, const ScanSink& sink) override;

  // Volumes that qualified at the last Discover but did not fit the slots.
  size_t DroppedVolumes() const { return dropped_; }
  // Counts of the last Enumerate, for the caller's messages.
  qvWalkStats LastWalkStats() const;
  // Ends a running Enumerate soon; any thread.
  void Stop() override;
  void SetFolderHook(FolderHook hook) override { hook_ = std::move(hook); }
  bool SetExclusions(std::shared_ptr<const qvExclusions> rules) override;

 private:
  struct Root {
    std::string path;  // bytes, ending in '/'
    bool opened = false;
  };

  Options options_;
  std::vector<qvString> folders_;
  bool userFolders_ = false;
  std::vector<Root> roots_;
  size_t dropped_ = 0;
  mutable std::mutex walkerMutex_;  // guards walker_ between Enumerate and Stop/stats
  qvDirWalker* running_ = nullptr;
  qvWalkStats lastStats_;
  FolderHook hook_;
  std::shared_ptr<const qvExclusions> exclusions_;  // guarded by walkerMutex_
};

// A stable, non-zero identity of a file system and a root folder on it:
// the FNV-1a hash of both texts.
uint64_t qvMakeJournalId(std::string_view fsIdentity, std::string_view rootPath);
