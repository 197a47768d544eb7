// Builds the index from streams of directory entries, one stream per
// volume: the root record, one folder record and one file record per entry,
// the extension split, parent resolution and both sorts. Depends on no
// operating-system service.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "qvDirMap.h"
#include "qvExtTable.h"
#include "qvSortedRuns.h"
#include "qvVolumeSource.h"

class qvIndex;
struct IQvSearchNotify;


class qvStreamScan {
 public:
  // Names whose packed form is longer than this cannot be stored (the
  // database keeps 10-bit lengths).
  static constexpr size_t kMaxNameBytes = kMaxRecordNameBytes;

  // The scan adds to what the tables hold: a fresh index after
  // ClearIndex, or one volume again after RemoveVolume.
  qvStreamScan(qvIndex& app, IQvSearchNotify* sink);
  ~qvStreamScan();

  // Takes every folder and file of volume `slot` out of the lists and the
  // folder map (before that volume is scanned again).
  static void RemoveVolume(qvIndex& app, uint32_t slot);

  // Starts volume `slot` with its root record, named by the root text
  // without its final '/'. Returns false when out of memory.
  bool BeginVolume(uint32_t slot, const qvString& rootText);
  // Takes entries of the current volume, in any order.
  void AddEntries(const ScanEntry* entries, size_t count);
  // Reports what the current volume could not hold, once.
  void EndVolume();
  // Resolves parents (entries whose folder is not in the index are
  // dropped, with everything below them), fills the folder map and sorts
  // both lists. Returns false when out of memory.
  bool Finish();

  // Entries skipped since BeginVolume: record numbers that do not fit a
  // key, names too long to store.
  uint64_t SkippedInVolume() const { return skippedInVolume_; }
  uint64_t DroppedFolders() const { return droppedFolders_; }
  uint64_t DroppedFiles() const { return droppedFiles_; }

  // Where the build's time went, in microseconds: linking folders to
  // parents and files to folders, sorting both lists, laying the records
  // out in list order; and, before the build, sorting runs of files while
  // the volumes were still read (on a helper thread).
  struct Phases {
    int64_t linkMicros = 0;
    int64_t sortMicros = 0;
    int64_t layoutMicros = 0;
    int64_t sortWhileReadingMicros = 0;
  };
  const Phases& phases() const { return phases_; }

 private:
  void AddFolder(const ScanEntry& e);
  void AddFile(const ScanEntry& e);
  bool ResolveFolders();
  bool ResolveFiles();
  bool SortFolders();
  bool SortFiles();
  bool FinishFullScan();
  // The id of an extension text as the volume gives it, its case kept.
  uint32_t ExtensionId(const qvChar* ext, size_t length);

  qvIndex& app_;
  IQvSearchNotify* sink_;
  uint32_t slot_ = 0;
  bool inVolume_ = false;
  std::vector<DirMapEntry> folders_;  // (key, ref) of every folder record made
  size_t firstNewFile_ = 0;           // files before this list index were there before the scan
  // The new files, kept apart in sorted runs, when the scan starts on an
  // empty file list (a full scan); otherwise they go to the pool and the
  // list at once, and the list is sorted whole at the end.
  std::unique_ptr<qvSortedRuns> fileRuns_;
  // Short extension texts met lately, by their length and last unit: a
  // folder's files share a few, and the table's own look-up halves
  // through every text it holds.
  struct RecentExtension {
    uint32_t length = 0;  // 0: empty
    uint32_t id = 0;
    qvChar text[8];
  };
  RecentExtension recentExtensions_[64];
  uint64_t skippedInVolume_ = 0;
  uint64_t droppedFolders_ = 0;
  uint64_t droppedFiles_ = 0;
  Phases phases_;
};
