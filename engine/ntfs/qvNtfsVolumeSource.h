// The volume source for NTFS volumes read raw: disk images and devices
// named as roots (`disk.img`, `disk.img@offset`, `/dev/sdb2`), and the
// machine's own NTFS partitions that are not mounted or mounted read-only.
// Their entries come from the master file table; every other volume comes
// from the source it wraps.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qvNtfsMachinePartitions.h"
#include "qvNtfsVolume.h"
#include "qvUsnJournal.h"
#include "qvVolumeSource.h"

class qvIndex;

// A root that names a file or a device rather than a folder: its path and
// the byte offset after '@', or kFindPartition.
bool ParseNtfsRoot(const std::string& root, std::string* path, int64_t* offset);

// Makes the source that walks `folders` (the platform's).
using FolderSourceMaker = std::function<std::unique_ptr<qvVolumeSource>(std::vector<qvString> folders)>;

class qvNtfsVolumeSource : public qvVolumeSource {
 public:
  struct Raw {
    std::string root;  // as named, without a final '/'
    std::string path;
    int64_t offset = qvNtfsVolume::kFindPartition;
    // A partition of the machine (not named by the user): when it cannot
    // be opened that is said once, and its read-only mount, if any, is
    // walked instead; one with no mount is left out.
    bool machine = false;
    std::string mountPoint;  // mounted read-only at discovery
  };

  // `makeFolderSource` walks the mounts of machine partitions that cannot
  // be opened; may be null.
  qvNtfsVolumeSource(std::unique_ptr<qvVolumeSource> inner, std::vector<Raw> raw,
                     FolderSourceMaker makeFolderSource = nullptr);

  std::vector<VolumeInfo> Discover() override;
  bool Enumerate(size_t index, const ScanSink& sink) override;
  void Stop() override;
  void SetFolderHook(FolderHook hook) override;
  bool SetExclusions(std::shared_ptr<const qvExclusions> rules) override;

  // The raw volume behind discovery index `index`, or null (a walked
  // volume, one that could not be opened, or one handed to its mount).
  const qvNtfsVolume* RawVolume(size_t index) const;
  const UsnJournalInfo* Journal(size_t index) const;
  // Whether any volume is still read raw.
  bool HasRawVolumes() const;

  // A raw volume whose device or image is now mounted where it was not at
  // discovery, or is mounted read-write: from then on it is to be walked
  // through `mountPoint` and followed live.
  struct Mounted {
    size_t index;
    std::string mountPoint;  // without a final '/'
  };
  std::vector<Mounted> NewlyMounted(const std::string& mountInfo, const std::string& sysfsRoot = "/sys") const;
  // Volume `index` is walked through its mount from now on: it is no
  // longer read raw, and its item details no longer come from its records.
  void HandOver(size_t index);

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
    std::unique_ptr<qvVolumeSource> walked;  // its mount, when the device could not be opened
    bool reported = false;
    std::atomic<bool> handedOver{false};
  };
  // What a discovery index stands for.
  struct Part {
    enum Kind { kInner, kRaw, kWalked } kind;
    size_t at;  // index into the inner source's volumes, or into opened_
  };
  // Opens one raw volume; false when it is to be left out of the list.
  bool OpenRaw(Opened& o, VolumeInfo* v);
  void HookWalked(size_t part);

  std::unique_ptr<qvVolumeSource> inner_;
  FolderSourceMaker makeFolderSource_;
  std::vector<std::unique_ptr<Opened>> opened_;
  std::vector<Part> parts_;
  std::vector<size_t> partOfInner_;  // inner index -> discovery index, or SIZE_MAX
  FolderHook hook_;
  std::shared_ptr<const qvExclusions> exclusions_;
  std::atomic<bool> stop_{false};
};

// The default source when roots name files or devices (NTFS images and
// devices read raw); folders among the roots go to the source that
// `makeFolderSource` makes. Null when no root names a file or a device.
std::unique_ptr<qvVolumeSource> qvMakeNtfsVolumeSource(const std::vector<qvString>& roots,
                                                       const FolderSourceMaker& makeFolderSource);

// The machine-wide source: `machine` (the walked file systems) with the
// machine's NTFS partitions that are read raw beside it. `machine` itself
// when there are none.
std::unique_ptr<qvVolumeSource> qvMakeMachineNtfsVolumeSource(std::unique_ptr<qvVolumeSource> machine,
                                                              const FolderSourceMaker& makeFolderSource,
                                                              const qvNtfsDiscoveryOptions& options = {});

// Catches a loaded index up from the journals of its raw NTFS volumes (see
// qvNtfsVolumeSource::CatchUp); nothing for other sources.
void qvNtfsCatchUp(qvIndex& index, qvVolumeSource* source);

// For the live monitor, over any source (false or nothing for others):
// whether volume `index` is read raw (no monitor follows it), and the raw
// volumes a mount has just taken over, each handed over as it is answered.
bool qvNtfsIsRawVolume(qvVolumeSource* source, size_t index);
bool qvNtfsHasRawVolumes(qvVolumeSource* source);
std::vector<qvNtfsVolumeSource::Mounted> qvNtfsTakeMountedVolumes(qvVolumeSource* source,
                                                                  const std::string& mountInfo);
