#include "qvNtfsVolumeState.h"

#include <cstring>

using namespace qvNtfs;

NtfsVolumeState ReadNtfsVolumeState(const qvNtfsVolume& volume) {
  NtfsVolumeState state;
  if (volume.IsMftExtract()) return state;
  std::vector<uint8_t> buffer;
  NtfsRecord r;
  if (volume.ReadRecord(kRecordVolume, &buffer, &r)) {
    NtfsAttributeWalk walk({buffer.data(), buffer.size()});
    NtfsAttribute a;
    while (walk.Next(&a))
      if (a.type == kAttrVolumeInformation && !a.nonResident && a.value.size >= 12)
        state.dirty = a.value.U16(0x0A) & kVolumeDirty;
  }
  if (volume.ReadRecord(kRecordLogFile, &buffer, &r)) {
    NtfsAttributeWalk walk({buffer.data(), buffer.size()});
    NtfsAttribute a;
    while (walk.Next(&a)) {
      if (a.type != kAttrData || a.name.size != 0 || !a.nonResident || a.firstVcn != 0) continue;
      std::vector<NtfsRun> runs;
      uint8_t page[8] = {};
      if (DecodeRunList(a.mappingPairs, 0, volume.VolumeClusters(), &runs) &&
          volume.ReadRunData(runs, a.initializedSize, 0, sizeof page, page))
        state.logFileEmpty = std::memcmp(page, "RSTR", 4) != 0 && std::memcmp(page, "CHKD", 4) != 0;
      break;
    }
  }
  return state;
}
