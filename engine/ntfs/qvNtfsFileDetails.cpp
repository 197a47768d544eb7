#include "qvNtfsFileDetails.h"

using namespace qvNtfs;

namespace {

constexpr size_t kMaxAttributeList = 1u << 20;

// Finds the record that holds the first extent of the unnamed $DATA.
bool DataRecordFromList(const qvNtfsVolume& volume, const NtfsAttribute& la, uint64_t* ref) {
  std::vector<uint8_t> list;
  if (!la.nonResident) {
    list.assign(la.value.data, la.value.data + la.value.size);
  } else {
    std::vector<NtfsRun> runs;
    if (la.realSize > kMaxAttributeList || !DecodeRunList(la.mappingPairs, 0, volume.VolumeClusters(), &runs))
      return false;
    list.resize(la.realSize);
    if (!volume.ReadRunData(runs, la.initializedSize, 0, list.size(), list.data())) return false;
  }
  Bytes entries{list.data(), list.size()};
  for (size_t pos = 0; entries.Has(pos, 0x1A);) {
    uint16_t length = entries.U16(pos + 4);
    if (length < 0x1A) return false;
    if (entries.U32(pos) == kAttrData && entries.U8(pos + 6) == 0 && entries.U64(pos + 8) == 0) {
      *ref = entries.U64(pos + 0x10);
      return true;
    }
    pos += length;
  }
  return false;
}

}  // namespace

bool ReadNtfsFileDetails(const qvNtfsVolume& volume, uint64_t recordNumber, NtfsFileDetails* d) {
  std::vector<uint8_t> buffer;
  NtfsRecord r;
  if (recordNumber >= volume.RecordCount() || !volume.ReadRecord(recordNumber, &buffer, &r)) return false;
  if (!r.InUse() || r.baseRef != 0) return false;
  *d = NtfsFileDetails();
  d->creationTime = r.creationTime;
  d->modificationTime = r.modificationTime;
  d->accessTime = r.accessTime;
  d->changeTime = r.changeTime;
  d->isDirectory = r.IsDirectory();
  d->attributes = r.fileAttributes | (d->isDirectory ? 0x10u : 0u);
  if (d->isDirectory) return true;
  if (r.hasData) {
    d->size = r.dataSize;
  } else if (r.hasAttributeList) {
    uint64_t ref;
    std::vector<uint8_t> extBuffer;
    NtfsRecord ext;
    if (DataRecordFromList(volume, r.attributeList, &ref) &&
        volume.ReadRecord(RecordNumber(ref), &extBuffer, &ext) && RecordNumber(ext.baseRef) == recordNumber &&
        ext.hasData)
      d->size = ext.dataSize;
  }
  return true;
}
