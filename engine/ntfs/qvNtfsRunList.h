// Run lists: where the clusters of a non-resident attribute lie.
#pragma once

#include <cstdint>
#include <vector>

#include "qvNtfsFormat.h"

struct NtfsRun {
  static constexpr int64_t kSparse = -1;
  uint64_t vcn;     // first cluster of the run within the attribute
  int64_t lcn;      // first cluster on the volume, or kSparse
  uint64_t length;  // clusters
};

// Decodes mapping pairs that start at cluster `firstVcn` of the attribute
// and appends their runs. Runs that would point past `volumeClusters` (when
// not 0) or overflow make the whole list invalid: false, nothing appended.
bool DecodeRunList(qvNtfs::Bytes pairs, uint64_t firstVcn, uint64_t volumeClusters, std::vector<NtfsRun>* runs);
