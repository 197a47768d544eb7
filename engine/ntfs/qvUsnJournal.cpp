#include "qvUsnJournal.h"

#include <algorithm>
#include <cstring>

using namespace qvNtfs;

namespace {

// $UsnJrnl is made early in a volume's life; looking further than this for
// it would mean reading most of a large table.
constexpr uint64_t kJournalSearchRecords = 1u << 16;
constexpr size_t kSearchChunkRecords = 1024;
constexpr size_t kReadChunk = 1u << 20;
constexpr size_t kMaxAttributeList = 1u << 20;

bool NameIs(const NtfsName& n, const char* ascii) {
  size_t len = std::strlen(ascii);
  if (n.units.size != 2 * len) return false;
  for (size_t i = 0; i < len; ++i)
    if (Le16(n.units.data + 2 * i) != static_cast<unsigned char>(ascii[i])) return false;
  return true;
}

bool FindJournalRecord(const qvNtfsVolume& volume, uint64_t* number) {
  const size_t size = volume.RecordSize();
  uint64_t end = std::min<uint64_t>(volume.RecordCount(), kJournalSearchRecords);
  std::vector<uint8_t> chunk(kSearchChunkRecords * size);
  NtfsRecord r;
  for (uint64_t first = kFirstUserRecord; first < end; first += kSearchChunkRecords) {
    size_t count = static_cast<size_t>(std::min<uint64_t>(kSearchChunkRecords, end - first));
    if (!volume.ReadRecords(first, count, chunk.data())) return false;
    for (size_t i = 0; i < count; ++i) {
      uint8_t* rec = chunk.data() + i * size;
      if (volume.FixRecord(rec) != NtfsFixup::kOk || !ParseNtfsRecord({rec, size}, &r)) continue;
      if (!r.InUse() || r.baseRef != 0) continue;
      for (const NtfsName& n : r.names)
        if (RecordNumber(n.parentRef) == kRecordExtend && NameIs(n, "$UsnJrnl")) {
          *number = first + i;
          return true;
        }
    }
  }
  return false;
}

struct Extent {
  uint64_t firstVcn;
  std::vector<NtfsRun> runs;
};

// Takes $Max and the $J extents found in one record.
void TakeStreams(const qvNtfsVolume& volume, Bytes record, UsnJournalInfo* info, bool* haveMax,
                 std::vector<Extent>* extents) {
  NtfsAttributeWalk walk(record);
  NtfsAttribute a;
  while (walk.Next(&a)) {
    if (a.type != kAttrData) continue;
    if (a.NameIs("$Max") && !a.nonResident && a.value.size >= 32) {
      info->maximumSize = a.value.U64(0);
      info->journalId = a.value.U64(16);
      info->lowestValidUsn = static_cast<int64_t>(a.value.U64(24));
      *haveMax = true;
    } else if (a.NameIs("$J") && a.nonResident) {
      Extent e{a.firstVcn, {}};
      if (!DecodeRunList(a.mappingPairs, a.firstVcn, volume.VolumeClusters(), &e.runs)) continue;
      if (a.firstVcn == 0) {
        info->nextUsn = static_cast<int64_t>(a.realSize);
        info->initializedSize = a.initializedSize;
      }
      extents->push_back(std::move(e));
    }
  }
}

}  // namespace

