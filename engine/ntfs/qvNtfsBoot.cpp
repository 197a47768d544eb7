#include "qvNtfsBoot.h"

#include <cstring>

#include "qvNtfsFormat.h"

namespace {

bool PowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Sizes given in clusters, or as 2^-v bytes when the signed byte is
// negative (the form for record sizes below one cluster).
bool ClustersOrShift(int8_t v, uint32_t bytesPerCluster, uint32_t* bytes) {
  if (v > 0) {
    uint64_t b = static_cast<uint64_t>(v) * bytesPerCluster;
    if (b > (1u << 16)) return false;
    *bytes = static_cast<uint32_t>(b);
  } else {
    int shift = -static_cast<int>(v);
    if (shift < 9 || shift > 16) return false;
    *bytes = 1u << shift;
  }
  return true;
}

}  // namespace

bool ParseNtfsBoot(const uint8_t* s, size_t size, NtfsBoot* boot) {
  using namespace qvNtfs;
  if (size < 512 || std::memcmp(s + 3, "NTFS    ", 8) != 0) return false;
  if (s[510] != 0x55 || s[511] != 0xAA) return false;
  NtfsBoot b;
  b.bytesPerSector = Le16(s + 0x0B);
  if (!PowerOfTwo(b.bytesPerSector) || b.bytesPerSector < 256 || b.bytesPerSector > 4096) return false;
  // Up to 128 sectors the byte is the count; above, 2^(256-v) (large clusters).
  uint8_t spc = s[0x0D];
  uint64_t sectorsPerCluster;
  if (spc <= 0x80) {
    sectorsPerCluster = spc;
  } else {
    unsigned shift = 256u - spc;
    if (shift > 12) return false;
    sectorsPerCluster = 1ull << shift;
  }
  if (!PowerOfTwo(sectorsPerCluster)) return false;
  uint64_t cluster = sectorsPerCluster * b.bytesPerSector;
  if (cluster > (2u << 20)) return false;
  b.bytesPerCluster = static_cast<uint32_t>(cluster);
  b.totalSectors = Le64(s + 0x28);
  b.mftCluster = Le64(s + 0x30);
  b.mftMirrorCluster = Le64(s + 0x38);
  if (!ClustersOrShift(static_cast<int8_t>(s[0x40]), b.bytesPerCluster, &b.bytesPerRecord)) return false;
  if (!PowerOfTwo(b.bytesPerRecord) || b.bytesPerRecord < 512 || b.bytesPerRecord > 65536) return false;
  b.serialNumber = Le64(s + 0x48);
  uint64_t clusters = b.totalSectors / sectorsPerCluster;
  if (b.totalSectors == 0 || b.mftCluster >= clusters) return false;
  *boot = b;
  return true;
}
