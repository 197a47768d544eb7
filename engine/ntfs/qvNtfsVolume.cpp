#include "qvNtfsVolume.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qvNtfsPartitions.h"

using namespace qvNtfs;

namespace {

// More records than this is not a table any volume holds (2^32 records of
// 1 KiB are 4 TiB of table).
constexpr uint64_t kMaxRecords = 1ull << 32;
// An extension of the $MFT's own run list is followed at most this deep.
constexpr int kMaxMftExtensions = 64;

}  // namespace

qvNtfsVolume::~qvNtfsVolume() {
  if (fd_ >= 0) close(fd_);
}

bool qvNtfsVolume::ReadAt(uint64_t offset, size_t size, uint8_t* out) const {
  uint64_t at;
  if (__builtin_add_overflow(base_, offset, &at)) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd_, out + done, size - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

uint64_t qvNtfsVolume::VolumeClusters() const {
  if (extract_ || boot_.bytesPerCluster == 0) return 0;
  uint64_t claimed = boot_.totalSectors * boot_.bytesPerSector / boot_.bytesPerCluster;
  uint64_t held = fileSize_ > base_ ? (fileSize_ - base_) / boot_.bytesPerCluster : 0;
  return std::max<uint64_t>(1, std::min(claimed, held));
}

bool qvNtfsVolume::Open(const std::string& path, int64_t offset, std::string* why, int* error) {
  if (error) *error = 0;
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) {
    if (error) *error = errno;
    *why = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    if (error) *error = errno;
    *why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  fileSize_ = static_cast<uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (ioctl(fd_, BLKGETSIZE64, &bytes) == 0) fileSize_ = bytes;
  }
  uint8_t head[8] = {};
  if (offset == kFindPartition && ReadAt(0, sizeof head, head) && std::memcmp(head, "FILE", 4) == 0)
    return OpenExtract(why);
  if (offset == kFindPartition) {
    std::vector<uint64_t> found =
        FindNtfsPartitions([this](uint64_t at, size_t size, uint8_t* out) { return ReadAt(at, size, out); });
    if (found.empty()) {
      *why = path + " holds no NTFS file system";
      return false;
    }
    base_ = found.front();
  } else {
    base_ = static_cast<uint64_t>(offset);
  }
  uint8_t sector[512];
  if (!ReadAt(0, sizeof sector, sector) || !ParseNtfsBoot(sector, sizeof sector, &boot_)) {
    *why = path + " has no NTFS boot sector at byte " + std::to_string(base_);
    return false;
  }
  return OpenMft(why);
}

bool qvNtfsVolume::OpenExtract(std::string* why) {
  extract_ = true;
  uint8_t header[0x30];
  if (!ReadAt(0, sizeof header, header)) {
    *why = "the $MFT extract is too short";
    return false;
  }
  recordSize_ = Le32(header + 0x1C);  // the record's allocated size
  if (recordSize_ < 512 || recordSize_ > 65536 || (recordSize_ & (recordSize_ - 1))) {
    *why = "the $MFT extract's first record has no valid size";
    return false;
  }
  recordCount_ = fileSize_ / recordSize_;
  mftRuns_.clear();
  // Extraction tools write records as the volume holds them or already
  // fixed up; the first record tells which.
  std::vector<uint8_t> first(recordSize_);
  if (!ReadAt(0, recordSize_, first.data())) return false;
  prefixed_ = ApplyRecordFixups(first.data(), recordSize_) != NtfsFixup::kOk;
  return true;
}

bool qvNtfsVolume::OpenMft(std::string* why) {
  recordSize_ = boot_.bytesPerRecord;
  uint64_t mftOffset;
  if (__builtin_mul_overflow(boot_.mftCluster, boot_.bytesPerCluster, &mftOffset)) return false;
  std::vector<uint8_t> buffer(recordSize_);
  NtfsRecord mft;
  if (!ReadAt(mftOffset, recordSize_, buffer.data()) || FixRecord(buffer.data()) != NtfsFixup::kOk ||
      !ParseNtfsRecord({buffer.data(), buffer.size()}, &mft)) {
    *why = "the $MFT's own record cannot be read";
    return false;
  }
  // The $MFT's unnamed $DATA, first extent.
  NtfsAttributeWalk walk({buffer.data(), buffer.size()});
  NtfsAttribute a;
  uint64_t size = 0;
  bool found = false;
  while (walk.Next(&a)) {
    if (a.type != kAttrData || a.name.size != 0 || !a.nonResident || a.firstVcn != 0) continue;
    if (!DecodeRunList(a.mappingPairs, 0, VolumeClusters(), &mftRuns_)) break;
    size = a.realSize;
    found = true;
    break;
  }
  if (!found) {
    *why = "the $MFT's run list cannot be read";
    return false;
  }
  if (mft.hasAttributeList && !AddMftExtensionRuns(mft, why)) return false;
  recordCount_ = size / recordSize_;
  uint64_t mapped = 0;
  for (const NtfsRun& r : mftRuns_) mapped = r.vcn + r.length;
  uint64_t mappedRecords = mapped * boot_.bytesPerCluster / recordSize_;
  if (recordCount_ > mappedRecords) recordCount_ = mappedRecords;
  if (recordCount_ > kMaxRecords) recordCount_ = kMaxRecords;
  // A table cannot hold more records than the volume has room for.
  uint64_t room = VolumeClusters() * boot_.bytesPerCluster / recordSize_;
  if (recordCount_ > room) recordCount_ = room;
  return true;
}

