// Where the index gets its volumes and their entries from. The engine's own
// logic only sees this interface: tests hand it streams of entries, Linux
// file systems are walked, NTFS images are read from their file table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "qvTypes.h"

class qvExclusions;

constexpr uint32_t QV_ATTR_READONLY = 0x1;
constexpr uint32_t QV_ATTR_HIDDEN = 0x2;
constexpr uint32_t QV_ATTR_SYSTEM = 0x4;
constexpr uint32_t QV_ATTR_DIRECTORY = 0x10;
constexpr uint32_t QV_ATTR_NORMAL = 0x80;
constexpr uint32_t QV_ATTR_REPARSE_POINT = 0x400;

// One directory entry of a volume, as the change-journal enumeration gives
// it on the design's platform. The root folder has reference number 5.
struct ScanEntry {
  uint64_t fileRef;
  uint64_t parentRef;
  uint32_t attributes;  // QV_ATTR_DIRECTORY marks a folder
  const qvChar* name;   // UTF-16, not terminated
  uint32_t nameLength;  // in units
};

// One volume found by discovery.
struct VolumeInfo {
  qvString root;           // root text ending in '/', e.g. "/" or "/home/"
  bool opened = false;     // false: reported, but could not be opened
  int errorCode = 0;       // errno when not opened
  uint64_t journalId = 0;  // identifies the file system and root; never 0 when opened
  int64_t firstUsn = 0;
  int64_t nextUsn = 0;
};

// Receives the entries of one volume. Calls may come from any thread but
// never two at once.
using ScanSink = std::function<void(const ScanEntry* entries, size_t count)>;

class qvVolumeSource {
 public:
  virtual ~qvVolumeSource() = default;
  // The volumes to index, at most 26, in slot order.
  virtual std::vector<VolumeInfo> Discover() = 0;
  // Streams every entry below the root of volume `index` (an index into
  // what Discover returned) except the root itself. Returns false when the
  // volume could not be read at all.
  virtual bool Enumerate(size_t index, const ScanSink& sink) = 0;
  // Asks a running Enumerate, on another thread, to end soon (the engine
  // is being released). Any thread.
  virtual void Stop() {}

  // Where a source opens folders to read them, it calls this hook with
  // each folder's number and descriptor before reading it, from any of its
  // threads: the live monitor starts watching folders that way, so that
  // no change after a folder was read is missed.
  using FolderHook = std::function<void(size_t volume, uint64_t ref, int fd)>;
  virtual void SetFolderHook(FolderHook hook) { (void)hook; }

  // The folders and names to leave out of the next Enumerate calls. True
  // when the source leaves them out itself (never opening an excluded
  // folder); false when it lists everything and the engine drops them.
  virtual bool SetExclusions(std::shared_ptr<const qvExclusions> rules) {
    (void)rules;
    return false;
  }
};

// The machine's volumes (no roots given) or the named folders.
std::unique_ptr<qvVolumeSource> qvMakeDefaultVolumeSource(const std::vector<qvString>& roots);
