// The volume source for NTFS volumes read raw: disk images and devices
// named as roots (`disk.img`, `disk.img@offset`, `/dev/sdb2`). Their
// entries come from the master file table; every other volume comes from
// the source it wraps.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qvNtfsVolume.h"
#include "qvUsnJournal.h"
#include "qvVolumeSource.h"

class qvIndex;

// Where the machine describes its block devices (tests use made-up trees).
struct qvNtfsDiscoveryOptions {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string mountInfoPath = "/proc/self/mountinfo";
  std::string udevDataRoot = "/run/udev/data";
};

// A root that names a file or a device rather than a folder: its path and
// the byte offset after '@', or kFindPartition.
bool ParseNtfsRoot(const std::string& root, std::string* path, int64_t* offset);

class qvNtfsVolumeSource : public qvVolumeSource {
 public:
  struct Raw {
    std::string root;  // as named, without a final '/'
    std::string path;
    int64_t offset = qvNtfsVolume::kFindPartition;
  };

  qvNtfsVolumeSource(std::unique_ptr<qvVolumeSource> inner, std::vector<Raw> raw);

  std::vector<VolumeInfo> Discover() override;
  bool Enumerate(size_t index, const ScanSink& sink) override;
  void Stop() override;
  void SetFolderHook(FolderHook hook) override;

  // The raw volume behind discovery index `index`, or null (a volume of the
  // wrapped source, or one that could not be opened).
  const qvNtfsVolume* RawVolume(size_t index) const;
  const UsnJournalInfo* Journal(size_t index) const;

  // Brings the volumes of a loaded index up to date from their journals:
  // each record since the saved next USN goes through the apply step. Call
  // before the index is handed out, with its lock held or no other thread.
  void CatchUp(qvIndex& index);

 private:
  struct Opened {
    Raw raw;
    std::unique_ptr<qvNtfsVolume> volume;  // null when it could not be opened
    UsnJournalInfo journal;
    bool journalTrusted = false;
  };

  std::unique_ptr<qvVolumeSource> inner_;
  size_t innerCount_ = 0;
  std::vector<Opened> opened_;
  std::atomic<bool> stop_{false};
};

// The default source when roots name files or devices (NTFS images and
// devices read raw); folders among the roots go to the source that
// `makeFolderSource` makes. Null when no root names a file or a device.
using FolderSourceMaker = std::function<std::unique_ptr<qvVolumeSource>(std::vector<qvString> folders)>;
std::unique_ptr<qvVolumeSource> qvMakeNtfsVolumeSource(const std::vector<qvString>& roots,
                                                       const FolderSourceMaker& makeFolderSource);

// The machine's NTFS partitions that are to be read raw: not mounted, or
// mounted read-only. Device paths under options.devRoot.
std::vector<std::string> FindRawNtfsPartitions(const qvNtfsDiscoveryOptions& options);

// Catches a loaded index up from the journals of its raw NTFS volumes (see
// qvNtfsVolumeSource::CatchUp); nothing for other sources.
void qvNtfsCatchUp(qvIndex& index, qvVolumeSource* source);
