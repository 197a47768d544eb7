// Synthetic entry streams with a realistic name mix, for benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "qvStreamVolumeSource.h"

// `count` entries of one volume: about 10% folders in a tree of varying
// depth, names from ASCII words, numbers, dots and some CJK, files with
// common extensions. The same seed gives the same stream.
std::vector<qvStreamVolumeSource::Entry> MakeSyntheticEntries(size_t count, uint32_t seed);

// Packed-name bytes the stream would occupy, for floors and ratios.
size_t SyntheticNameUnits(const std::vector<qvStreamVolumeSource::Entry>& entries);
