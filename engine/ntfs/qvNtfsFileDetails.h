// The details of one file read from its file record by number: the three
// times and the attributes from $STANDARD_INFORMATION, the size from the
// unnamed $DATA (resident value length, or the real size of the extent
// starting at cluster 0, in an extension record when the attribute list
// puts it there).
#pragma once

#include <cstdint>

#include "qvNtfsVolume.h"

struct NtfsFileDetails {
  uint64_t creationTime = 0;  // FILETIME
  uint64_t modificationTime = 0;
  uint64_t accessTime = 0;
  uint64_t changeTime = 0;
  uint32_t attributes = 0;
  uint64_t size = 0;
  bool isDirectory = false;
};

// False when the record is not in use, torn or damaged.
bool ReadNtfsFileDetails(const qvNtfsVolume& volume, uint64_t recordNumber, NtfsFileDetails* details);
