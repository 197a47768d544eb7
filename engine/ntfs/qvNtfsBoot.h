// The NTFS boot sector: the geometry every other read depends on.
#pragma once

#include <cstddef>
#include <cstdint>

struct NtfsBoot {
  uint32_t bytesPerSector = 0;
  uint32_t bytesPerCluster = 0;
  uint64_t totalSectors = 0;
  uint64_t mftCluster = 0;
  uint64_t mftMirrorCluster = 0;
  uint32_t bytesPerRecord = 0;  // one file record segment
  uint64_t serialNumber = 0;

  uint64_t VolumeBytes() const { return totalSectors * bytesPerSector; }
};

// Reads a boot sector of at least 512 bytes. False when it is not NTFS or
// its geometry is out of the ranges NTFS uses.
bool ParseNtfsBoot(const uint8_t* sector, size_t size, NtfsBoot* boot);
