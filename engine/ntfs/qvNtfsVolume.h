// An NTFS volume opened read-only for raw reads: a block device, a disk
// image (at a given offset or at the first NTFS partition its table names),
// or a $MFT extract. Knows where every file record lies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvNtfsBoot.h"
#include "qvNtfsRecord.h"
#include "qvNtfsRunList.h"

class qvNtfsVolume {
 public:
  static constexpr int64_t kFindPartition = -1;

  qvNtfsVolume() = default;
  ~qvNtfsVolume();
  qvNtfsVolume(const qvNtfsVolume&) = delete;
  qvNtfsVolume& operator=(const qvNtfsVolume&) = delete;

  // Opens `path` read-only. `offset` is the file system's byte offset, or
  // kFindPartition. On failure `why` says what was wrong and `error` holds
  // the system error code, or 0 when the data was not NTFS.
  bool Open(const std::string& path, int64_t offset, std::string* why, int* error = nullptr);

  bool IsMftExtract() const { return extract_; }
  const NtfsBoot& Boot() const { return boot_; }
  uint64_t Offset() const { return base_; }
  uint32_t RecordSize() const { return recordSize_; }
  uint64_t RecordCount() const { return recordCount_; }
  const std::vector<NtfsRun>& MftRuns() const { return mftRuns_; }

  // Reads `count` consecutive records from `first` as stored (not fixed
  // up). Records in sparse runs read as zeros. False on a read error.
  bool ReadRecords(uint64_t first, size_t count, uint8_t* out) const;
  // Checks and fixes up one record read by ReadRecords.
  NtfsFixup FixRecord(uint8_t* record) const;
  // Reads, fixes up and parses one record. `buffer` keeps the bytes the
  // parse points into.
  bool ReadRecord(uint64_t number, std::vector<uint8_t>* buffer, NtfsRecord* record) const;

  // Reads `size` bytes at `offset` of the data the runs describe; sparse
  // parts and anything at or past `validSize` read as zeros.
  bool ReadRunData(const std::vector<NtfsRun>& runs, uint64_t validSize, uint64_t offset, size_t size,
                   uint8_t* out) const;
  // Reads bytes of the volume.
  bool ReadAt(uint64_t offset, size_t size, uint8_t* out) const;
  // Clusters that can be read: what the boot sector claims, at most what
  // the device or image holds.
  uint64_t VolumeClusters() const;

 private:
  bool OpenMft(std::string* why);
  bool OpenExtract(std::string* why);
  bool AddMftExtensionRuns(const NtfsRecord& mft, std::string* why);

  int fd_ = -1;
  uint64_t fileSize_ = 0;
  uint64_t base_ = 0;
  bool extract_ = false;
  bool prefixed_ = false;  // an extract whose records were already fixed up
  NtfsBoot boot_;
  uint32_t recordSize_ = 0;
  uint64_t recordCount_ = 0;
  std::vector<NtfsRun> mftRuns_;
};