bool FindUsnJournal(const qvNtfsVolume& volume, UsnJournalInfo* info) {
  *info = UsnJournalInfo();
  if (volume.IsMftExtract()) return false;
  uint64_t number;
  if (!FindJournalRecord(volume, &number)) return false;
  std::vector<uint8_t> buffer;
  NtfsRecord base;
  if (!volume.ReadRecord(number, &buffer, &base)) return false;
  bool haveMax = false;
  std::vector<Extent> extents;
  TakeStreams(volume, {buffer.data(), buffer.size()}, info, &haveMax, &extents);
  // A long $J run list continues in extension records.
  if (base.hasAttributeList) {
    std::vector<uint8_t> list;
    const NtfsAttribute& la = base.attributeList;
    if (!la.nonResident) {
      list.assign(la.value.data, la.value.data + la.value.size);
    } else if (la.realSize <= kMaxAttributeList) {
      std::vector<NtfsRun> runs;
      if (DecodeRunList(la.mappingPairs, 0, volume.VolumeClusters(), &runs)) {
        list.resize(la.realSize);
        if (!volume.ReadRunData(runs, la.initializedSize, 0, list.size(), list.data())) list.clear();
      }
    }
    Bytes entries{list.data(), list.size()};
    std::vector<uint64_t> seen;
    std::vector<uint8_t> extBuffer;
    NtfsRecord ext;
    for (size_t pos = 0; entries.Has(pos, 0x1A);) {
      uint16_t length = entries.U16(pos + 4);
      if (length < 0x1A) break;
      uint64_t ref = RecordNumber(entries.U64(pos + 0x10));
      bool isData = entries.U32(pos) == kAttrData;
      pos += length;
      if (!isData || ref == number || std::find(seen.begin(), seen.end(), ref) != seen.end()) continue;
      seen.push_back(ref);
      if (!volume.ReadRecord(ref, &extBuffer, &ext) || RecordNumber(ext.baseRef) != number) continue;
      TakeStreams(volume, {extBuffer.data(), extBuffer.size()}, info, &haveMax, &extents);
    }
  }
  if (!haveMax || extents.empty()) return false;
  std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.firstVcn < b.firstVcn; });
  uint64_t expected = 0;
  for (const Extent& e : extents) {
    if (e.firstVcn != expected) return false;  // a gap or an overlap: not a run list to trust
    info->runs.insert(info->runs.end(), e.runs.begin(), e.runs.end());
    if (!e.runs.empty()) expected = e.runs.back().vcn + e.runs.back().length;
  }
  info->record = number;
  info->present = info->nextUsn >= 0 && info->lowestValidUsn >= 0;
  return info->present;
}

bool ReadUsnJournal(const qvNtfsVolume& volume, const UsnJournalInfo& info, int64_t fromUsn,
                    const std::function<void(const UsnRecord&)>& visit, UsnWalkStats* stats) {
  UsnWalkStats total;
  const uint64_t cluster = volume.Boot().bytesPerCluster;
  const uint64_t end = static_cast<uint64_t>(info.nextUsn);
  uint64_t offset = static_cast<uint64_t>(std::max<int64_t>(fromUsn, info.lowestValidUsn)) & ~7ull;
  std::vector<uint8_t> chunk(kReadChunk);
  bool ok = true;
  size_t run = 0;
  // Allocated parts of $J lie on the volume: more than the volume holds
  // is a run list that repeats itself.
  uint64_t budget = volume.VolumeClusters() * cluster;
  while (offset < end && budget > 0) {
    // The sparse part is skipped, not read as zeros.
    while (run < info.runs.size() && (info.runs[run].vcn + info.runs[run].length) * cluster <= offset) ++run;
    if (run == info.runs.size()) break;
    const NtfsRun& r = info.runs[run];
    if (r.lcn == NtfsRun::kSparse) {
      offset = (r.vcn + r.length) * cluster;
      continue;
    }
    size_t size = static_cast<size_t>(std::min<uint64_t>(kReadChunk, end - offset));
    if (size < 8) break;  // too short for any record
    if (!volume.ReadRunData(info.runs, info.initializedSize, offset, size, chunk.data())) {
      ok = false;
      break;
    }
    // Records never cross the end of a chunk that is not the stream's end:
    // one cut there is read again at the start of the next chunk.
    size_t pos = 0;
    bool last = offset + size >= end;
    while (pos + 8 <= size) {
      uint32_t length = Le32(chunk.data() + pos);
      if (!last && length != 0 && length % 8 == 0 && length <= (64u << 10) && pos + length > size && pos > 0) break;
      size_t limit = pos + (length % 8 == 0 && length != 0 && pos + length <= size ? length : 8);
      if (length == 0 || length % 8 != 0 || pos + length > size) limit = pos + 8;
      UsnWalkStats s = WalkUsnRecords(chunk.data() + pos, limit - pos, visit);
      total.records += s.records;
      total.skippedV4 += s.skippedV4;
      total.damaged += s.damaged;
      pos = limit;
    }
    offset += pos;
    budget -= std::min<uint64_t>(budget, pos);
  }
  if (stats) *stats = total;
  return ok;
}