// A heavily fragmented $MFT keeps the rest of its run list in extension
// records that its attribute list names; those lie in the part already
// mapped.
bool qvNtfsVolume::AddMftExtensionRuns(const NtfsRecord& mft, std::string* why) {
  std::vector<uint8_t> list;
  const NtfsAttribute& la = mft.attributeList;
  if (!la.nonResident) {
    list.assign(la.value.data, la.value.data + la.value.size);
  } else {
    std::vector<NtfsRun> runs;
    if (la.realSize > (1u << 20) || !DecodeRunList(la.mappingPairs, 0, VolumeClusters(), &runs)) return true;
    list.resize(la.realSize);
    if (!ReadRunData(runs, la.initializedSize, 0, list.size(), list.data())) return true;
  }
  Bytes entries{list.data(), list.size()};
  std::vector<uint8_t> buffer;
  int followed = 0;
  for (size_t pos = 0; entries.Has(pos, 0x1A) && followed < kMaxMftExtensions;) {
    uint16_t length = entries.U16(pos + 4);
    if (length < 0x1A) break;
    uint32_t type = entries.U32(pos);
    uint64_t vcn = entries.U64(pos + 8);
    uint64_t ref = RecordNumber(entries.U64(pos + 0x10));
    bool unnamed = entries.U8(pos + 6) == 0;
    pos += length;
    if (type != kAttrData || !unnamed || vcn == 0 || ref == kRecordMft) continue;
    ++followed;
    uint64_t mapped = mftRuns_.empty() ? 0 : mftRuns_.back().vcn + mftRuns_.back().length;
    if (ref * recordSize_ >= mapped * boot_.bytesPerCluster) continue;
    recordCount_ = ref + 1;  // lets ReadRecord reach it
    NtfsRecord ext;
    if (!ReadRecord(ref, &buffer, &ext)) continue;
    NtfsAttributeWalk walk({buffer.data(), buffer.size()});
    NtfsAttribute a;
    while (walk.Next(&a)) {
      if (a.type != kAttrData || a.name.size != 0 || !a.nonResident || a.firstVcn != mapped) continue;
      if (!DecodeRunList(a.mappingPairs, a.firstVcn, VolumeClusters(), &mftRuns_)) {
        *why = "the $MFT's run list cannot be read";
        return false;
      }
      break;
    }
  }
  return true;
}

NtfsFixup qvNtfsVolume::FixRecord(uint8_t* record) const {
  if (prefixed_) return std::memcmp(record, "FILE", 4) == 0 ? NtfsFixup::kOk : NtfsFixup::kNotARecord;
  return ApplyRecordFixups(record, recordSize_);
}

bool qvNtfsVolume::ReadRecords(uint64_t first, size_t count, uint8_t* out) const {
  if (first > recordCount_ || count > recordCount_ - first) return false;
  uint64_t offset = first * recordSize_;
  size_t bytes = count * recordSize_;
  if (extract_) return ReadAt(offset, bytes, out);
  return ReadRunData(mftRuns_, ~0ull, offset, bytes, out);
}

bool qvNtfsVolume::ReadRecord(uint64_t number, std::vector<uint8_t>* buffer, NtfsRecord* record) const {
  buffer->resize(recordSize_);
  if (!ReadRecords(number, 1, buffer->data())) return false;
  if (FixRecord(buffer->data()) != NtfsFixup::kOk) return false;
  return ParseNtfsRecord({buffer->data(), buffer->size()}, record);
}

bool qvNtfsVolume::ReadRunData(const std::vector<NtfsRun>& runs, uint64_t validSize, uint64_t offset, size_t size,
                               uint8_t* out) const {
  const uint64_t cluster = extract_ ? 0 : boot_.bytesPerCluster;
  if (cluster == 0) return false;
  uint64_t end;
  if (__builtin_add_overflow(offset, size, &end)) return false;
  // Runs are in ascending VCN order; find the first that reaches `offset`.
  size_t lo = 0, hi = runs.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if ((runs[mid].vcn + runs[mid].length) * cluster <= offset) lo = mid + 1;
    else hi = mid;
  }
  uint64_t covered = offset;
  for (size_t i = lo; i < runs.size() && covered < end; ++i) {
    const NtfsRun& r = runs[i];
    uint64_t runStart = r.vcn * cluster;
    uint64_t runEnd = (r.vcn + r.length) * cluster;
    if (runEnd <= covered) continue;
    if (runStart > covered) return false;  // a hole in the run list
    uint64_t from = covered;
    uint64_t to = runEnd < end ? runEnd : end;
    if (validSize < to) to = validSize > from ? validSize : from;
    if (r.lcn != NtfsRun::kSparse && to > from) {
      uint64_t disk = static_cast<uint64_t>(r.lcn) * cluster + (from - runStart);
      if (!ReadAt(disk, to - from, out + (from - offset))) return false;
    } else {
      to = from;
    }
    // Sparse clusters and those past the valid size read as zeros.
    uint64_t runCovered = runEnd < end ? runEnd : end;
    std::memset(out + (to - offset), 0, runCovered - to);
    covered = runCovered;
  }
  if (covered < end && validSize > covered) return false;
  std::memset(out + (covered - offset), 0, end - covered);
  return true;
}
